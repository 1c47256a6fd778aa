#include "uplink/despacho.h"

#include "comun/cripto.h"
#include "protocolo/protocolo.h"

#include <gtest/gtest.h>

#include <functional>

#include <set>

using namespace tt;
namespace p = tt::protocolo;

namespace {

struct Marco {
    std::uint32_t seq;
    std::string datos;
};

// A Despacho with fake sockets: carries out what it asks for and lets a test play the server.
struct Banco {
    std::map<std::string, std::string> redes{{"eth0", "Ethernet"}};
    std::map<std::string, std::string> salida;  // bytes sent per link since its last connection
    std::map<std::string, int> conexiones;
    std::set<std::string> atascadas;  // connections that write nothing of what they are handed
    std::vector<std::string> cortes;
    std::vector<std::string> bitacora;
    Despacho d;

    explicit Banco(AjustesReparto a = base(), double t0 = 100) : d(std::move(a), t0) {}
    static AjustesReparto base() {
        AjustesReparto a;
        a.clave = "k";
        a.sesion = "ses";
        a.epoca = "epoca";
        return a;
    }
    void cumplir(Acciones acciones) {
        for (auto& a : acciones) {
            switch (a.tipo) {
            case Accion::Tipo::conectar:
                conexiones[a.bsd]++;
                salida[a.bsd].clear();
                break;
            case Accion::Tipo::soltar: break;
            case Accion::Tipo::mandar:
                salida[a.bsd] += a.texto;
                if (!atascadas.count(a.bsd)) cumplir(d.escrito(a.bsd, a.texto.size()));
                break;
            case Accion::Tipo::cortar: cortes.push_back(a.texto); break;
            case Accion::Tipo::anotar: bitacora.push_back(a.texto); break;
            }
        }
    }
    void revisar(double t) { cumplir(d.revisar(t, redes)); }
    void recibir(const std::string& bsd, std::string_view bytes, double t) { cumplir(d.recibir(bsd, bytes, t)); }
    void caer(const std::string& bsd, double t) { cumplir(d.caer(bsd, t)); }
    bool intentar(std::uint32_t seq, const std::string& datos, double t) {
        auto i = d.intentar(seq, datos, t);
        cumplir(std::move(i.acciones));
        return i.tomado;
    }
    bool mandar(const std::string& datos, double t) { return intentar(d.numerar(), datos, t); }
    const Enlace& enlace(const std::string& bsd) const { return d.enlaces().at(bsd); }
    // Connects and admits a link (the check connects, the server greets and says OK).
    void admitir(const std::string& bsd, double t) {
        revisar(t);
        ASSERT_TRUE(enlace(bsd).conectado());
        recibir(bsd, "TM1 reto\n", t);
        recibir(bsd, "OK\n", t);
        ASSERT_TRUE(enlace(bsd).listo());
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
        recibir(bsd, b, t);
    }
    // The relay acknowledges everything sent on a link so far.
    void acusarTodo(const std::string& bsd, double t) {
        std::string b;
        for (auto& m : marcos(bsd)) p::escribirU32(b, m.seq);
        recibir(bsd, b, t);
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
    b.revisar(100);
    EXPECT_EQ(b.conexiones["eth0"], 1);
    EXPECT_TRUE(b.salida["eth0"].empty());  // the server speaks first
    b.recibir("eth0", "TM1 ab", 100);
    EXPECT_TRUE(b.salida["eth0"].empty());
    b.recibir("eth0", "c\n", 100);
    EXPECT_EQ(b.salida["eth0"], p::respuestaConPase(*a.pase, "abc", "epoca"));
    b.salida["eth0"].clear();
    EXPECT_FALSE(b.mandar("x", 100));  // not admitted yet
    // The verdict and the start of the binary phase in one read.
    std::string v = "OK\n";
    p::escribirU32(v, 0xFFFFFFFF);
    b.recibir("eth0", v, 100.1);
    EXPECT_TRUE(b.enlace("eth0").listo());
    EXPECT_TRUE(b.anotado("red unida: Ethernet"));
    EXPECT_EQ(b.enlace("eth0").ultimoAcuse(), 100.1);
}

TEST(Despacho, okConRetornoDeCarroEsRechazoSinCorte) {
    Banco b;
    b.revisar(100);
    b.recibir("eth0", "TM1 r\nOK\r\n", 100);
    EXPECT_FALSE(b.enlace("eth0").listo());
    EXPECT_FALSE(b.enlace("eth0").conectado());
    EXPECT_TRUE(b.anotado("Ethernet: el servidor respondió OK\r"));
    EXPECT_TRUE(b.cortes.empty());
    EXPECT_TRUE(b.d.activo());
    // An ordinary drop reconnects after more than 2 s, not before.
    b.revisar(101.9);
    EXPECT_EQ(b.conexiones["eth0"], 1);
    b.revisar(102.1);
    EXPECT_EQ(b.conexiones["eth0"], 2);
}

TEST(Despacho, primerLineaQueNoEsRetoEsRespuestaDelServidor) {
    Banco b;
    b.revisar(100);
    b.recibir("eth0", "SALDO\n", 100);
    ASSERT_EQ(b.cortes.size(), 1u);
    EXPECT_EQ(b.cortes[0], "SALDO");
    EXPECT_FALSE(b.d.activo());
    // Inactive: a second reason is only logged, and the check does nothing.
    b.redes["eth1"] = "Wi-Fi";
    b.revisar(103);
    EXPECT_EQ(b.conexiones["eth1"], 0);
}

TEST(Despacho, ocupadoCortaAntesDeUnaAdmisionYDespuesSoloSueltaElEnlace) {
    {
        Banco b;
        b.revisar(100);
        b.recibir("eth0", "TM1 r\nOCUPADO\n", 100);
        ASSERT_EQ(b.cortes.size(), 1u);
        EXPECT_EQ(b.cortes[0], "OCUPADO");
    }
    {
        Banco b;
        b.redes["eth1"] = "Wi-Fi";
        b.admitir("eth0", 100);
        b.recibir("eth1", "TM1 r\nOCUPADO\n", 100);
        EXPECT_TRUE(b.cortes.empty());
        EXPECT_TRUE(b.d.activo());
        EXPECT_FALSE(b.enlace("eth1").conectado());
        // Other reasons still cut, once.
        b.revisar(103);
        b.recibir("eth1", "TM1 r\nRELEVADA\n", 103);
        b.recibir("eth0", "CERRADA\n", 103);  // not a line any more: binary garbage on eth0
        ASSERT_EQ(b.cortes.size(), 1u);
        EXPECT_EQ(b.cortes[0], "RELEVADA");
    }
}

TEST(Despacho, lineaDeSaludoSinFinSeCorta) {
    Banco b;
    b.revisar(100);
    b.recibir("eth0", std::string(70000, 'a'), 100);
    EXPECT_FALSE(b.enlace("eth0").conectado());
    EXPECT_EQ(b.enlace("eth0").oidoSinLeer(), 0u);
    EXPECT_TRUE(b.d.activo());
}

TEST(Despacho, dosAcusesYMedioEnUnaLectura) {
    Banco b;
    b.admitir("eth0", 100);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(b.mandar("abcd", 100));
    std::string a;
    p::escribirU32(a, 0);
    p::escribirU32(a, 1);
    p::escribirU32(a, 2);
    b.recibir("eth0", a.substr(0, 10), 100.05);
    auto& e = b.enlace("eth0");
    EXPECT_EQ(e.enVuelo().size(), 1u);
    EXPECT_EQ(e.oidoSinLeer(), 2u);
    EXPECT_EQ(b.d.confirmadosTotal(), 8);
    b.recibir("eth0", a.substr(10), 100.06);
    EXPECT_TRUE(e.enVuelo().empty());
    EXPECT_EQ(e.bytesEnVuelo(), 0);
    // Unknown numbers are ignored but still count as a sign of life.
    b.acusar("eth0", {77}, 100.5);
    EXPECT_EQ(b.d.confirmadosTotal(), 12);
    EXPECT_EQ(e.ultimoAcuse(), 100.5);
}

TEST(Despacho, eligeElMenosCargadoEstableYUsaCastigadosSiNoHayOtros) {
    Banco b;
    b.redes["eth1"] = "Wi-Fi";
    b.redes["eth2"] = "USB";
    b.admitir("eth0", 100);
    b.admitir("eth1", 100);
    b.admitir("eth2", 100);
    ASSERT_TRUE(b.mandar(std::string(1000, 'a'), 100));
    EXPECT_EQ(b.marcos("eth0").size(), 1u);  // equal load: the first in order
    // Load is compared in whole percent: 1000 of 131072 bytes still ties with an empty link.
    ASSERT_TRUE(b.mandar(std::string(1000, 'a'), 100));
    EXPECT_EQ(b.marcos("eth0").size(), 1u);
    ASSERT_TRUE(b.mandar(std::string(1000, 'a'), 100));
    EXPECT_EQ(b.marcos("eth1").size(), 1u);
    // eth0 and then eth1 stall while another link is healthy: both are penalised.
    b.acusar("eth2", {}, 100);
    for (double t = 100.25; t < 102.3; t += 0.25) {
        b.acusarTodo("eth2", t);
        b.revisar(t);
    }
    EXPECT_TRUE(b.anotado("red atorada: Ethernet"));
    EXPECT_TRUE(b.anotado("red atorada: Wi-Fi"));
    b.acusarTodo("eth2", 102.3);
    for (auto bsd : {"eth0", "eth1"}) {
        b.revisar(102.35);
        b.recibir(bsd, "TM1 r\nOK\n", 102.35);
        ASSERT_TRUE(b.enlace(bsd).castigado(102.4));
        b.salida[bsd].clear();
    }
    // Penalised links are avoided while an unpenalised one qualifies, however loaded.
    ASSERT_TRUE(b.mandar(std::string(100000, 'a'), 102.4));
    ASSERT_TRUE(b.mandar("x", 102.4));
    EXPECT_EQ(b.marcos("eth2").size(), 2u);
    // With every link penalised chunks still go to the least loaded of them: eth2's two go
    // one to each, and the next to the emptier one.
    b.redes.erase("eth2");
    b.revisar(102.6);
    EXPECT_EQ(b.marcos("eth0").size(), 1u);
    EXPECT_EQ(b.marcos("eth1").size(), 1u);
    ASSERT_TRUE(b.mandar("y", 102.6));
    EXPECT_EQ(b.marcos("eth1").size(), 1u);
}

TEST(Despacho, esperaDelProductorEsLaQueDeVerdadPasa) {
    Banco b;
    b.admitir("eth0", 100);
    std::string trozo(65536, 'a');
    int tomados = 0;
    for (std::uint32_t i = 0; i < 3; ++i) tomados += b.intentar(i, trozo, 100);
    EXPECT_EQ(tomados, 2);  // 131072 in flight fills the window
    // Refused at 100.0 and still waiting: half of the shortest interval.
    auto pr = b.d.tomarPresion(100.1);
    EXPECT_NEAR(pr.espera, 0.5, 1e-9);
    EXPECT_EQ(pr.unidas, 1);
    // However often the producer tries, only the time counts: taken at 100.35.
    for (double t = 100.11; t < 100.3; t += 0.004) EXPECT_FALSE(b.intentar(2, trozo, t));
    b.acusar("eth0", {0, 1}, 100.3);
    EXPECT_TRUE(b.intentar(2, trozo, 100.35));
    EXPECT_NEAR(b.d.tomarPresion(100.6).espera, 0.25 / 0.5, 1e-9);
    // Two producers (an encoder handover) held back the whole interval read 1, never more.
    std::uint32_t s = 3;
    while (b.intentar(s, trozo, 100.6)) ++s;
    EXPECT_FALSE(b.intentar(s + 1, trozo, 100.6));
    EXPECT_EQ(b.d.tomarPresion(101.6).espera, 1.0);
    // The throughput of the same reading.
    b.acusar("eth0", {2}, 101.7);
    EXPECT_EQ(b.d.tomarPresion(101.8).kbps, int(65536.0 * 8 / 0.2 / 1000));
}

// The uplink publishes its pressure at each check and the ladder reads it less often: the checks'
// intervals summed read as one interval, waits and acknowledgements included.
TEST(Despacho, laPresionPorTramosSumaLoMismoQueDeUnaVez) {
    auto historia = [](Banco& b, const std::function<void(double)>& revisado) {
        b.admitir("eth0", 100);
        const std::string trozo(65536, 'a');
        for (std::uint32_t i = 0; i < 3; ++i) b.intentar(i, trozo, 100);  // the third waits
        revisado(100.25);
        b.acusar("eth0", {0, 1}, 100.3);
        b.intentar(2, trozo, 100.4);
        revisado(100.5);
        b.acusar("eth0", {2}, 100.6);
        b.intentar(3, trozo, 100.7);
        b.intentar(4, trozo, 100.7);
        b.intentar(5, trozo, 100.7);  // waits past the end
        revisado(100.75);
    };
    Banco entera, partida;
    historia(entera, [](double) {});
    const Presion una = entera.d.tomarPresion(101);
    TramoPresion suma;
    historia(partida, [&](double t) { suma.sumar(partida.d.tomarTramo(t)); });
    suma.sumar(partida.d.tomarTramo(101));
    const Presion sumada = suma.presion();
    EXPECT_GT(una.kbps, 0);
    EXPECT_GT(una.espera, 0);
    EXPECT_EQ(sumada.kbps, una.kbps);
    EXPECT_NEAR(sumada.espera, una.espera, 1e-9);
    EXPECT_EQ(sumada.unidas, una.unidas);
}

TEST(Despacho, copiaTardiaYEntregados) {
    Banco b;
    b.redes["eth1"] = "Wi-Fi";
    b.admitir("eth0", 100);
    b.admitir("eth1", 100);
    ASSERT_TRUE(b.mandar("dato", 100));  // seq 0 on eth0
    b.marcos("eth0");
    // u = 2·0 + 0.15 → at least 0.25 s: not yet at 100.2, copied by 100.3.
    b.revisar(100.2);
    EXPECT_TRUE(b.marcos("eth1").empty());
    b.revisar(100.3);
    auto copia = b.marcos("eth1");
    ASSERT_EQ(copia.size(), 1u);
    EXPECT_EQ(copia[0].seq, 0u);
    EXPECT_EQ(copia[0].datos, "dato");
    auto& e0 = b.enlace("eth0");
    auto& e1 = b.enlace("eth1");
    EXPECT_TRUE(e0.enVuelo().at(0).copia);
    EXPECT_TRUE(e1.enVuelo().at(0).copia);
    EXPECT_DOUBLE_EQ(e0.calidad(), 0.8);
    // Not copied twice.
    b.revisar(100.8);
    EXPECT_TRUE(b.marcos("eth1").empty());
    // Acknowledged first by the copy, then by the original: entregados ends empty.
    b.acusar("eth1", {0}, 100.9);
    EXPECT_EQ(b.d.entregados().count(0), 1u);
    EXPECT_DOUBLE_EQ(e1.calidad(), 1.0);
    b.acusar("eth0", {0}, 101.0);
    EXPECT_TRUE(b.d.entregados().empty());
    EXPECT_EQ(b.d.confirmadosTotal(), 8);  // both count as carried bytes
    // The copies are reported once every 30 s, per link that lost chunks.
    b.revisar(129);
    EXPECT_FALSE(b.anotado("copias por otra red"));
    b.revisar(130.5);
    EXPECT_TRUE(b.anotado("copias por otra red en 30 s: 1 trozos (Ethernet 1, calidad 80%)"));
    EXPECT_EQ(e0.copiados(), 0);
    EXPECT_EQ(b.d.cuentas().copias, 1);
}

// A slower link whose acknowledgements steadily take 0.9 s: a chunk there 0.7 s is waiting in its
// queue, not lost, and is not copied; one out past what the link's acknowledgements predict is.
TEST(Despacho, enUnEnlaceLentoSoloSeCopiaLoPerdido) {
    Banco b;
    b.admitir("eth0", 100);
    double t = 100;
    for (std::uint32_t s = 0; s < 12; ++s, t += 1) {
        ASSERT_TRUE(b.mandar("dato", t));
        b.acusar("eth0", {s}, t + 0.9);
    }
    b.redes["eth1"] = "Wi-Fi";
    b.admitir("eth1", t);
    b.marcos("eth0");
    ASSERT_TRUE(b.mandar("dato", t));
    const auto enEth0 = b.marcos("eth0").size();
    b.revisar(t + 0.7);
    EXPECT_TRUE(b.marcos(enEth0 ? "eth1" : "eth0").empty());
    b.revisar(t + 2.1);
    EXPECT_EQ(b.marcos(enEth0 ? "eth1" : "eth0").size(), 1u);
}

TEST(Despacho, caudalPorEnlaceCadaDosSegundos) {
    Banco b;
    b.admitir("eth0", 100);
    ASSERT_TRUE(b.mandar(std::string(50000, 'a'), 100));
    b.acusar("eth0", {0}, 100.1);
    b.revisar(101.9);
    EXPECT_EQ(b.enlace("eth0").kbps(), 0);  // not 2 s since creation yet
    b.revisar(102.0);
    EXPECT_EQ(b.enlace("eth0").kbps(), 200);  // 50000 bytes in 2 s
    EXPECT_EQ(b.d.resumen(102).partes[0].second, "manda 200 kbps");
}

TEST(Despacho, devolverPoneEnColaEnOrdenSoloLoQueNadieMasTiene) {
    Banco b;
    b.redes["eth1"] = "Wi-Fi";
    b.admitir("eth0", 100);
    b.admitir("eth1", 100);
    // Chunks 0 to 3 go to eth0 and are copied to eth1 when late; 4 and 5 stay on eth0 only.
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(b.mandar("t" + std::to_string(i), 100));
    b.revisar(100.3);
    ASSERT_EQ(b.marcos("eth1").size(), 4u);
    ASSERT_TRUE(b.mandar("t4", 100.3));
    ASSERT_TRUE(b.mandar("t5", 100.3));
    b.acusar("eth1", {1}, 100.35);
    ASSERT_EQ(b.d.entregados().count(1), 1u);
    // Nobody to take the chunks: drop eth1 first (everything it held is still on eth0).
    b.caer("eth1", 100.4);
    EXPECT_TRUE(b.d.cola().empty());
    EXPECT_FALSE(b.enlace("eth0").enVuelo().at(2).copia);  // the only copy left counts like any chunk
    EXPECT_EQ(b.d.entregados().count(1), 1u);
    b.d.sondear(1000, 1, 100.4);
    b.revisar(100.45);  // a filler goes out on eth0; it is never sent again
    ASSERT_EQ(b.enlace("eth0").enVuelo().count(0xFFFFFF00), 1u);
    b.caer("eth0", 100.5);
    std::vector<std::uint32_t> cola;
    for (auto& [s, d] : b.d.cola()) cola.push_back(s);
    EXPECT_EQ(cola, (std::vector<std::uint32_t>{0, 2, 3, 4, 5}));
    EXPECT_TRUE(b.d.entregados().empty());
    EXPECT_TRUE(b.anotado("red caída: Ethernet (7 trozos se reenvían por las demás)"));
    // Forced out in order at the next admission, even beyond the window.
    b.revisar(102.6);
    b.recibir("eth0", "TM1 r\n", 102.6);
    b.salida["eth0"].clear();
    b.recibir("eth0", "OK\n", 102.6);
    auto m = b.marcos("eth0");
    ASSERT_EQ(m.size(), 5u);
    EXPECT_EQ(m[0].seq, 0u);
    EXPECT_EQ(m[4].datos, "t5");
    EXPECT_TRUE(b.d.cola().empty());
}

TEST(Despacho, colaLlenaDetieneNuevosTrozos) {
    Banco b;
    b.admitir("eth0", 100);
    for (int i = 0; i < 64; ++i) ASSERT_TRUE(b.mandar("x", 100));
    b.caer("eth0", 100);
    ASSERT_EQ(b.d.cola().size(), 64u);
    b.redes["eth1"] = "Wi-Fi";
    b.revisar(100.5);  // eth1 connects but is not admitted: the queue stays
    EXPECT_FALSE(b.mandar("y", 100.5));
}

TEST(Despacho, atascoConOtraSanaCastigaYReconectaEnLaSiguienteRevision) {
    Banco b;
    b.redes["eth1"] = "Wi-Fi";
    b.admitir("eth0", 100);
    b.admitir("eth1", 100);
    ASSERT_TRUE(b.mandar("a", 100));  // on eth0
    // eth1 keeps acknowledging (an unknown number is still a sign of life).
    b.acusar("eth1", {999}, 102.0);
    b.revisar(102.1);
    EXPECT_TRUE(b.anotado("red atorada: Ethernet (1 trozos se van por las demás; se reconecta y queda 4 s en observación)"));
    auto& e0 = b.enlace("eth0");
    EXPECT_FALSE(e0.conectado());
    EXPECT_EQ(e0.intentoEn(), 0);
    EXPECT_EQ(e0.fallas(), 1);
    // The chunk moved to eth1.
    EXPECT_EQ(b.enlace("eth1").enVuelo().count(0), 1u);
    int antes = b.conexiones["eth0"];
    b.revisar(102.35);
    EXPECT_EQ(b.conexiones["eth0"], antes + 1);
    b.recibir("eth0", "TM1 r\nOK\n", 102.4);
    EXPECT_TRUE(b.anotado("red unida: Ethernet (en observación 3 s)"));
    EXPECT_EQ(b.d.resumen(102.4).partes[0].second, "en observación");
    // 90 s after the penalty ended the count starts over.
    b.revisar(196.0);
    EXPECT_EQ(b.enlace("eth0").fallas(), 1);
    b.revisar(196.3);
    EXPECT_EQ(b.enlace("eth0").fallas(), 0);
    EXPECT_TRUE(b.anotado("red recuperada: Ethernet"));
}

TEST(Despacho, enlaceOciosoQueMurioSeDescubrePorSuLatido) {
    Banco b;
    b.redes["eth1"] = "Wi-Fi";
    b.admitir("eth0", 100);
    b.admitir("eth1", 100);
    // eth1 goes silent for good; eth0 answers everything. Nothing is streamed yet, so the links
    // are idle: a second later each gets one filler chunk as a keep-alive.
    b.revisar(100.75);
    EXPECT_TRUE(b.marcos("eth1").empty());
    b.revisar(101.0);
    auto latido = b.marcos("eth1");
    ASSERT_EQ(latido.size(), 1u);
    EXPECT_GE(latido[0].seq, 0xFFFFFF00u);
    b.acusarTodo("eth0", 101.05);
    // Answered keep-alives carry nothing: no throughput, no probe figure, no quality gained.
    EXPECT_EQ(b.d.confirmadosTotal(), 0);
    EXPECT_EQ(b.d.sondeo(101.05).confirmado, 0);
    for (double t = 101.25; t <= 103.0; t += 0.25) {
        b.acusarTodo("eth0", t);
        b.revisar(t);
    }
    EXPECT_FALSE(b.anotado("red atorada: Wi-Fi"));
    b.acusarTodo("eth0", 103.25);
    b.revisar(103.25);
    EXPECT_TRUE(b.anotado("red atorada: Wi-Fi (1 trozos se van por las demás; se reconecta y queda 4 s en observación)"));
    EXPECT_FALSE(b.anotado("red atorada: Ethernet"));
    // Before the stream needed it: its first chunks go to the link that answers.
    b.revisar(103.5);
    b.recibir("eth1", "TM1 r\nOK\n", 103.5);
    b.marcos("eth0");
    b.marcos("eth1");
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(b.mandar("dato", 103.5));
    EXPECT_EQ(b.marcos("eth0").size(), 3u);
    EXPECT_TRUE(b.marcos("eth1").empty());
}

TEST(Despacho, relayQueAcusaLoQueNoLeyoNoLlenaLaMemoria) {
    // The relay acknowledges every chunk as if read, but reads nothing: the connection cannot
    // write and would keep every byte handed to it.
    Banco b;
    b.atascadas.insert("eth0");
    b.admitir("eth0", 100);
    const std::string trozo(10000, 'v');  // 1 MB/s
    std::int64_t mayor = 0;
    double t = 100;
    for (; t < 110 && !b.anotado("red atorada"); t += 0.01) {
        if (b.enlace("eth0").listo() && b.mandar(trozo, t)) b.acusarTodo("eth0", t);
        mayor = std::max(mayor, b.enlace("eth0").sinMandar());
        if (int(std::lround(t * 100)) % 25 == 0) b.revisar(t);
    }
    ASSERT_TRUE(b.anotado("red atorada: Ethernet"));
    // A few seconds of the stream at most, then the link and what it held are let go.
    EXPECT_GT(b.d.topeSinMandar(), 2'000'000);
    EXPECT_LT(b.d.topeSinMandar(), 4'000'000);
    EXPECT_LE(mayor, b.d.topeSinMandar() + 300'000);
    EXPECT_EQ(b.enlace("eth0").sinMandar(), 0);
    EXPECT_LT(t, 104.5);
    // A connection that writes what it gets is never judged so, however long it streams.
    Banco h;
    h.admitir("eth0", 100);
    for (t = 100; t < 110; t += 0.01) {
        if (h.mandar(trozo, t)) h.acusarTodo("eth0", t);
        if (int(std::lround(t * 100)) % 25 == 0) h.revisar(t);
    }
    EXPECT_FALSE(h.anotado("red atorada"));
    EXPECT_GT(h.d.confirmadosTotal(), 9'000'000);
}

TEST(Despacho, respaldoSeMandaAlAdmitirConGraciaYSeConfirmaUnaVez) {
    AjustesReparto a = Banco::base();
    a.respaldo = std::string("JPEGDATA");
    Banco b(a);
    b.revisar(100);
    b.recibir("eth0", "TM1 r\n", 100);
    b.salida["eth0"].clear();
    b.recibir("eth0", "OK\n", 100);
    auto m = b.marcos("eth0");
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].seq, 0xFFFFFFFFu);
    EXPECT_EQ(m[0].datos, "JPEGDATA");
    EXPECT_EQ(b.enlace("eth0").graciaHasta(), 110);
    // Offered again only 12 s after the last attempt.
    b.caer("eth0", 101);
    b.revisar(103.5);
    b.recibir("eth0", "TM1 r\nOK\n", 103.5);
    EXPECT_EQ(b.salida["eth0"].find("JPEGDATA"), std::string::npos);
    b.caer("eth0", 104);
    b.revisar(112.5);
    b.recibir("eth0", "TM1 r\n", 112.5);
    b.salida["eth0"].clear();
    b.recibir("eth0", "OK\n", 112.5);
    EXPECT_NE(b.salida["eth0"].find("JPEGDATA"), std::string::npos);
    b.acusar("eth0", {0xFFFFFFFF, 0xFFFFFFFF}, 113);
    EXPECT_TRUE(b.d.respaldoListo());
    EXPECT_EQ(b.enlace("eth0").graciaHasta(), 0);
    int n = 0;
    for (auto& l : b.bitacora) n += l == "pantalla de sin internet entregada al servidor";
    EXPECT_EQ(n, 1);
}

TEST(Despacho, sondeoSieteDecimosYNadaConCola) {
    Banco b;
    b.admitir("eth0", 100);
    b.d.sondear(2000, 3, 100);
    EXPECT_EQ(b.d.sondeo(110).tocaba, 750000);
    // 7/10 of a 131072-byte window is 91750: with 83558 bytes in flight one filler still fits,
    // and only one.
    ASSERT_TRUE(b.mandar(std::string(83558, 'a'), 100));
    b.marcos("eth0");
    b.revisar(101);
    auto m = b.marcos("eth0");
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].seq, 0xFFFFFF00u);
    EXPECT_EQ(m[0].datos, std::string(8192, '\0'));
    EXPECT_TRUE(b.enlace("eth0").enVuelo().at(0xFFFFFF00).copia);
    b.acusar("eth0", {0xFFFFFF00}, 101.1);
    EXPECT_EQ(b.d.sondeo(101.1).confirmado, 8192);
    ASSERT_TRUE(b.mandar("b", 101.1));  // one byte more: no filler fits now
    b.marcos("eth0");
    b.revisar(101.2);
    EXPECT_TRUE(b.marcos("eth0").empty());
}

// A probe asking for more than one window a round trip, on a 40 ms link that carries everything:
// the filler follows the acknowledgements and opens the window, so what it asked for arrives.
TEST(Despacho, sondeoSigueLosAcusesYAbreLaVentana) {
    Banco b;
    b.admitir("eth0", 100);
    b.d.sondear(30000, 4, 100);
    std::multimap<double, std::uint32_t> acuses;
    double t = 100, revision = 100;
    while (t < 104) {
        for (auto& m : b.marcos("eth0")) acuses.emplace(t + 0.04, m.seq);
        if (!acuses.empty() && acuses.begin()->first < revision) {
            t = acuses.begin()->first;
            b.acusar("eth0", {acuses.begin()->second}, t);
            acuses.erase(acuses.begin());
        } else {
            t = revision;
            b.revisar(t);
            revision += 0.25;
        }
    }
    const Sondeo s = b.d.sondeo(104);
    EXPECT_GE(10 * s.confirmado, 9 * s.tocaba) << s.confirmado << " de " << s.tocaba;
    EXPECT_GT(b.enlace("eth0").ventana(), 2 * Enlace::ventanaInicial);
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
    EXPECT_TRUE(b.intentar(0, std::string(10, 'a'), 200));
    EXPECT_DOUBLE_EQ(b.d.fichas(), 62500 - 10);
    EXPECT_FALSE(b.intentar(1, std::string(62500, 'a'), 200));
    EXPECT_TRUE(b.intentar(1, std::string(62490, 'a'), 200));
    // 0.125 s later: 15625 bytes more.
    EXPECT_FALSE(b.intentar(2, std::string(15626, 'a'), 200.125));
    EXPECT_TRUE(b.intentar(2, std::string(15625, 'a'), 200.125));
}

TEST(Despacho, terminarMandaElFinYLuegoNada) {
    Banco b;
    b.admitir("eth0", 100);
    ASSERT_TRUE(b.mandar("a", 100));
    b.cumplir(b.d.terminar(101));
    auto m = b.marcos("eth0");
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[1].seq, 1u);
    EXPECT_TRUE(m[1].datos.empty());
    EXPECT_FALSE(b.d.activo());
    auto i = b.d.intentar(b.d.numerar(), "b", 101);
    EXPECT_FALSE(i.tomado);
    EXPECT_FALSE(i.activo);
    EXPECT_TRUE(b.d.terminar(102).empty());
    EXPECT_TRUE(b.marcos("eth0").empty());
    // Later every connection closes.
    auto cierre = b.d.cerrar();
    ASSERT_EQ(cierre.size(), 1u);
    EXPECT_EQ(cierre[0], (Accion{Accion::Tipo::soltar, "eth0", {}}));
    EXPECT_TRUE(b.d.enlaces().empty());
}

TEST(Despacho, sinRedSoloTrasHaberEstadoUnida) {
    Banco b;
    for (double t = 100; t < 130; t += 0.25) b.revisar(t);  // never admitted
    EXPECT_FALSE(b.d.sinRedDesde());
    b.admitir("eth0", 130);
    b.revisar(130.25);
    b.caer("eth0", 130.3);
    EXPECT_FALSE(b.d.sinRedDesde());
    b.revisar(130.5);
    EXPECT_EQ(b.d.sinRedDesde(), 130.5);
    b.revisar(132.6);
    b.recibir("eth0", "TM1 r\nOK\n", 132.6);
    EXPECT_FALSE(b.d.sinRedDesde());
}

TEST(Despacho, corteSimuladoSueltaYNoReconecta) {
    AjustesReparto a = Banco::base();
    a.corte = std::make_pair(101.0, 104.0);
    Banco b(a);
    b.admitir("eth0", 100);
    b.revisar(101.5);
    EXPECT_FALSE(b.enlace("eth0").conectado());
    b.revisar(103.9);
    EXPECT_EQ(b.conexiones["eth0"], 1);
    b.revisar(104.0);
    EXPECT_EQ(b.conexiones["eth0"], 2);
}

TEST(Despacho, interfazQueDesapareceSeSuelta) {
    Banco b;
    b.redes["eth1"] = "Wi-Fi";
    b.admitir("eth0", 100);
    b.admitir("eth1", 100);
    ASSERT_TRUE(b.mandar("a", 100));  // on eth0
    b.redes.erase("eth0");
    b.revisar(100.6);
    EXPECT_EQ(b.d.enlaces().count("eth0"), 0u);
    EXPECT_EQ(b.enlace("eth1").enVuelo().count(0), 1u);
}

TEST(Despacho, resumenYDetalle) {
    Banco b;
    b.redes = {{"wlan0", "Wi-Fi"}, {"eth0", "Ethernet"}};
    b.admitir("wlan0", 100);
    ASSERT_TRUE(b.mandar(std::string(625000, 'a'), 100));
    b.acusar("wlan0", {0}, 100.5);
    b.revisar(102);
    auto r = b.d.resumen(102);
    EXPECT_EQ(r.unidas, 1);
    ASSERT_EQ(r.partes.size(), 2u);
    EXPECT_EQ(r.partes[0], std::make_pair(std::string("Ethernet"), std::string("conectando…")));
    EXPECT_EQ(r.partes[1].second, "manda 2.5 Mbps");
    auto d = b.d.detalle(102);
    EXPECT_EQ(d[1]["n"], "Wi-Fi");
    EXPECT_EQ(d[1]["estado"], "unida");
    EXPECT_EQ(d[0]["estado"], "conectando");
}
