// The life of a transmission in simulated time: what each event orders, and when.
#include "sesion/sesion.h"

#include <gtest/gtest.h>

namespace tt {
namespace {

template <class T>
const T* buscar(const Ordenes& o) {
    for (const auto& x : o)
        if (auto* p = std::get_if<T>(&x)) return p;
    return nullptr;
}
template <class T>
int contar(const Ordenes& o) {
    int n = 0;
    for (const auto& x : o) n += std::holds_alternative<T>(x);
    return n;
}
std::string avisos(const Ordenes& o) {
    std::string s;
    for (const auto& x : o)
        if (auto* a = std::get_if<orden::Avisar>(&x)) s += a->texto + (a->error ? "!" : "") + "|";
    return s;
}

Pase pase(const std::string& sid, int segundos = 3600) { return Pase{"relay:7935", sid, "llave", "pase", segundos}; }
SesionGuardada guardada(const std::string& sid, bool detenida = false) {
    auto s = SesionGuardada::de(pase(sid), "Mi canal", 1.7e9, "sala");
    if (detenida) s.detenida = true;
    return s;
}
const Sesion::Pedido pedido{true, "rtmp://ingesta/app/clave", "Mi canal"};

struct Banco {
    explicit Banco(std::optional<SesionGuardada> r = std::nullopt, double silencio = INFINITY)
        : s({}, std::move(r), silencio, 100, 1.8e9) {
        s.ponerCuenta("sala");
        s.ponerListo(100, true);
    }
    // Presses the button and grants the permission at `t`.
    Ordenes alAire(double t, const std::string& sid = "s1", int segundos = 3600) {
        auto o = s.pulsar(t, pedido);
        EXPECT_TRUE(buscar<orden::PedirPase>(o));
        return s.alPase(t, pase(sid, segundos), std::nullopt);
    }
    Sesion s;
};

TEST(Sesion, paradaMarcaElRegistroYPideElCierreDiezSegundosDespuesHastaQueElRelayConfirma) {
    Banco b;
    auto o = b.alAire(100);
    ASSERT_TRUE(buscar<orden::Guardar>(o));
    EXPECT_EQ(buscar<orden::Guardar>(o)->s.sid, "s1");
    EXPECT_TRUE(buscar<orden::Empezar>(o));
    EXPECT_TRUE(b.s.estado().conPase);
    EXPECT_EQ(avisos(o), "Transmitiendo a Kick: Mi canal.|");

    o = b.s.pulsar(130, pedido);
    EXPECT_TRUE(buscar<orden::Detener>(o));
    EXPECT_TRUE(buscar<orden::Detenida>(o));
    EXPECT_EQ(buscar<orden::MarcarDetenida>(o)->sid, "s1");
    EXPECT_FALSE(b.s.estado().alAire);
    EXPECT_FALSE(buscar<orden::Hablar>(b.s.tic(139.9)));
    o = b.s.tic(140);
    ASSERT_TRUE(buscar<orden::Hablar>(o));
    EXPECT_EQ(buscar<orden::Hablar>(o)->tipo, "TM4");
    // A refusal closes nothing: asked again 5 s later, not before.
    EXPECT_TRUE(b.s.alCharla(141, buscar<orden::Hablar>(o)->charla, "ERROR").empty());
    EXPECT_FALSE(buscar<orden::Hablar>(b.s.tic(145.9)));
    o = b.s.tic(146);
    ASSERT_TRUE(buscar<orden::Hablar>(o));
    o = b.s.alCharla(146.5, buscar<orden::Hablar>(o)->charla, "CERRADA");
    EXPECT_EQ(buscar<orden::Borrar>(o)->sid, "s1");
    EXPECT_FALSE(b.s.registro());
    EXPECT_FALSE(b.s.estado().cerrando);
    EXPECT_FALSE(b.s.despertar());
}

TEST(Sesion, unPermisoNuevoCierraElRegistroRecienteDeOtraTransmisionYElCorteDelServidorNoPideCierre) {
    Banco b(guardada("viejo", true), 20);
    auto o = b.alAire(100, "nuevo");
    // The old one was stopped: it may still be sending, so the relay is told 10 s later.
    EXPECT_FALSE(buscar<orden::Hablar>(o));
    EXPECT_EQ(b.s.registro()->sid, "nuevo");
    o = b.s.tic(110);
    ASSERT_TRUE(buscar<orden::Hablar>(o));
    EXPECT_EQ(buscar<orden::Hablar>(o)->s.sid, "viejo");
    // Closed by the service: the record goes, nobody is asked to close it.
    o = b.s.alCortar(120, true, "Se acabaron tus horas de transmisión.");
    EXPECT_EQ(buscar<orden::Borrar>(o)->sid, "nuevo");
    EXPECT_FALSE(buscar<orden::MarcarDetenida>(o));
    EXPECT_EQ(avisos(o), "Se acabaron tus horas de transmisión.!|");
    for (double t = 121; t < 150; t += 1) EXPECT_FALSE(buscar<orden::Hablar>(b.s.tic(t)));
}

TEST(Sesion, laPulsacionConUnRegistroAbiertoPreguntaAlRelayYRetomaCuandoHayCamara) {
    Banco b(guardada("abierta"), 30);
    auto o = b.s.pulsar(100, pedido);
    EXPECT_FALSE(buscar<orden::PedirPase>(o));
    ASSERT_TRUE(buscar<orden::Hablar>(o));
    EXPECT_EQ(buscar<orden::Hablar>(o)->tipo, "TM3");
    EXPECT_TRUE(b.s.pulsar(101, pedido).empty());  // a second press while checking does nothing
    b.s.ponerListo(101, false);
    o = b.s.alCharla(102, buscar<orden::Hablar>(o)->charla, "VIVA 600");
    ASSERT_TRUE(buscar<orden::PreguntarAbierta>(o));
    EXPECT_EQ(buscar<orden::PreguntarAbierta>(o)->segundos, 600);
    EXPECT_TRUE(b.s.pulsar(103, pedido).empty());  // nor while the question is open
    // "Seguir transmitiendo" 10 s later, before the camera is ready: it waits for it.
    o = b.s.alResponderAbierta(112, true);
    EXPECT_FALSE(buscar<orden::Empezar>(o));
    o = b.s.ponerListo(115, true);
    ASSERT_TRUE(buscar<orden::Empezar>(o));
    EXPECT_TRUE(buscar<orden::Empezar>(o)->retomada);
    EXPECT_EQ(buscar<orden::Empezar>(o)->pase->sid, "abierta");
    EXPECT_EQ(avisos(o), "Sigues al aire en Mi canal.|");
    EXPECT_DOUBLE_EQ(b.s.estado().inicio, 115 - 613);  // the time on air counts from the first start
    EXPECT_DOUBLE_EQ(b.s.registro()->inicio, 1.7e9);   // and the record keeps its first date
}

TEST(Sesion, sinRespuestaDelRelayLaPulsacionSigueYAlAbrirSeVuelveAPreguntarSieteVeces) {
    {
        Banco b(guardada("abierta"), 30);
        auto o = b.s.pulsar(100, pedido);
        o = b.s.alCharla(107, buscar<orden::Hablar>(o)->charla, std::nullopt);
        EXPECT_TRUE(buscar<orden::PedirPase>(o));
        EXPECT_EQ(b.s.registro()->sid, "abierta");  // kept for the next check
    }
    Banco b(guardada("abierta"), 30);
    b.s.alAbrir(100);
    EXPECT_TRUE(b.s.tic(102.4).empty());
    int preguntas = 0;
    for (double t = 102.5; t < 200; t += 0.5) {
        auto o = b.s.tic(t);
        if (auto* h = buscar<orden::Hablar>(o)) {
            ++preguntas;
            EXPECT_EQ(h->tipo, "TM3");
            b.s.alCharla(t, h->charla, std::nullopt);
        }
    }
    EXPECT_EQ(preguntas, 7);
}

TEST(Sesion, salirAlAirePreguntaYCortaYCierraConElRelayOCuatroSegundosDespues) {
    for (bool contesta : {true, false}) {
        Banco b;
        b.alAire(100);
        auto o = b.s.pedirSalida(110, true);
        EXPECT_EQ(contar<orden::PreguntarCierre>(o), 1);
        EXPECT_TRUE(b.s.alResponderCierre(111, false).empty());  // "Seguir transmitiendo"
        EXPECT_TRUE(b.s.estado().alAire);
        Ordenes cerrar;
        EXPECT_FALSE(b.s.alCerrarVentana(112, cerrar));
        EXPECT_EQ(contar<orden::PreguntarCierre>(cerrar), 1);
        o = b.s.alResponderCierre(113, true);  // "Cortar y cerrar"
        EXPECT_TRUE(buscar<orden::Detener>(o));
        EXPECT_TRUE(buscar<orden::MarcarDetenida>(o));
        ASSERT_TRUE(buscar<orden::Hablar>(o));
        EXPECT_FALSE(buscar<orden::Salir>(o));
        const int charla = buscar<orden::Hablar>(o)->charla;
        if (contesta) {
            o = b.s.alCharla(114, charla, "CERRADA");
            EXPECT_TRUE(buscar<orden::Borrar>(o));
            EXPECT_EQ(contar<orden::Salir>(o), 1);
        } else {
            EXPECT_FALSE(buscar<orden::Salir>(b.s.tic(116.9)));
            EXPECT_EQ(contar<orden::Salir>(b.s.tic(117)), 1);
            EXPECT_FALSE(buscar<orden::Salir>(b.s.alCharla(118, charla, "CERRADA")));
        }
        Ordenes nada;
        EXPECT_TRUE(b.s.alCerrarVentana(118, nada));  // the quit's own close goes through
        EXPECT_TRUE(nada.empty());
    }
}

TEST(Sesion, elSaldoAvisaUnaVezBajoCincoMinutosYUnaRecargaLoRearma) {
    Banco b;
    b.alAire(100, "s1", 310);
    EXPECT_EQ(avisos(b.s.latido(110, false)), "");
    EXPECT_EQ(avisos(b.s.latido(111, false)), "Te quedan menos de 5 minutos de transmisión.!|");
    EXPECT_EQ(avisos(b.s.latido(112, false)), "");
    EXPECT_EQ(b.s.saldoRestante(112), 298);
    b.s.alSaldo(113, 3600);  // hours added on air
    EXPECT_EQ(b.s.saldoRestante(113), 3600);
    EXPECT_FALSE(b.s.estado().avisoSaldo);
    // A record touched only while the relay hears from us.
    EXPECT_TRUE(buscar<orden::Tocar>(b.s.latido(114, false)));
    EXPECT_FALSE(buscar<orden::Tocar>(b.s.latido(115, true)));
}

TEST(Sesion, elDestinoDeOtraTransmisionSeIgnoraYElPropioCambiaElAvisoUnaVez) {
    Banco b;
    b.alAire(100);
    EXPECT_TRUE(b.s.alDestino(101, "otra", false).empty());
    EXPECT_EQ(avisos(b.s.alDestino(102, "s1", false)), "Kick no está recibiendo la transmisión. Reintentando…!|");
    EXPECT_TRUE(b.s.estado().sinDestino);
    EXPECT_TRUE(b.s.alDestino(103, "s1", false).empty());
    EXPECT_EQ(avisos(b.s.alDestino(104, "s1", true)), "Kick volvió a recibir la transmisión.|");
    EXPECT_FALSE(b.s.estado().sinDestino);
}

TEST(Sesion, unaRetomadaSinCamaraVeinteSegundosSeTerminaConElRelay) {
    Banco b(guardada("abierta"), 30);
    b.s.ponerListo(100, false);
    auto o = b.s.pulsar(100, pedido);
    b.s.alCharla(101, buscar<orden::Hablar>(o)->charla, "VIVA 60");
    b.s.alResponderAbierta(102, true);
    EXPECT_FALSE(buscar<orden::Hablar>(b.s.tic(121.9)));
    o = b.s.tic(122);
    ASSERT_TRUE(buscar<orden::Hablar>(o));
    EXPECT_EQ(buscar<orden::Hablar>(o)->tipo, "TM4");
    EXPECT_NE(avisos(o).find("No hay cámara lista"), std::string::npos);
    EXPECT_TRUE(b.s.ponerListo(123, true).empty());  // too late: nothing starts
}

}  // namespace
}  // namespace tt
