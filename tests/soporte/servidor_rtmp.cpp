#include "soporte/servidor_rtmp.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tt::prueba {

bool ServidorRtmp::hay() { return fs::exists("/usr/lib/nginx/modules/ngx_rtmp_module.so"); }

ServidorRtmp::ServidorRtmp(int puerto_) : puerto(puerto_) {
    fs::create_directories(carpeta / "logs");
    fs::create_directories(carpeta / "grabado");
    // nginx's workers may run as another user: let them write the recording.
    fs::permissions(carpeta.ruta(), fs::perms::all);
    fs::permissions(carpeta / "grabado", fs::perms::all);
    escribir(carpeta / "nginx.conf",
             "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\npid " + (carpeta / "nginx.pid").string() +
                 ";\nerror_log " + (carpeta / "logs/error.log").string() +
                 ";\nevents {}\nrtmp { server { listen 127.0.0.1:" + std::to_string(puerto) +
                 "; application live { live on; record all; record_path " + (carpeta / "grabado").string() +
                 "; } } }\n");
    pid = fork();
    if (pid == 0) {
        execl("/usr/sbin/nginx", "nginx", "-p", carpeta.ruta().c_str(), "-c", (carpeta / "nginx.conf").c_str(), "-g",
              "daemon off;", nullptr);
        _exit(127);
    }
    escuchaEn(puerto);
}

ServidorRtmp::~ServidorRtmp() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

}  // namespace tt::prueba
