// The built relay stand-in beside the benchmark, as a child on a free loopback port; its key
// travels in the environment, never on the command line. Stopped by its PID with SIGTERM.
#pragma once

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

struct RelayBanco {
    pid_t pid = -1;
    std::string entrada;  // HOST:PORT once it listens; empty when it did not start

    explicit RelayBanco(const std::string& clave) {
        const auto relay = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tremolante-relay";
        std::string variable = "TM_RELAY_CLAVE=" + clave;
        int tubo[2];
        if (pipe(tubo) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(tubo[1], 1);
            close(tubo[0]);
            char* ev[] = {variable.data(), nullptr};
            execle(relay.c_str(), relay.c_str(), "--escuchar", "127.0.0.1:0", "--destinos-locales",
                   static_cast<char*>(nullptr), ev);
            _exit(127);
        }
        close(tubo[1]);
        std::string linea;
        char c;
        while (read(tubo[0], &c, 1) == 1 && c != '\n') linea.push_back(c);
        close(tubo[0]);
        if (linea.rfind("escuchando en ", 0) == 0) entrada = linea.substr(14);
    }
    ~RelayBanco() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        int estado = 0;
        waitpid(pid, &estado, 0);
        if (!WIFEXITED(estado) || WEXITSTATUS(estado) != 0)
            std::fprintf(stderr, "el relay no terminó limpio tras SIGTERM (estado %d)\n", estado);
    }
    RelayBanco(const RelayBanco&) = delete;
    RelayBanco& operator=(const RelayBanco&) = delete;
};
