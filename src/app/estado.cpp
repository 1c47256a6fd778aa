// The live status display and the quality ladder as the window sees them: one 0.25 s tick reads
// the engine, hands the readings to the pure cores and paints or carries out what they answer.
#include "app/app.h"
#include "ui/editor.h"
#include "ui/hoja_canales.h"
#include "ui/tarjeta.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "sesion/pendiente.h"
#include "engine/motor.h"
#include "pantallas/almacen.h"
#include "quality/texto_redes.h"
#include "ui/tarjeta.h"
#include "ui/ventana_principal.h"
#include "uplink/redes.h"

#include <QTimer>

#include <cmath>

namespace tt {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

void App::armarEstado() {
    vigilarRedes();
    auto* reloj = new QTimer(this);
    connect(reloj, &QTimer::timeout, this, &App::refrescar);
    reloj->start(250);
}

// The network line follows the watch while idle and the uplink's links while on air; a changed
// list of networks is measured again unless a transmission is using them.
void App::vigilarRedes() {
    redes->alCambiar = [this] { pintarRedes(); };
    redes->alCambiarRedes = [this] {
        if (!motor->estaVivo()) redes->medir();
    };
    redes->arrancar();
}

void App::pintarRedes() {
    const auto t = textoRedes(motor->redesUnidas(), redes->nombres(), redes->sube(), redes->midiendo());
    lineaRedes = t.texto;
    using Tono = VentanaPrincipal::Tono;
    ventana->ponerRedes(q(t.texto), t.color == TextoRedes::rojo      ? Tono::rojo
                                    : t.color == TextoRedes::naranja ? Tono::naranja
                                                                     : Tono::secundario);
}

void App::refrescar() {
    const double t = ahora();
    // The synthetic camera has no microphone behind it: a gentle wave shows the meter works.
    ventana->ponerNivel(entorno().tiene(Tm::camaraFalsa) ? float(std::abs(std::sin(3 * t)) * 0.05 + 0.03)
                                                         : float(motor->picoAudio()));
    if (!motor->estaVivo()) return;

    const auto f = motor->figuras();
    Tablero::Lectura l;
    l.enPausa = motor->cortado();
    l.saltados = f.saltados;
    l.ultimoVideoEn = f.ultimoVideoEn;
    l.bytes = f.bytesPrevios + f.totalBytesProceso;
    l.ritmo = f.ritmo;
    l.cps = f.cpsCompresor;
    if (auto r = almacen->deRespaldo()) l.respaldo = r->nombre;
    const auto c = tablero.refrescar(t, l);
    cifras.tomar(c);
    for (const auto& a : c.avisos) decir(q(a.texto), a.error);
    pintarRedes();
    if (c.toca) {
        hacer(sesion->latido(t, l.enPausa));
        cuidarCalidad(t);
        if (entorno().tiene(Tm::depurar)) bitacora(motor->depuracion());
        if (c.lento) decir(q(c.lento->texto), c.lento->error);
    }
    pintarEstado();
}

void App::cuidarCalidad(double t) {
    const auto& e = entorno();
    Escalera::Lectura l;
    l.quieta = e.tiene(Tm::calidad) || e.tiene(Tm::calidadFija);
    l.enPausa = motor->cortado();
    if (!l.quieta) l.presion = motor->tomarPresion();
    if (l.presion && escalera.sondeando()) l.sondeo = motor->sondeo();
    l.depurar = e.tiene(Tm::depurar);
    if (l.depurar && l.presion) l.enlaces = motor->enlaces();
    const int desde = escalera.escalon();
    const auto r = escalera.cuidar(t, l, [this](int kbps, bool urgente) { return motor->cambiarCalidad(kbps, urgente); });
    if (r.sondear) motor->sondear(r.sondear->first, r.sondear->second);
    for (const auto& linea : r.bitacora) bitacora(linea);
    if (r.desde) alCambiarEscalon(desde);
    if (r.aviso) decir(q(r.aviso->texto), r.aviso->error);
}

bool App::ponerEscalon(int i) {
    const int desde = escalera.escalon();
    if (!escalera.ponerEscalon(i, [this](int kbps, bool urgente) { return motor->cambiarCalidad(kbps, urgente); }))
        return false;
    alCambiarEscalon(desde);
    return true;
}

// Entering the audio-only rung puts the "audio" screen on air (the built-in one when the channel
// has none); leaving it brings back the screen the user chose, if it still exists.
void App::alCambiarEscalon(int desde) {
    const int ultimo = int(escalera.escalones().size()) - 1;
    if (escalera.soloAudio() && desde != ultimo) {
        auto audio = (*almacen)["audio"];
        motor->compositor.ponerEnFondo(audio ? *audio : Almacen::soloAudio(), *almacen);
    } else if (!escalera.soloAudio() && desde == ultimo) {
        if (auto p = (*almacen)[programa]) motor->compositor.ponerEnFondo(*p, *almacen);
    }
    remotoSucio = true;
    pintarEstado();
}

void App::pintarEstado() {
    if (!motor->estaVivo()) {
        ventana->ponerEstado({});
        return;
    }
    ventana->ponerEstado(
        q(lineaEstado(cifras.tiempo, cifras.sale, cifras.cps, cifras.ritmo, cifras.saltados, escalera.calidadTexto())));
}

// The cards mark the program (red on air) and the screen kept for a loss of internet; on air
// the badge over the preview names the screen.
void App::pintarEstados() {
    const bool vivo = motor->estaVivo();
    for (const auto& t : tarjetas) {
        if (!t || !t->id()) continue;
        auto p = (*almacen)[*t->id()];
        t->ponerEstado(*t->id() == programa ? (vivo ? 2 : 1) : 0, p && p->sinInternet);
    }
    if (!vivo) return;
    if (sesion->estado().sinDestino) {
        ventana->ponerInsignia(QString::fromUtf8("RECONECTANDO CON KICK"), false);
        return;
    }
    QString texto = entorno().tiene(Tm::archivo) ? "PRUEBA EN SECO" : "EN VIVO";
    if (programa != "camara")
        if (auto p = (*almacen)[programa]) texto += QString::fromUtf8(" · ") + q(p->nombre);
    ventana->ponerInsignia(texto, true);
}

void App::borrarCifras() { cifras = {}; }

}  // namespace tt
