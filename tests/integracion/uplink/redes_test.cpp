#include "servidor_tls.h"

#include "comun/proceso.h"
#include "soporte/soporte.h"
#include "principal/principal.h"
#include "uplink/redes.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sched.h>
#include <thread>
#include <unistd.h>

using namespace tt;
using namespace tt::prueba;
using namespace std::chrono_literals;

namespace {

double segundosDesde(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Swaps the process's switches for a test and puts the old ones back.
class ConEntorno {
public:
    ConEntorno() : antes_(proceso()) {}
    ~ConEntorno() { fijarProceso(antes_); }
    void fijar(std::map<std::string, std::string> v) {
        Proceso p = antes_;
        v["TM_DATOS"] = (raizPruebas() / "datos").string();
        p.entorno = Entorno(v);
        fijarProceso(p);
    }

private:
    Proceso antes_;
};

std::map<std::string, std::string> haciaServidor(const Certificados& c, unsigned short puerto,
                                                 const std::string& host = "localhost") {
    return {{"TM_INTERFACES", "lo"},
            {"TM_MEDIR_HOST", host},
            {"TM_MEDIR_PUERTO", std::to_string(puerto)},
            {"TM_MEDIR_CA", c.ca.string()},
            {"TM_DEPURAR", "1"}};
}

// Measures every listed network and waits for all to finish.
void medirYEsperar(Redes& r, double segundos = 15) {
    r.medir();
    ASSERT_FALSE(r.midiendo().empty());
    ASSERT_TRUE(esperar([&] { return r.midiendo().empty(); }, segundos));
}

}  // namespace

TEST(Redes, midePorLoopbackConLaPeticionExacta) {
    CarpetaTemporal dir;
    auto cert = hacerCertificados(dir.ruta());
    // Read at 2 MB/s, so the body takes about a second: 16 Mbit/s.
    ServidorTls servidor(cert, ServidorTls::Modo::contesta, "127.0.0.1", "", 2e6);
    ConEntorno entorno;
    entorno.fijar(haciaServidor(cert, servidor.puerto()));

    Redes r(enPrincipal);
    int cambios = 0, redes = 0;
    r.alCambiar = [&] { ++cambios; };
    r.alCambiarRedes = [&] { ++redes; };
    r.arrancar();
    ASSERT_TRUE(esperar([&] { return !r.nombres().empty(); }, 2));
    EXPECT_EQ(r.nombres(), std::vector<std::string>{"lo"});
    EXPECT_EQ(redes, 1);
    const int antes = cambios;
    medirYEsperar(r);
    EXPECT_EQ(cambios, antes + 2);  // started, finished
    ASSERT_EQ(r.sube().count("lo"), 1u) << leer(carpetaLog() / "app.log");
    // The server's pace caps it; a loaded machine only makes it slower (a unit slip is 8× off).
    EXPECT_GT(r.sube().at("lo"), 6.0);
    EXPECT_LT(r.sube().at("lo"), 17.0);

    auto v = servidor.visitas();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].origen, "127.0.0.1");
    EXPECT_EQ(v[0].cuerpo, 2000000u);
    EXPECT_EQ(v[0].cabecera,
              "POST /__up HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/octet-stream\r\n"
              "Content-Length: 2000000\r\nConnection: close\r\n\r\n");
    auto log = leer(carpetaLog() / "app.log");
    EXPECT_NE(log.find("medición lo: 2000000 bytes en "), std::string::npos);
    EXPECT_NE(log.find(" Mbps (respuesta)"), std::string::npos);
}

TEST(Redes, servidorCalladoTerminaALosOchoSegundosConLoEnviado) {
    CarpetaTemporal dir;
    auto cert = hacerCertificados(dir.ruta());
    ServidorTls servidor(cert, ServidorTls::Modo::callado);
    ConEntorno entorno;
    entorno.fijar(haciaServidor(cert, servidor.puerto()));
    Redes r(enPrincipal);
    r.recibir(Redes::caminoActual());
    ASSERT_EQ(r.nombres(), std::vector<std::string>{"lo"});
    auto t0 = std::chrono::steady_clock::now();
    medirYEsperar(r);
    EXPECT_GE(segundosDesde(t0), 7.9);  // it waited for the answer up to its limit
    ASSERT_EQ(r.sube().count("lo"), 1u);
    // The whole body went out, then nothing came back: 2 000 000 bytes over at most the 8 s.
    EXPECT_GT(r.sube().at("lo"), 1.95);
    EXPECT_NE(leer(carpetaLog() / "app.log").find("(tope de tiempo)"), std::string::npos);
}

TEST(Redes, servidorQueRechazaOCertificadoAjenoQuitanLaCifra) {
    CarpetaTemporal dir;
    auto cert = hacerCertificados(dir.ruta());
    ConEntorno entorno;
    Redes r(enPrincipal);
    {
        ServidorTls servidor(cert, ServidorTls::Modo::contesta, "0.0.0.0", "", 8e6);
        entorno.fijar(haciaServidor(cert, servidor.puerto()));
        r.recibir(Redes::caminoActual());
        medirYEsperar(r);
        ASSERT_EQ(r.sube().count("lo"), 1u);

        // The same server, but its authority is not trusted: the certificate check refuses it.
        auto sinCa = haciaServidor(cert, servidor.puerto());
        sinCa.erase("TM_MEDIR_CA");
        entorno.fijar(sinCa);
        medirYEsperar(r);
        EXPECT_EQ(r.sube().count("lo"), 0u);
        EXPECT_EQ(servidor.visitas().size(), 1u);  // nothing was sent to it

        // A name the certificate does not carry.
        entorno.fijar(haciaServidor(cert, servidor.puerto()));
        medirYEsperar(r);
        ASSERT_EQ(r.sube().count("lo"), 1u);
        auto otroNombre = haciaServidor(cert, servidor.puerto(), "127.0.0.2");
        entorno.fijar(otroNombre);
        medirYEsperar(r);
        EXPECT_EQ(r.sube().count("lo"), 0u);
        EXPECT_EQ(servidor.visitas().size(), 2u);

        entorno.fijar(haciaServidor(cert, servidor.puerto()));
        medirYEsperar(r);
        ASSERT_EQ(r.sube().count("lo"), 1u);
    }
    // The server has gone: its port refuses.
    medirYEsperar(r);
    EXPECT_EQ(r.sube().count("lo"), 0u);
    EXPECT_NE(leer(carpetaLog() / "app.log").find("0 bytes en 0.00 s = 0.0 Mbps (estado: Connection refused)"),
              std::string::npos);
}

TEST(Redes, unaRedNoSeMideDosVecesYSeCortaAlDestruir) {
    CarpetaTemporal dir;
    auto cert = hacerCertificados(dir.ruta());
    ServidorTls servidor(cert, ServidorTls::Modo::callado);
    ConEntorno entorno;
    entorno.fijar(haciaServidor(cert, servidor.puerto()));
    Redes r(enPrincipal);
    r.recibir(Redes::caminoActual());
    r.medir();
    r.medir();
    EXPECT_EQ(r.midiendo().size(), 1u);
    ASSERT_TRUE(esperar([&] { return servidor.visitas().size() == 1; }, 3));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(servidor.visitas().size(), 1u);
    // Destroyed mid-measurement: the measurement is cut and nothing reaches the main thread afterwards.
}
