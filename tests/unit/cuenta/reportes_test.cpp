// Which crash reports go, what each body holds, and what the upload marks as sent when the
// service answers, fails or stays silent.
#include "soporte/soporte.h"

#include "comun/proceso.h"
#include "cuenta/mandar_reportes.h"
#include "cuenta/reportes.h"

#include <QSettings>
#include <QStringList>

#include <gtest/gtest.h>

using namespace tt;
using namespace tt::prueba;
namespace fs = std::filesystem;
using Lista = std::vector<std::string>;

TEST(Reportes, losCuatroMayoresNoMandadosEnOrden) {
    const Lista carpeta{"Tremolante-2026-01-06.crash", "Tremolante-2026-01-01.crash", "Tremolante-2026-01-04.crash",
                        "otra-2026-01-09.crash",       "Tremolante-2026-01-03.crash", "Tremolante-2026-01-02.crash",
                        "Tremolante-2026-01-05.crash", "Tremolante-\xff.crash"};
    EXPECT_EQ(elegirReportes(carpeta, {}),
              (Lista{"Tremolante-2026-01-03.crash", "Tremolante-2026-01-04.crash", "Tremolante-2026-01-05.crash",
                     "Tremolante-2026-01-06.crash"}));
    // Once those went, the two older ones are the greatest unsent.
    EXPECT_EQ(elegirReportes(carpeta, {"Tremolante-2026-01-03.crash", "Tremolante-2026-01-04.crash",
                                       "Tremolante-2026-01-05.crash", "Tremolante-2026-01-06.crash"}),
              (Lista{"Tremolante-2026-01-01.crash", "Tremolante-2026-01-02.crash"}));
    // A sent one is never chosen again, so an older unsent one takes its place.
    EXPECT_EQ(elegirReportes(carpeta, {"Tremolante-2026-01-05.crash"}),
              (Lista{"Tremolante-2026-01-02.crash", "Tremolante-2026-01-03.crash", "Tremolante-2026-01-04.crash",
                     "Tremolante-2026-01-06.crash"}));
}

TEST(Reportes, cuerpoCortadoYSiempreUtf8) {
    std::string informe = "señal: SIGSEGV\n\xc3";  // cut in the middle of a character
    informe += std::string(100000, 'x');
    const std::string bitacora = "inicio-viejo " + std::string(20000, 'b') + "\xe2\x82 última línea\n";
    const auto c = cuerpoReporte({"sala1", "ficha1", "ana@ejemplo.com"}, "Tremolante-1.crash", "1.0 (?)", informe,
                                 bitacora);
    ASSERT_NO_THROW(c.dump());
    EXPECT_EQ(c["sala"], "sala1");
    EXPECT_EQ(c["ficha"], "ficha1");
    EXPECT_EQ(c["correo"], "ana@ejemplo.com");
    EXPECT_EQ(c["tipo"], "cierre");
    EXPECT_EQ(c["nombre"], "Tremolante-1.crash");
    EXPECT_EQ(c["version"], "1.0 (?)");
    const std::string texto = c["texto"];
    const std::string separador = "\n\n===== final de la bitácora =====\n";
    const auto corte = texto.find(separador);
    ASSERT_NE(corte, std::string::npos);
    // 90 000 bytes of report: the broken character became one replacement character.
    EXPECT_EQ(texto.substr(0, 19), "señal: SIGSEGV\n\xef\xbf\xbd");
    EXPECT_EQ(corte, 90000u - 1 + 3);
    const std::string cola = texto.substr(corte + separador.size());
    EXPECT_EQ(cola.find("inicio-viejo"), std::string::npos);
    EXPECT_NE(cola.find("\xef\xbf\xbd última línea\n"), std::string::npos);
    EXPECT_LT(cola.size(), 9010u);
}

namespace {

// Reports in the reports folder, a clean setting, and the upload's end awaited.
struct Banco {
    Banco() {
        std::error_code ec;
        fs::remove_all(carpetaInformes(), ec);
        fs::create_directories(carpetaInformes());
        QSettings().remove("reportesMandados");
    }
    ~Banco() { QSettings().remove("reportesMandados"); }
    void informe(const std::string& nombre) { escribir(carpetaInformes() / nombre, "pila de " + nombre); }
    QStringList mandados() { return QSettings().value("reportesMandados").toStringList(); }
    bool mandar(Pedir pedir, double espera = 30) {
        bool listo = false;
        mandarReportes(EnvioReportes{"sala1", "ficha1", "ana@ejemplo.com", std::move(pedir), espera,
                                     [&listo] { listo = true; }});
        return esperar([&] { return listo; }, 20);
    }
};

using Fin = std::function<void(std::optional<nlohmann::json>, std::optional<std::string>)>;

}  // namespace

TEST(Reportes, sinCuentaNoSeMandaNada) {
    Banco b;
    b.informe("Tremolante-2026-01-01.crash");
    int pedidos = 0;
    mandarReportes("", "", "", [&](const std::string&, const nlohmann::json&, Fin) { ++pedidos; });
    mandarReportes("sala1", "", "ana@ejemplo.com", [&](const std::string&, const nlohmann::json&, Fin) { ++pedidos; });
    esperar([] { return false; }, 0.3);
    EXPECT_EQ(pedidos, 0);
    EXPECT_TRUE(b.mandados().isEmpty());
}

TEST(Reportes, soloLoRespondidoQuedaMandado) {
    Banco b;
    for (auto n : {"Tremolante-2026-01-01.crash", "Tremolante-2026-01-02.crash", "Tremolante-2026-01-03.crash"})
        b.informe(n);
    // The first gets no answer in time; its late answer arrives while the second waits and must
    // not count for it; the second fails; the third is accepted.
    std::vector<std::string> nombres;
    Fin tardia;
    ASSERT_TRUE(b.mandar(
        [&](const std::string& ruta, const nlohmann::json& cuerpo, Fin fin) {
            EXPECT_EQ(ruta, "/reporte");
            nombres.push_back(cuerpo["nombre"]);
            if (nombres.size() == 1) {
                tardia = fin;
            } else if (nombres.size() == 2) {
                tardia(nlohmann::json{{"ok", true}}, std::nullopt);
                fin(std::nullopt, "No hay conexión con el servicio. Revisa el internet.");
            } else {
                fin(nlohmann::json{{"ok", true}}, std::nullopt);
            }
        },
        0.3));
    EXPECT_EQ(nombres, (Lista{"Tremolante-2026-01-01.crash", "Tremolante-2026-01-02.crash",
                              "Tremolante-2026-01-03.crash"}));
    EXPECT_EQ(b.mandados(), QStringList{"Tremolante-2026-01-03.crash"});

    // The next start tries the two again, and only them.
    nombres.clear();
    ASSERT_TRUE(b.mandar([&](const std::string&, const nlohmann::json& cuerpo, Fin fin) {
        nombres.push_back(cuerpo["nombre"]);
        fin(nlohmann::json{{"ok", true}}, std::nullopt);
    }));
    EXPECT_EQ(nombres, (Lista{"Tremolante-2026-01-01.crash", "Tremolante-2026-01-02.crash"}));
    EXPECT_EQ(b.mandados().size(), 3);
}
