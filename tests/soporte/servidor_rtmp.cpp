#include "soporte/servidor_rtmp.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tt::prueba {

bool ServidorRtmp::hay() { return fs::exists("/usr/lib/nginx/modules/ngx_rtmp_module.so"); }

ServidorRtmp::ServidorRtmp(int puerto_, bool rechazar) : puerto(puerto_) {
    fs::create_directories(carpeta / "logs");
    fs::create_directories(carpeta / "grabado");
    // nginx's workers may run as another user: let them write the recording.
    fs::permissions(carpeta.ruta(), fs::perms::all);
    fs::permissions(carpeta / "grabado", fs::perms::all);
    const std::string permiso = std::to_string(rechazar ? puertoLibre() : 0);
    escribir(carpeta / "nginx.conf",
             "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\npid " + (carpeta / "nginx.pid").string() +
                 ";\nerror_log " + (carpeta / "logs/error.log").string() +
                 ";\nevents {}\nrtmp { server { listen 127.0.0.1:" + std::to_string(puerto) +
                 "; application live { live on; record all; record_path " + (carpeta / "grabado").string() + ";" +
                 (rechazar ? " on_publish http://127.0.0.1:" + permiso + "/permiso;" : "") + " } } }\n" +
                 (rechazar ? "http { access_log off; server { listen 127.0.0.1:" + permiso +
                                 "; location / { return 403; } } }\n"
                           : ""));
    arrancar();
}

pid_t arrancarNginx(const fs::path& carpeta) {
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/usr/sbin/nginx", "nginx", "-p", carpeta.c_str(), "-c", (carpeta / "nginx.conf").c_str(), "-g",
              "daemon off;", nullptr);
        _exit(127);
    }
    return pid;
}

int pararNginx(pid_t& pid) {
    if (pid <= 0) return -1;
    kill(pid, SIGTERM);
    int estado = 0;
    waitpid(pid, &estado, 0);
    pid = -1;
    return WIFEXITED(estado) ? WEXITSTATUS(estado) : 128 + WTERMSIG(estado);
}

void ServidorRtmp::arrancar() {
    pid = arrancarNginx(carpeta.ruta());
    escuchaEn(puerto);
}

int ServidorRtmp::parar() { return pararNginx(pid); }

ServidorRtmp::~ServidorRtmp() { parar(); }

}  // namespace tt::prueba
