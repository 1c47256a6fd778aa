// A real crash leaves one private report; the next start sends it, with the log's end, to the real
// control service once, and never again.
#include "soporte/control_hijo.h"
#include "soporte/soporte.h"

#include "comun/proceso.h"
#include "cuenta/mandar_reportes.h"
#include "cuenta/reportes.h"

#include <QSettings>
#include <QStringList>

#include <gtest/gtest.h>

#include <regex>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

using namespace tt;
using namespace tt::prueba;
namespace fs = std::filesystem;

namespace {

// The helper's way out: the signal that ended it, or 0 when it exited.
int caer(const fs::path& carpeta) {
    std::string programa = std::string(TM_BIN) + "/tremolante-caer";
    std::string destino = carpeta.string();
    char* args[] = {programa.data(), destino.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, programa.c_str(), nullptr, nullptr, args, environ) != 0) return -1;
    int estado = 0;
    if (waitpid(pid, &estado, 0) != pid) return -1;
    return WIFSIGNALED(estado) ? WTERMSIG(estado) : 0;
}

}  // namespace

TEST(Cierre, unInformePorCaidaYSeMandaUnaVez) {
    std::error_code ec;
    fs::remove_all(carpetaInformes(), ec);
    QSettings().remove("reportesMandados");

    ASSERT_EQ(caer(carpetaInformes()), SIGSEGV);
    std::vector<fs::path> informes;
    for (auto& e : fs::directory_iterator(carpetaInformes())) informes.push_back(e.path());
    ASSERT_EQ(informes.size(), 1u);
    const std::string nombre = informes[0].filename().string();
    EXPECT_TRUE(std::regex_match(nombre, std::regex(R"(Tremolante-\d{4}-\d\d-\d\d-\d{6}\.crash)"))) << nombre;
    struct stat st{};
    ASSERT_EQ(stat(informes[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string informe = leer(informes[0]);
    EXPECT_NE(informe.find("señal: SIGSEGV (11)"), std::string::npos) << informe;
    EXPECT_NE(informe.find("dirección: 0x"), std::string::npos) << informe;
    EXPECT_NE(informe.find("versión: prueba (1)\n"), std::string::npos) << informe;
    // The backtrace reaches the function that faulted.
    EXPECT_NE(informe.find("(caerAqui+"), std::string::npos) << informe;

    const std::string ultima = "\n12:00:00 última línea\n";
    escribir(carpetaLog() / "app.log", "inicio-viejo\n" + std::string(20000, '.') + ultima);

    CarpetaTemporal d;
    ControlHijo control(d / "datos", "secreto-compartido", {"--prueba"});
    ASSERT_NE(control.puerto(), 0) << control.registro();
    auto cuenta = crearCuenta(control.puerto(), "ana@ejemplo.com");
    ASSERT_TRUE(cuenta);

    std::vector<nlohmann::json> cuerpos;
    std::vector<int> estados;
    auto pedir = [&](const std::string& ruta, const nlohmann::json& cuerpo,
                     std::function<void(std::optional<nlohmann::json>, std::optional<std::string>)> fin) {
        cuerpos.push_back(cuerpo);
        auto r = post(control.puerto(), ruta, Json::parse(cuerpo.dump()));
        estados.push_back(r.estado);
        if (r.estado == 200) fin(nlohmann::json::parse(r.crudo), std::nullopt);
        else fin(std::nullopt, "estado " + std::to_string(r.estado));
    };
    auto mandar = [&] {
        bool listo = false;
        mandarReportes(EnvioReportes{cuenta->sala, cuenta->ficha, cuenta->correo, pedir, 30, [&] { listo = true; }});
        return esperar([&] { return listo; }, 40);
    };

    ASSERT_TRUE(mandar());
    ASSERT_EQ(cuerpos.size(), 1u);
    EXPECT_EQ(estados, std::vector<int>{200});
    EXPECT_EQ(cuerpos[0]["nombre"], nombre);
    EXPECT_EQ(cuerpos[0]["tipo"], "cierre");
    EXPECT_EQ(cuerpos[0]["correo"], "ana@ejemplo.com");
    EXPECT_EQ(cuerpos[0]["texto"],
              informe + "\n\n===== final de la bitácora =====\n" + std::string(9000 - ultima.size(), '.') + ultima);
    EXPECT_EQ(QSettings().value("reportesMandados").toStringList(), QStringList{QString::fromStdString(nombre)});

    // The next start finds it sent.
    ASSERT_TRUE(mandar());
    EXPECT_EQ(cuerpos.size(), 1u);

    pararReportes();
    EXPECT_EQ(control.detener(), 0) << control.registro();
    QSettings().remove("reportesMandados");
}
