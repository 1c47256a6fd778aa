#include "sesion/sesion.h"

#include "cuenta/textos.h"

#include <algorithm>
#include <cmath>

namespace tt {

namespace {
// The uplink ends 9 s after a stop; the relay is asked to close once it has.
constexpr double cierreTrasParar = 10;
constexpr double entreCierres = 5;
constexpr int intentosDeCierre = 9;
constexpr double entreRevisiones = 5;
constexpr int revisionesAlAbrir = 7;
constexpr double esperaSalida = 4;    // quitting waits this long for the relay's answer
constexpr double esperaCamara = 20;   // a resume waits this long for the devices
constexpr double revisarAlAbrir = 2.5;

void avisar(Ordenes& o, std::string texto, bool error = false) { o.push_back(orden::Avisar{std::move(texto), error}); }
void anotar(Ordenes& o, std::string linea) { o.push_back(orden::Anotar{std::move(linea)}); }
std::string en(const std::string& canal, const std::string& previo) { return canal.empty() ? "" : previo + canal; }
}  // namespace

Sesion::Sesion(Opciones o, std::optional<SesionGuardada> registro, double silencio, double t, double pared)
    : opciones_(o), registro_(std::move(registro)), vida_(t - silencio), paredMenosT_(pared - t) {}

double Sesion::silencio(double t) const { return registro_ ? t - vida_ : INFINITY; }

Ordenes Sesion::ponerListo(double t, bool listo) {
    Ordenes o;
    listo_ = listo;
    if (listo && retomada_ && fase_ == Fase::quieta) {
        auto r = *retomada_;
        retomada_.reset();
        retomar(t, r.s, r.segundos + (long long)(t - r.desde), o);
    }
    return o;
}

Ordenes Sesion::alAbrir(double t) {
    despues(Tarea::Que::revisar, t + revisarAlAbrir);
    return {};
}

Ordenes Sesion::pulsar(double t, const Pedido& p) {
    Ordenes o;
    if (fase_ == Fase::alAire) {
        o.push_back(orden::Detener{});
        terminar(t, false, o);
        avisar(o, "Transmisión detenida.");
        return o;
    }
    if (fase_ != Fase::quieta) return o;
    // A recent record of a transmission not stopped: the relay may still hold it open.
    if (sala_ && revisarAntesDeEmpezar(registro_, silencio(t))) {
        avisar(o, "Revisando una transmisión anterior…");
        revisar(t, 0, p, o);
        return o;
    }
    seguirPulso(t, p, o);
    return o;
}

void Sesion::seguirPulso(double t, const std::optional<Pedido>& p, Ordenes& o) {
    if (!p || fase_ != Fase::quieta) return;
    pedido_ = *p;
    if (opciones_.enSeco || !p->conPermiso || !p->destino) return empezar(t, *p, std::nullopt, o);
    fase_ = Fase::pidiendo;
    o.push_back(orden::PedirPase{*p->destino, p->canal});
    avisar(o, "Conectando con el servidor…");
}

Ordenes Sesion::alPase(double t, std::optional<Pase> pase, std::optional<std::string> error) {
    Ordenes o;
    if (fase_ != Fase::pidiendo) return o;
    fase_ = Fase::quieta;
    if (pase) {
        saldoAlEmpezar_ = pase->segundos;
        empezar(t, pedido_, std::move(pase), o);
        return o;
    }
    avisar(o, error.value_or("No se pudo conectar con el servidor."), true);
    o.push_back(orden::PedirSaldo{});
    return o;
}

void Sesion::empezar(double t, const Pedido& p, std::optional<Pase> pase, Ordenes& o) {
    if (pase) {
        auto nueva = SesionGuardada::de(*pase, p.canal, t + paredMenosT_, sala_);
        // A record of another transmission not yet confirmed closed is about to be replaced: the
        // relay is told to close that one, so it does not run on unseen. One just stopped may
        // still be sending its last pieces.
        if (registro_ && registro_->sid != nueva.sid && silencio(t) <= silencioMaximo)
            cerrar(t, {*registro_, 0, true, false, Para::nada, t + (registro_->estaDetenida() ? cierreTrasParar : 0)}, o);
        if (!tieneSid(nueva.sid)) registro_ = nueva;  // the first start's date stays
        vida_ = t;
        o.push_back(orden::Guardar{*registro_});
    }
    fase_ = Fase::alAire;
    pedido_ = p;
    sid_ = pase ? std::optional(pase->sid) : std::nullopt;
    sinDestino_ = false;
    conPase_ = pase.has_value() && !opciones_.seco;
    avisoSaldo_ = false;
    preguntandoCierre_ = false;
    inicio_ = t;
    o.push_back(orden::Empezar{p.destino, std::move(pase), false});
    if (opciones_.enSeco) avisar(o, "Grabando la prueba sin salir a Kick.");
    else if (p.destino) avisar(o, "Transmitiendo a Kick: " + p.canal + ".");
    else avisar(o, "Transmitiendo a Kick.");
}

void Sesion::retomar(double t, const SesionGuardada& s, long long segundos, Ordenes& o) {
    if (fase_ != Fase::quieta) return;
    if (!listo_) {
        if (!retomada_) {
            retomada_ = Retomada{s, segundos, t, t + esperaCamara};
            avisar(o, "Abriendo la cámara para seguir la transmisión…");
        }
        return;
    }
    retomada_.reset();
    Ordenes inicio;
    empezar(t, Pedido{true, std::nullopt, s.canal}, s.comoPase(), inicio);
    for (auto& i : inicio) {
        if (auto* e = std::get_if<orden::Empezar>(&i)) e->retomada = true;
        if (!std::holds_alternative<orden::Avisar>(i)) o.push_back(std::move(i));
    }
    saldoAlEmpezar_ = s.segundos;
    inicio_ = t - double(segundos);  // the time on air counts from the first start
    avisar(o, "Sigues al aire" + en(s.canal, " en ") + ".");
}

void Sesion::terminar(double t, bool cortoElServidor, Ordenes& o) {
    if (registro_ && !registro_->estaDetenida()) {
        if (cortoElServidor) {
            o.push_back(orden::Borrar{registro_->sid});
            registro_.reset();
        } else {
            registro_->detenida = true;
            o.push_back(orden::MarcarDetenida{registro_->sid});
            cerrar(t, {*registro_, 0, false, true, Para::nada, t + cierreTrasParar}, o);
        }
    }
    fase_ = Fase::quieta;
    conPase_ = false;
    sid_.reset();
    sinDestino_ = false;
    o.push_back(orden::Detenida{});
    despues(Tarea::Que::medirRedes, t + 3);
    despues(Tarea::Que::pedirSaldo, t + 4);
}

Ordenes Sesion::alCortar(double t, bool cortoElServidor, const std::string& texto) {
    Ordenes o;
    if (fase_ != Fase::alAire) return o;
    anotar(o, "aviso: " + texto);
    terminar(t, cortoElServidor, o);
    avisar(o, texto, true);
    return o;
}

// ---- The relay: is it open ("TM3"), close it ("TM4") ----

void Sesion::revisar(double t, int intento, std::optional<Pedido> paraEmpezar, Ordenes& o) {
    if (!sala_ || fase_ != Fase::quieta) return seguirPulso(t, paraEmpezar, o);
    switch (tt::revisar(registro_, sala_, silencio(t))) {
        case Revision::nada: return seguirPulso(t, paraEmpezar, o);
        case Revision::borrar:
            anotar(o, "transmisión abierta: sin señales hace más de 5 min, el servidor ya la cerró");
            o.push_back(orden::Borrar{registro_->sid});
            registro_.reset();
            return seguirPulso(t, paraEmpezar, o);
        case Revision::cerrar:
            cerrar(t, {*registro_, 0, false, false, Para::nada, t}, o);
            return seguirPulso(t, paraEmpezar, o);
        case Revision::preguntar: break;
    }
    fase_ = Fase::revisando;
    consulta_ = Consulta{*registro_, intento, std::move(paraEmpezar), ++charlas_};
    o.push_back(orden::Hablar{consulta_->charla, consulta_->s, "TM3"});
}

void Sesion::cerrar(double t, Cierre c, Ordenes& o) {
    cierres_.push_back(std::move(c));
    mandarCierres(t, o);
}

void Sesion::mandarCierres(double t, Ordenes& o) {
    for (auto c = cierres_.begin(); c != cierres_.end();) {
        if (!c->en || t < *c->en) {
            ++c;
            continue;
        }
        if (c->soloSiDetenida && !(tieneSid(c->s.sid) && registro_->estaDetenida())) {
            c = cierres_.erase(c);
            continue;
        }
        c->soloSiDetenida = false;
        c->en.reset();
        c->charla = ++charlas_;
        o.push_back(orden::Hablar{c->charla, c->s, "TM4"});
        ++c;
    }
}

Ordenes Sesion::alCharla(double t, int charla, const std::optional<std::string>& respuesta) {
    Ordenes o;
    if (charla != 0 && charla == charlaSalida_) {
        if (confirmaCierre(respuesta) && registro_) {
            o.push_back(orden::Borrar{registro_->sid});
            registro_.reset();
            anotar(o, "al salir: el servidor confirmó el cierre");
        }
        terminarSalida(o);
        return o;
    }
    if (consulta_ && consulta_->charla == charla) {
        auto r = std::move(*consulta_);
        consulta_.reset();
        fase_ = Fase::quieta;
        if (!sala_) {
            seguirPulso(t, r.paraEmpezar, o);
            return o;
        }
        const auto v = leerVeredicto(respuesta);
        if (v.tipo == Veredicto::abierta) {
            anotar(o, "quedó una transmisión abierta en el servidor (" + enHoras(v.segundos) + " al aire)");
            fase_ = Fase::revisando;  // while the question is open
            pregunta_ = Pregunta{r.s, v.segundos, t};
            o.push_back(orden::PreguntarAbierta{v.segundos, r.s.canal});
        } else if (v.tipo == Veredicto::cerrada) {
            if (tieneSid(r.s.sid)) {
                o.push_back(orden::Borrar{r.s.sid});
                registro_.reset();
            }
            seguirPulso(t, r.paraEmpezar, o);
        } else if (r.paraEmpezar) {
            seguirPulso(t, r.paraEmpezar, o);  // the start goes ahead; the record is kept for later
        } else if (r.intento + 1 < revisionesAlAbrir) {
            despues(Tarea::Que::revisar, t + entreRevisiones, r.intento + 1);
        }
        return o;
    }
    auto c = std::find_if(cierres_.begin(), cierres_.end(), [charla](const Cierre& c) { return c.charla == charla; });
    if (c == cierres_.end()) return o;
    Cierre cierre = std::move(*c);
    cierres_.erase(c);
    if (confirmaCierre(respuesta)) {
        if (tieneSid(cierre.s.sid)) {
            o.push_back(orden::Borrar{cierre.s.sid});
            registro_.reset();
        }
        anotar(o, "el servidor confirmó el cierre de la transmisión");
        alCerrar(t, std::move(cierre), true, o);
    } else if (cierre.intento + 1 < intentosDeCierre && (cierre.aunqueNoEste || tieneSid(cierre.s.sid))) {
        ++cierre.intento;
        cierre.en = t + entreCierres;
        cierre.charla = 0;
        cierres_.push_back(std::move(cierre));
    } else {
        alCerrar(t, std::move(cierre), false, o);
    }
    return o;
}

void Sesion::alCerrar(double t, Cierre c, bool cerrada, Ordenes& o) {
    if (c.para != Para::terminar) return;
    if (!cerrada) {
        avisar(o, "No se pudo avisar al servidor. Revisa el internet; se cerrará sola en unos minutos.", true);
        return;
    }
    anotar(o, "transmisión abierta: terminada");
    avisar(o, "Transmisión terminada.");
    despues(Tarea::Que::pedirSaldo, t + 3);
}

Ordenes Sesion::alResponderAbierta(double t, std::optional<bool> seguir) {
    Ordenes o;
    if (!pregunta_) return o;
    auto p = std::move(*pregunta_);
    pregunta_.reset();
    fase_ = Fase::quieta;
    if (!sala_ || !seguir) return o;  // closed without a choice: the record stays for the next check
    if (*seguir) {
        // It stayed on air while the question was open.
        retomar(t, p.s, p.segundos + (long long)(t - p.desde), o);
        return o;
    }
    avisar(o, "Terminando la transmisión…");
    cerrar(t, {p.s, 0, false, false, Para::terminar, t}, o);
    return o;
}

// ---- Quitting ----

Ordenes Sesion::pedirSalida(double t, bool preguntar) {
    Ordenes o;
    if (fase_ == Fase::saliendo) return o;
    if (fase_ == Fase::alAire && preguntar && !cierreConfirmado_) {
        if (!preguntandoCierre_) o.push_back(orden::PreguntarCierre{});
        preguntandoCierre_ = true;
        return o;
    }
    salir(t, o);
    return o;
}

bool Sesion::alCerrarVentana(double t, Ordenes& o) {
    if (fase_ != Fase::alAire) return true;
    auto r = pedirSalida(t, true);
    o.insert(o.end(), r.begin(), r.end());
    return false;
}

Ordenes Sesion::alResponderCierre(double t, bool cortar) {
    Ordenes o;
    preguntandoCierre_ = false;
    if (!cortar || fase_ == Fase::saliendo) return o;
    cierreConfirmado_ = true;
    salir(t, o);
    return o;
}

// Stops, marks the record stopped and tells the relay to close; the quit comes with its answer or
// 4 s later, whichever is first.
void Sesion::salir(double t, Ordenes& o) {
    if (fase_ == Fase::saliendo) return;
    const bool vivo = fase_ == Fase::alAire;
    fase_ = Fase::saliendo;
    if (vivo) {
        anotar(o, "al salir: se corta la transmisión");
        o.push_back(orden::Detener{});
    }
    if (!vivo || !registro_ || registro_->estaDetenida()) {
        o.push_back(orden::Salir{});
        return;
    }
    registro_->detenida = true;
    o.push_back(orden::MarcarDetenida{registro_->sid});
    charlaSalida_ = ++charlas_;
    salirEn_ = t + esperaSalida;
    o.push_back(orden::Hablar{charlaSalida_, *registro_, "TM4"});
}

void Sesion::terminarSalida(Ordenes& o) {
    if (!salirEn_) return;
    salirEn_.reset();
    charlaSalida_ = 0;
    o.push_back(orden::Salir{});
}

Ordenes Sesion::alTerminarProceso(double) {
    Ordenes o;
    if (fase_ != Fase::alAire) return o;
    fase_ = Fase::saliendo;
    anotar(o, "al salir: se corta la transmisión; el servidor la cierra en la próxima apertura");
    o.push_back(orden::Detener{});
    if (registro_ && !registro_->estaDetenida()) {
        registro_->detenida = true;
        o.push_back(orden::MarcarDetenida{registro_->sid});
    }
    return o;
}

// ---- The balance and the relay's word on the platform ----

std::optional<long long> Sesion::saldoRestante(double t) const {
    return tt::saldoRestante(fase_ == Fase::alAire && conPase_, saldoAlEmpezar_, t - inicio_, saldo_);
}

void Sesion::avisarSaldo(double t, Ordenes& o) {
    if (!sala_ || fase_ != Fase::alAire) return;
    if (textoSaldo(saldoRestante(t), conPase_, avisoSaldo_).avisarCinco) {
        avisoSaldo_ = true;
        avisar(o, "Te quedan menos de 5 minutos de transmisión.", true);
    }
}

Ordenes Sesion::alSaldo(double t, long long segundos) {
    Ordenes o;
    const long long antes = saldo_.value_or(0);
    saldo_ = segundos;
    if (fase_ == Fase::alAire && conPase_) {
        saldoAlEmpezar_ = segundos + (long long)std::max(0.0, t - inicio_);
        if (segundos > 299) avisoSaldo_ = false;
    } else if (segundos > antes) {
        avisar(o, "Te cargaron horas: ahora tienes " + enHoras(segundos) + " de transmisión.");
    }
    avisarSaldo(t, o);
    return o;
}

Ordenes Sesion::alSaldoLeido(double, std::optional<long long> segundos) {
    if (fase_ != Fase::alAire) saldo_ = segundos;
    return {};
}

// While the relay says the platform is not taking the stream, the notice says so instead of
// claiming all is well.
Ordenes Sesion::alDestino(double, const std::string& sid, bool publicando) {
    Ordenes o;
    if (fase_ != Fase::alAire || sid != sid_ || sinDestino_ == !publicando) return o;
    sinDestino_ = !publicando;
    if (sinDestino_) {
        anotar(o, "destino: Kick no está recibiendo la transmisión; el servidor reintenta");
        avisar(o, "Kick no está recibiendo la transmisión. Reintentando…", true);
    } else {
        anotar(o, "destino: Kick recibe la transmisión otra vez");
        avisar(o, "Kick volvió a recibir la transmisión.");
    }
    return o;
}

Ordenes Sesion::latido(double t, bool enPausa) {
    Ordenes o;
    if (fase_ != Fase::alAire) return o;
    // A sign of life for the record while the relay hears from us.
    if (sid_ && !enPausa && tieneSid(*sid_)) {
        vida_ = t;
        o.push_back(orden::Tocar{});
    }
    avisarSaldo(t, o);
    return o;
}

// ---- Timers ----

std::optional<double> Sesion::despertar() const {
    std::optional<double> d = salirEn_;
    auto antes = [&d](double x) { d = d ? std::min(*d, x) : x; };
    for (const auto& c : cierres_)
        if (c.en) antes(*c.en);
    for (const auto& a : tareas_) antes(a.en);
    if (retomada_) antes(retomada_->hasta);
    return d;
}

Ordenes Sesion::tic(double t) {
    Ordenes o;
    if (salirEn_ && t >= *salirEn_) {
        terminarSalida(o);
        return o;
    }
    if (retomada_ && t >= retomada_->hasta) {
        auto r = std::move(*retomada_);
        retomada_.reset();
        avisar(o, "No hay cámara lista para seguir la transmisión: se terminó. Conéctala y vuelve a transmitir.", true);
        cerrar(t, {r.s, 0, false, false, Para::nada, t}, o);
    }
    std::vector<Tarea> vencidas;
    auto fin = std::stable_partition(tareas_.begin(), tareas_.end(), [t](const Tarea& a) { return a.en > t; });
    vencidas.assign(fin, tareas_.end());
    tareas_.erase(fin, tareas_.end());
    for (const auto& a : vencidas) {
        const bool quieta = fase_ == Fase::quieta;
        if (a.que == Tarea::Que::revisar) revisar(t, a.intento, std::nullopt, o);
        else if (a.que == Tarea::Que::pedirSaldo && quieta) o.push_back(orden::PedirSaldo{});
        else if (a.que == Tarea::Que::medirRedes && quieta) o.push_back(orden::MedirRedes{});
    }
    mandarCierres(t, o);
    return o;
}

Sesion::Estado Sesion::estado() const {
    Estado e;
    e.fase = fase_;
    e.alAire = fase_ == Fase::alAire;
    e.conPase = e.alAire && conPase_;
    e.sid = sid_;
    e.sinDestino = e.alAire && sinDestino_;
    e.inicio = inicio_;
    e.saldo = saldo_;
    e.avisoSaldo = avisoSaldo_;
    e.cerrando = !cierres_.empty();
    e.listo = listo_;
    return e;
}

}  // namespace tt
