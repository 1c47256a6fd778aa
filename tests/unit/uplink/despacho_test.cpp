#include "uplink/despacho.h"

#include "comun/cripto.h"
#include "uplink/protocolo.h"

#include <gtest/gtest.h>

using namespace tt;
namespace p = tt::protocolo;

namespace {

struct Marco {
    std::uint32_t seq;
    std::string datos;
};

// A Despacho with fake sockets: records what it asks for and lets a test play the server.
struct Banco {
    std::map<std::string, std::string> redes{{"eth0", "Ethernet"}};
    std::map<std::string, std::string> salida;  // bytes sent per link since its last connection
    std::map<std::string, int> conexiones;
    std::vector<std::string> cortes;
    std::vector<std::string> bitacora;
    Despacho d;

    explicit Banco(AjustesReparto a = base(), double t0 = 100) : d(std::move(a), t0) {
        d.interfaces = [this] { return redes; };
        d.alConectar = [this](const std::string& b) {
            conexiones[b]++;
            salida[b].clear();
        };
        d.alSoltar = [](const std::string&) {};
        d.alMandar = [this](const std::string& b, std::string bytes) { salida[b] += bytes; };
        d.alCortar = [this](const std::string& r) { cortes.push_back(r); };
        d.alAnotar = [this](const std::string& l) { bitacora.push_back(l); };
    }
    static AjustesReparto base() {
        AjustesReparto a;
        a.clave = "k";
        a.sesion = "ses";
        a.epoca = "epoca";
        return a;
    }
    // Connects and admits a link (the check connects, the server greets and says OK).
    void admitir(const std::string& bsd, double t) {
        d.revisar(t);
        ASSERT_TRUE(d.enlaces().at(bsd).con);
        d.recibir(bsd, "TM1 reto\n", t);
        d.recibir(bsd, "OK\n", t);
        ASSERT_TRUE(d.enlaces().at(bsd).listo());
        salida[bsd].clear();
    }
    // Frames sent on a link since the last call (the handshake answer must be gone already).
    std::vector<Marco> marcos(const std::string& bsd) {
        std::vector<Marco> v;
        std::string& s = salida[bsd];
        std::size_t i = 0;
        while (i + 8 <= s.size()) {
            std::uint32_t n = p::leerU32(s.data() + i + 4);
            v.push_back({p::leerU32(s.data() + i), s.substr(i + 8, n)});
            i += 8 + n;
        }
        s.erase(0, i);
        return v;
    }
    void acusar(const std::string& bsd, std::initializer_list<std::uint32_t> seqs, double t) {
        std::string b;
        for (auto s : seqs) p::escribirU32(b, s);
        d.recibir(bsd, b, t);
    }
    bool anotado(const std::string& texto) const {
        for (auto& l : bitacora)
            if (l.find(texto) != std::string::npos) return true;
        return false;
    }
};

}  // namespace

TEST(Despacho, saludoConPaseYBytesTrasElVeredicto) {
    AjustesReparto a = Banco::base();
    a.pase = Pase{"r:1", "sid", "llave", "tok", 10};
    a.sesion = "sid";
    Banco b(a);
    b.d.revisar(100);
    EXPECT_EQ(b.conexiones["eth0"], 1);
    EXPECT_TRUE(b.salida["eth0"].empty());  // the server speaks first
    b.d.recibir("eth0", "TM1 ab", 100);
    EXPECT_TRUE(b.salida["eth0"].empty());
    b.d.recibir("eth0", "c\n", 100);
    EXPECT_EQ(b.salida["eth0"], p::respuestaConPase(*a.pase, "abc", "epoca"));
    b.salida["eth0"].clear();
    // The verdict and the start of the binary phase in one read.
    EXPECT_TRUE(b.d.intentar(b.d.numerar(), "x", 100).tomado == false);  // not admitted yet
    std::string v = "OK\n";
    p::escribirU32(v, 0xFFFFFFFF);
    b.d.recibir("eth0", v, 100.1);
    EXPECT_TRUE(b.d.enlaces().at("eth0").listo());
    EXPECT_TRUE(b.anotado("red unida: Ethernet"));
    EXPECT_EQ(b.d.enlaces().at("eth0").ultimoAcuse, 100.1);
}

TEST(Despacho, okConRetornoDeCarroEsRechazoSinCorte) {
    Banco b;
    b.d.revisar(100);
    b.d.recibir("eth0", "TM1 r\nOK\r\n", 100);
    EXPECT_FALSE(b.d.enlaces().at("eth0").listo());
    EXPECT_FALSE(b.d.enlaces().at("eth0").con);
    EXPECT_TRUE(b.anotado("Ethernet: el servidor respondió OK\r"));
    EXPECT_TRUE(b.cortes.empty());
    EXPECT_TRUE(b.d.activo());
    // An ordinary drop reconnects after more than 2 s, not before.
    b.d.revisar(101.9);
    EXPECT_EQ(b.conexiones["eth0"], 1);
    b.d.revisar(102.1);
    EXPECT_EQ(b.conexiones["eth0"], 2);
}

TEST(Despacho, primerLineaQueNoEsRetoEsRespuestaDelServidor) {
    Banco b;
    b.d.revisar(100);
    b.d.recibir("eth0", "SALDO\n", 100);
    ASSERT_EQ(b.cortes.size(), 1u);
    EXPECT_EQ(b.cortes[0], "SALDO");
    EXPECT_FALSE(b.d.activo());
    // Inactive: a second reason is only logged, and the check does nothing.
    b.redes["eth1"] = "Wi-Fi";
    b.d.revisar(103);
    EXPECT_EQ(b.conexiones["eth1"], 0);
}

TEST(Despacho, ocupadoCortaAntesDeUnaAdmisionYDespuesSoloSueltaElEnlace) {
    {
        Banco b;
        b.d.revisar(100);
        b.d.recibir("eth0", "TM1 r\nOCUPADO\n", 100);
        ASSERT_EQ(b.cortes.size(), 1u);
        EXPECT_EQ(b.cortes[0], "OCUPADO");
    }
    {
        Banco b;
        b.redes["eth1"] = "Wi-Fi";
        b.admitir("eth0", 100);
        b.d.recibir("eth1", "TM1 r\nOCUPADO\n", 100);
        EXPECT_TRUE(b.cortes.empty());
        EXPECT_TRUE(b.d.activo());
        EXPECT_FALSE(b.d.enlaces().at("eth1").con);
        // Other reasons still cut, once.
        b.d.revisar(103);
        b.d.recibir("eth1", "TM1 r\nRELEVADA\n", 103);
        b.d.recibir("eth0", "CERRADA\n", 103);  // not a line any more: binary garbage on eth0
        ASSERT_EQ(b.cortes.size(), 1u);
        EXPECT_EQ(b.cortes[0], "RELEVADA");
    }
}

TEST(Despacho, lineaDeSaludoSinFinSeCorta) {
    Banco b;
    b.d.revisar(100);
    b.d.recibir("eth0", std::string(70000, 'a'), 100);
    EXPECT_FALSE(b.d.enlaces().at("eth0").con);
    EXPECT_TRUE(b.d.enlaces().at("eth0").bufer.empty());
    EXPECT_TRUE(b.d.activo());
}

TEST(Despacho, dosAcusesYMedioEnUnaLectura) {
    Banco b;
    b.admitir("eth0", 100);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(b.d.intentar(b.d.numerar(), "abcd", 100).tomado);
    std::string a;
    p::escribirU32(a, 0);
    p::escribirU32(a, 1);
    p::escribirU32(a, 2);
    b.d.recibir("eth0", a.substr(0, 10), 100.05);
    auto& e = b.d.enlaces().at("eth0");
    EXPECT_EQ(e.enVuelo.size(), 1u);
    EXPECT_EQ(e.bufer.size(), 2u);
    EXPECT_EQ(b.d.confirmadosTotal(), 8);
    b.d.recibir("eth0", a.substr(10), 100.06);
    EXPECT_TRUE(e.enVuelo.empty());
    EXPECT_EQ(e.bytesEnVuelo, 0);
    // Unknown numbers are ignored but still count as a sign of life.
    b.acusar("eth0", {77}, 100.5);
    EXPECT_EQ(b.d.confirmadosTotal(), 12);
    EXPECT_EQ(e.ultimoAcuse, 100.5);
}

TEST(Despacho, eligeElMenosCargadoEstableYUsaCastigadosSiNoHayOtros) {
    Banco b;
    b.redes["eth1"] = "Wi-Fi";
    b.admitir("eth0", 100);
    b.admitir("eth1", 100);
    ASSERT_TRUE(b.d.intentar(b.d.numerar(), std::string(1000, 'a'), 100).tomado);
    EXPECT_EQ(b.marcos("eth0").size(), 1u);  // equal load: the first in order
    // Load is compared in whole percent: 1000 of 131072 bytes still ties with an empty link.
    ASSERT_TRUE(b.d.intentar(b.d.numerar(), std::string(1000, 'a'), 100).tomado);
    EXPECT_EQ(b.marcos("eth0").size(), 1u);
    ASSERT_TRUE(b.d.intentar(b.d.numerar(), std::string(1000, 'a'), 100).tomado);
    EXPECT_EQ(b.marcos("eth1").size(), 1u);
    b.d.enlaces().at("eth0").castigoHasta = 200;
    b.d.enlaces().at("eth1").castigoHasta = 200;
    b.d.enlaces().at("eth1").bytesEnVuelo = 50000;
    ASSERT_TRUE(b.d.intentar(b.d.numerar(), "x", 100).tomado);
    EXPECT_EQ(b.marcos("eth0").size(), 1u);
    // Penalised links are avoided while an unpenalised one qualifies.
    b.d.enlaces().at("eth0").castigoHasta = 0;
    b.d.enlaces().at("eth0").bytesEnVuelo = 100000;
    ASSERT_TRUE(b.d.intentar(b.d.numerar(), "x", 100).tomado);
    EXPECT_EQ(b.marcos("eth0").size(), 1u);
}

TEST(Despacho, ventanaLlenaFrenaAlProductorYCuentaLaEspera) {
    Banco b;
    b.admitir("eth0", 100);
    std::string trozo(65536, 'a');
    int tomados = 0;
    for (int i = 0; i < 10; ++i) tomados += b.d.intentar(i, trozo, 100).tomado;
    EXPECT_EQ(tomados, 2);  // 131072 in flight fills the window
    auto pr = b.d.tomarPresion(100.01);
    EXPECT_NEAR(pr.espera, 8 * 0.004 / 0.2, 1e-9);  // dt never below 0.2
    EXPECT_EQ(pr.unidas, 1);
    // A producer that waited all the time reads 1, never more.
    for (int i = 0; i < 1000; ++i) b.d.intentar(50, trozo, 101);
    EXPECT_EQ(b.d.tomarPresion(102.01).espera, 1.0);
    b.acusar("eth0", {0, 1}, 102.2);
    auto p2 = b.d.tomarPresion(102.21);
    EXPECT_EQ(p2.kbps, int(131072.0 * 8 / 0.2 / 1000));
}

TEST(Despacho, copiaTardiaYEntregados) {
    Banco b;
    b.redes["eth1"] = "Wi-Fi";
    b.admitir("eth0", 100);
    b.admitir("eth1", 100);
    ASSERT_TRUE(b.d.intentar(b.d.numerar(), "dato", 100).tomado);  // seq 0 on eth0
    b.marcos("eth0");
    // u = 2·0 + 0.15 → at least 0.25 s: not yet at 100.2, copied by 100.3.
    b.d.revisar(100.2);
    EXPECT_TRUE(b.marcos("eth1").empty());
    b.d.revisar(100.3);
    auto copia = b.marcos("eth1");
    ASSERT_EQ(copia.size(), 1u);
    EXPECT_EQ(copia[0].seq, 0u);
    EXPECT_EQ(copia[0].datos, "dato");
    auto& e0 = b.d.enlaces().at("eth0");
    auto& e1 = b.d.enlaces().at("eth1");
    EXPECT_TRUE(e0.enVuelo.at(0).copia);
    EXPECT_TRUE(e1.enVuelo.at(0).copia);
    EXPECT_DOUBLE_EQ(e0.calidad, 0.8);
    // Not copied twice.
    b.d.revisar(100.8);
    EXPECT_TRUE(b.marcos("eth1").empty());
    // Acknowledged first by the copy, then by the original: entregados ends empty.
    b.acusar("eth1", {0}, 100.9);
    EXPECT_EQ(b.d.entregados().count(0), 1u);
    EXPECT_DOUBLE_EQ(e1.calidad, 1.0);
    b.acusar("eth0", {0}, 101.0);
    EXPECT_TRUE(b.d.entregados().empty());
    EXPECT_EQ(b.d.confirmadosTotal(), 8);  // both count as carried bytes
    // The copies are reported once every 30 s, per link that lost chunks.
    b.d.revisar(129);
    EXPECT_FALSE(b.anotado("copias por otra red"));
    b.d.revisar(130.5);
    EXPECT_TRUE(b.anotado("copias por otra red en 30 s: 1 trozos (Ethernet 1, calidad 80%)"));
    EXPECT_EQ(e0.copiados, 0);
    EXPECT_EQ(b.d.cuentas().copias, 1);
}

TEST(Despacho, recuperacionTrasNoventaSegundosSeAnota) {
    Banco b;
    b.admitir("eth0", 100);
    auto& e = b.d.enlaces().at("eth0");
    e.fallas = 2;
    e.castigoHasta = 110;
    b.d.revisar(200);
    EXPECT_EQ(e.fallas, 2);
    b.d.revisar(200.25);
    EXPECT_EQ(e.fallas, 0);
    EXPECT_TRUE(b.anotado("red recuperada: Ethernet"));
}

TEST(Despacho, caudalPorEnlaceCadaDosSegundos) {
    Banco b;
    b.admitir("eth0", 100);
    ASSERT_TRUE(b.d.intentar(b.d.numerar(), std::string(50000, 'a'), 100).tomado);
    b.acusar("eth0", {0}, 100.1);
    b.d.revisar(101.9);
    EXPECT_EQ(b.d.enlaces().at("eth0").kbps, 0);  // not 2 s since creation yet
    b.d.revisar(102.0);
    EXPECT_EQ(b.d.enlaces().at("eth0").kbps, 200);  // 50000 bytes in 2 s
    EXPECT_EQ(b.d.resumen(102).partes[0].second, "manda 200 kbps");
}

TEST(Despacho, devolverPoneEnColaEnOrdenSoloLoQueNadieMasTiene) {
    Banco b;
    b.redes["eth1"] = "Wi-Fi";
    b.admitir("eth0", 100);
    b.admitir("eth1", 100);
    auto& e0 = b.d.enlaces().at("eth0");
    auto& e1 = b.d.enlaces().at("eth1");
    // Chunks 5 and 3 only on eth0, chunk 4 on both (acknowledged on eth1 already), 9 copied.
    for (std::uint32_t s : {5u, 3u, 4u, 9u}) {
        e0.enVuelo[s] = Trozo{"t" + std::to_string(s), 100, s == 9 || s == 4};
        e0.bytesEnVuelo += 2;
    }
    e1.enVuelo[9] = Trozo{"t9", 100, true};
    e1.enVuelo[4] = Trozo{"t4", 100, true};
    b.acusar("eth1", {4}, 100.1);
    ASSERT_EQ(b.d.entregados().count(4), 1u);
    e0.enVuelo[0xFFFFFF00] = Trozo{std::string(8192, '\0'), 100, true};
    // Nobody to take the chunks: drop eth1 first (its 9 is still on eth0), then eth0.
    b.d.caer("eth1", 100.2);
    EXPECT_TRUE(b.d.cola().empty());
    EXPECT_FALSE(e0.enVuelo.at(9).copia);  // the only copy left counts like any chunk
    b.d.caer("eth0", 100.3);
    ASSERT_EQ(b.d.cola().size(), 3u);
    EXPECT_EQ(b.d.cola()[0].first, 3u);
    EXPECT_EQ(b.d.cola()[1].first, 5u);
    EXPECT_EQ(b.d.cola()[2].first, 9u);
    EXPECT_TRUE(b.d.entregados().empty());
    EXPECT_TRUE(b.anotado("red caída: Ethernet (5 trozos se reenvían por las demás)"));
    // Forced out in order at the next admission, even beyond the window.
    b.d.revisar(102.5);
    b.d.recibir("eth0", "TM1 r\n", 102.5);
    b.salida["eth0"].clear();
    b.d.recibir("eth0", "OK\n", 102.5);
    auto m = b.marcos("eth0");
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].seq, 3u);
    EXPECT_EQ(m[2].seq, 9u);
    EXPECT_TRUE(b.d.cola().empty());
}

TEST(Despacho, colaLlenaDetieneNuevosTrozos) {
    Banco b;
    b.admitir("eth0", 100);
    auto& e = b.d.enlaces().at("eth0");
    for (std::uint32_t s = 0; s < 64; ++s) e.enVuelo[s] = Trozo{"x", 100, false};
    b.d.caer("eth0", 100);
    ASSERT_EQ(b.d.cola().size(), 64u);
    b.redes["eth1"] = "Wi-Fi";
    b.d.revisar(100.5);  // eth1 connects but is not admitted: the queue stays
    EXPECT_FALSE(b.d.intentar(64, "y", 100.5).tomado);
}

TEST(Despacho, atascoConOtraSanaCastigaYReconectaEnLaSiguienteRevision) {
    Banco b;
    b.redes["eth1"] = "Wi-Fi";
    b.admitir("eth0", 100);
    b.admitir("eth1", 100);
    ASSERT_TRUE(b.d.intentar(b.d.numerar(), "a", 100).tomado);  // on eth0
    b.acusar("eth1", {}, 100);
    // eth1 keeps acknowledging (filler-free: a fresh unknown ack keeps it alive).
    b.acusar("eth1", {999}, 102.0);
    b.d.revisar(102.1);
    EXPECT_TRUE(b.anotado("red atorada: Ethernet (1 trozos se van por las demás; se reconecta y queda 4 s en observación)"));
    auto& e0 = b.d.enlaces().at("eth0");
    EXPECT_FALSE(e0.con);
    EXPECT_EQ(e0.intentoEn, 0);
    EXPECT_EQ(e0.fallas, 1);
    // The chunk moved to eth1.
    EXPECT_EQ(b.d.enlaces().at("eth1").enVuelo.count(0), 1u);
    int antes = b.conexiones["eth0"];
    b.d.revisar(102.35);
    EXPECT_EQ(b.conexiones["eth0"], antes + 1);
    b.d.recibir("eth0", "TM1 r\nOK\n", 102.4);
    EXPECT_TRUE(b.anotado("red unida: Ethernet (en observación 3 s)"));
    EXPECT_EQ(b.d.resumen(102.4).partes[0].second, "en observación");
}

TEST(Despacho, respaldoSeMandaAlAdmitirConGraciaYSeConfirmaUnaVez) {
    AjustesReparto a = Banco::base();
    a.respaldo = std::string("JPEGDATA");
    Banco b(a);
    b.d.revisar(100);
    b.d.recibir("eth0", "TM1 r\n", 100);
    b.salida["eth0"].clear();
    b.d.recibir("eth0", "OK\n", 100);
    auto m = b.marcos("eth0");
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].seq, 0xFFFFFFFFu);
    EXPECT_EQ(m[0].datos, "JPEGDATA");
    EXPECT_EQ(b.d.enlaces().at("eth0").graciaHasta, 110);
    // Offered again only 12 s after the last attempt.
    b.d.caer("eth0", 101);
    b.d.revisar(103.5);
    b.d.recibir("eth0", "TM1 r\nOK\n", 103.5);
    EXPECT_TRUE(b.marcos("eth0").empty() || b.salida["eth0"].find("JPEGDATA") == std::string::npos);
    b.d.caer("eth0", 104);
    b.d.revisar(112.5);
    b.salida["eth0"].clear();
    b.d.recibir("eth0", "TM1 r\n", 112.5);
    b.salida["eth0"].clear();
    b.d.recibir("eth0", "OK\n", 112.5);
    EXPECT_NE(b.salida["eth0"].find("JPEGDATA"), std::string::npos);
    b.acusar("eth0", {0xFFFFFFFF, 0xFFFFFFFF}, 113);
    EXPECT_TRUE(b.d.respaldoListo());
    EXPECT_EQ(b.d.enlaces().at("eth0").graciaHasta, 0);
    int n = 0;
    for (auto& l : b.bitacora) n += l == "pantalla de sin internet entregada al servidor";
    EXPECT_EQ(n, 1);
}

TEST(Despacho, sondeoSieteDecimosYNadaConCola) {
    Banco b;
    b.admitir("eth0", 100);
    b.d.sondear(2000, 3, 100);
    EXPECT_EQ(b.d.sondeo(110).tocaba, 750000);
    auto& e = b.d.enlaces().at("eth0");
    e.calidad = 0.1;  // tope 16384: 7/10 is 11468
    b.d.revisar(101);
    auto m = b.marcos("eth0");
    ASSERT_EQ(m.size(), 1u);  // a second filler would not fit
    EXPECT_EQ(m[0].seq, 0xFFFFFF00u);
    EXPECT_EQ(m[0].datos, std::string(8192, '\0'));
    EXPECT_TRUE(e.enVuelo.at(0xFFFFFF00).copia);
    b.acusar("eth0", {0xFFFFFF00}, 101.1);
    EXPECT_EQ(b.d.sondeo(101.1).confirmado, 8192);
    e.bytesEnVuelo = 3276;
    b.d.revisar(101.2);
    EXPECT_EQ(b.marcos("eth0").size(), 1u);  // 3276 + 8192 = 11468 still fits
    e.bytesEnVuelo += 1;
    b.d.revisar(101.3);
    EXPECT_TRUE(b.marcos("eth0").empty());
    // With chunks waiting in the queue no filler goes out.
    e.bytesEnVuelo = 0;
    b.d.caer("eth0", 101.4);
    b.d.revisar(101.5);
    EXPECT_TRUE(b.marcos("eth0").empty());
}

TEST(Despacho, topeDePruebaNoJuntaMasDeMedioSegundo) {
    AjustesReparto a = Banco::base();
    a.topePrueba = 1000;
    a.topeDesde = 0;
    a.topeHasta = 1e9;
    a.nacio = 0;
    Banco b(a);
    b.admitir("eth0", 100);
    // After a long idle the bucket holds at most 62500 bytes.
    EXPECT_TRUE(b.d.intentar(0, std::string(10, 'a'), 200).tomado);
    EXPECT_LE(b.d.fichas(), 62500);
    EXPECT_DOUBLE_EQ(b.d.fichas(), 62500 - 10);
    EXPECT_FALSE(b.d.intentar(1, std::string(62500, 'a'), 200).tomado);
    EXPECT_TRUE(b.d.intentar(1, std::string(62490, 'a'), 200).tomado);
    // 0.125 s later: 15625 bytes more.
    EXPECT_FALSE(b.d.intentar(2, std::string(15626, 'a'), 200.125).tomado);
    EXPECT_TRUE(b.d.intentar(2, std::string(15625, 'a'), 200.125).tomado);
}

TEST(Despacho, terminarMandaElFinYLuegoNada) {
    Banco b;
    b.admitir("eth0", 100);
    ASSERT_TRUE(b.d.intentar(b.d.numerar(), "a", 100).tomado);
    b.d.terminar(101);
    auto m = b.marcos("eth0");
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[1].seq, 1u);
    EXPECT_TRUE(m[1].datos.empty());
    EXPECT_FALSE(b.d.activo());
    auto i = b.d.intentar(b.d.numerar(), "b", 101);
    EXPECT_FALSE(i.tomado);
    EXPECT_FALSE(i.activo);
    b.d.terminar(102);
    EXPECT_TRUE(b.marcos("eth0").empty());
}

TEST(Despacho, cortadoSoloTrasHaberEstadoUnida) {
    Banco b;
    for (double t = 100; t < 130; t += 0.25) b.d.revisar(t);  // never admitted
    EXPECT_FALSE(b.d.cortado(130));
    b.admitir("eth0", 130);
    b.d.revisar(130.25);
    b.d.caer("eth0", 130.3);
    b.d.revisar(130.5);
    EXPECT_FALSE(b.d.cortado(131.9));
    EXPECT_TRUE(b.d.cortado(132.1));
    b.d.revisar(132.6);
    b.d.recibir("eth0", "TM1 r\nOK\n", 132.6);
    EXPECT_FALSE(b.d.cortado(132.7));
}

TEST(Despacho, corteSimuladoSueltaYNoReconecta) {
    AjustesReparto a = Banco::base();
    a.corte = std::make_pair(101.0, 104.0);
    Banco b(a);
    b.admitir("eth0", 100);
    b.d.revisar(101.5);
    EXPECT_FALSE(b.d.enlaces().at("eth0").con);
    b.d.revisar(103.9);
    EXPECT_EQ(b.conexiones["eth0"], 1);
    b.d.revisar(104.0);
    EXPECT_EQ(b.conexiones["eth0"], 2);
}

TEST(Despacho, interfazQueDesapareceSeSuelta) {
    Banco b;
    b.redes["eth1"] = "Wi-Fi";
    b.admitir("eth0", 100);
    b.admitir("eth1", 100);
    ASSERT_TRUE(b.d.intentar(b.d.numerar(), "a", 100).tomado);  // on eth0
    b.redes.erase("eth0");
    b.d.revisar(100.6);
    EXPECT_EQ(b.d.enlaces().count("eth0"), 0u);
    EXPECT_EQ(b.d.enlaces().at("eth1").enVuelo.count(0), 1u);
}

TEST(Despacho, resumenYDetalle) {
    Banco b;
    b.redes = {{"wlan0", "Wi-Fi"}, {"eth0", "Ethernet"}};
    b.admitir("wlan0", 100);
    b.d.enlaces().at("wlan0").kbps = 2500;
    auto r = b.d.resumen(100);
    EXPECT_EQ(r.unidas, 1);
    ASSERT_EQ(r.partes.size(), 2u);
    EXPECT_EQ(r.partes[0], std::make_pair(std::string("Ethernet"), std::string("conectando…")));
    EXPECT_EQ(r.partes[1].second, "manda 2.5 Mbps");
    auto d = b.d.detalle(100);
    EXPECT_EQ(d[1]["n"], "Wi-Fi");
    EXPECT_EQ(d[1]["estado"], "unida");
    EXPECT_EQ(d[1]["ventanaKB"], 128);
    EXPECT_EQ(d[0]["estado"], "conectando");
}
