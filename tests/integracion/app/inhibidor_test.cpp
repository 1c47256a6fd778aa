// The idle-suspend block against a private message bus (its own dbus-daemon, stopped by its PID)
// with a small logind stand-in that hands out a pipe per block, as logind does.
#include "app/inhibidor.h"

#include "soporte/soporte.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace tt;
using prueba::esperar;

namespace {

class LogindFalso : public QDBusVirtualObject {
public:
    std::vector<QStringList> pedidos;
    std::vector<int> lecturas;  // our end of each block's pipe

    ~LogindFalso() override {
        for (int fd : lecturas) ::close(fd);
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        if (m.member() != "Inhibit") return false;
        QStringList a;
        for (const QVariant& v : m.arguments()) a << v.toString();
        pedidos.push_back(a);
        int tubo[2];
        if (::pipe2(tubo, O_CLOEXEC) != 0) return false;
        lecturas.push_back(tubo[0]);
        bus.send(m.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(tubo[1]))));  // it keeps a copy
        ::close(tubo[1]);
        return true;
    }
};

// Every copy of the block's descriptor is closed.
bool suelto(int fd) {
    pollfd p{fd, POLLIN, 0};
    char c;
    return ::poll(&p, 1, 0) == 1 && ::read(fd, &c, 1) == 0;
}

}  // namespace

// On air the block is asked for as "idle:sleep" and held; at the stop it is let go; one released
// before its answer came is let go as soon as it comes.
TEST(Inhibidor, alAireSeSostieneYAlPararSeSuelta) {
    prueba::CarpetaTemporal d;
    const std::string socket = (d / "bus").string();
    const std::string direccionArg = "--address=unix:path=" + socket;
    const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--nopidfile", direccionArg.c_str(), nullptr};
    posix_spawn_file_actions_t acciones;
    posix_spawn_file_actions_init(&acciones);
    posix_spawn_file_actions_addopen(&acciones, 0, "/dev/null", O_RDONLY, 0);
    const std::string registro = (d / "bus.log").string();
    posix_spawn_file_actions_addopen(&acciones, 1, registro.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&acciones, 1, 2);
    pid_t pid = -1;
    const int lanzado = ::posix_spawnp(&pid, "dbus-daemon", &acciones, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&acciones);
    ASSERT_EQ(lanzado, 0);
    struct Demonio {  // killed if the test ends early; else stopped below and checked
        pid_t pid;
        bool parado = false;
        ~Demonio() {
            if (parado) return;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } demonio{pid};
    ASSERT_TRUE(esperar([&] { return std::filesystem::exists(socket); }, 10)) << prueba::leer(registro);
    const QString direccion = QString::fromStdString("unix:path=" + socket);
    // Both connections are closed whatever happens (libdbus aborts otherwise).
    struct Cerrar {
        ~Cerrar() {
            QDBusConnection::disconnectFromBus("logind-falso");
            QDBusConnection::disconnectFromBus("cliente");
        }
    } cerrar;
    {
        LogindFalso logind;
        QDBusConnection bus = QDBusConnection::connectToBus(direccion, "logind-falso");
        ASSERT_TRUE(bus.isConnected());
        ASSERT_TRUE(bus.registerService("org.freedesktop.login1"));
        ASSERT_TRUE(bus.registerVirtualObject("/org/freedesktop/login1", &logind));

        // The application's side as system and session bus alike.
        QDBusConnection cliente = QDBusConnection::connectToBus(direccion, "cliente");
        Inhibidor inhibidor(cliente, cliente);
        inhibidor.sostener(true);
        ASSERT_TRUE(esperar([&] { return inhibidor.sostenido(); }, 10));
        ASSERT_EQ(logind.pedidos.size(), 1u);
        EXPECT_EQ(logind.pedidos[0], QStringList({"idle:sleep", "Tremolante Transmitir", "Transmitiendo en vivo", "block"}));
        EXPECT_FALSE(suelto(logind.lecturas[0]));
        inhibidor.sostener(false);
        EXPECT_FALSE(inhibidor.sostenido());
        EXPECT_TRUE(esperar([&] { return suelto(logind.lecturas[0]); }, 10));

        inhibidor.sostener(true);
        inhibidor.sostener(false);  // before the answer
        ASSERT_TRUE(esperar([&] { return logind.lecturas.size() == 2 && suelto(logind.lecturas[1]); }, 10));
        EXPECT_FALSE(inhibidor.sostenido());
        bus.unregisterObject("/org/freedesktop/login1");
    }
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int estado = 0;
    ASSERT_EQ(::waitpid(pid, &estado, 0), pid);
    demonio.parado = true;
    EXPECT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 0) << estado << " " << prueba::leer(registro);
}
