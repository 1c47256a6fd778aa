#include "uplink/despacho.h"

#include "protocolo/protocolo.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace tt {

using protocolo::relleno;

Despacho::Despacho(AjustesReparto ajustes, double ahora) : a_(std::move(ajustes)) {
    presionDesde = ahora;
    fichasEn = ahora;
    tCopias = ahora;
    tKbps = ahora;
}

void Despacho::mandar(Enlace& e, std::string bytes) {
    if (!e.conectado()) return;
    e.entregado(bytes.size());
    salida_.push_back({Accion::Tipo::mandar, e.bsd(), std::move(bytes)});
}

bool Despacho::otraLoTiene(const Enlace& e, std::uint32_t seq) const {
    for (auto& [b, o] : enlaces_)
        if (&o != &e && o.enVuelo().count(seq)) return true;
    return false;
}

bool Despacho::topeAplica(double ahora) const {
    const double edad = ahora - a_.nacio;
    return a_.topePrueba && a_.topeDesde <= edad && edad < a_.topeHasta;
}

std::int64_t Despacho::topeSinMandar() const {
    return std::max(std::int64_t(segundosSinMandar * kbpsTotal * 125), std::int64_t(Enlace::ventanaMaxima));
}

Despacho::Intento Despacho::intentar(std::uint32_t seq, const std::string& datos, double ahora) {
    Intento r;
    if (activo_ && cola_.size() <= maxCola && asignar(seq, datos, false, nullptr, ahora)) {
        r.tomado = true;
    } else if (activo_) {
        esperas.try_emplace(seq, ahora);
        r.activo = true;
        r.acciones = salir();
        return r;
    } else {
        r.activo = false;
    }
    // The wait ends: taken, or discarded because the uplink ended.
    if (auto it = esperas.find(seq); it != esperas.end()) {
        esperado += std::max(ahora - it->second, 0.0);
        esperas.erase(it);
    }
    r.acciones = salir();
    return r;
}

Enlace* Despacho::menosCargado(const Enlace* evitar, bool conCastigados, double ahora) {
    Enlace* elegido = nullptr;
    std::int64_t carga = 0;
    for (auto& [b, e] : enlaces_) {
        if (!e.listo() || &e == evitar) continue;
        if (!conCastigados && e.castigado(ahora)) continue;
        std::int64_t c = e.bytesEnVuelo() * 100 / e.tope();
        if (!elegido || c < carga) {
            elegido = &e;
            carga = c;
        }
    }
    return elegido;
}

bool Despacho::asignar(std::uint32_t seq, const std::string& datos, bool forzar, const Enlace* evitar,
                       double ahora) {
    // Unpenalised links first; every admitted link when none of them qualifies.
    Enlace* elegido = menosCargado(evitar, false, ahora);
    if (!elegido) elegido = menosCargado(evitar, true, ahora);
    if (!elegido) return false;
    const double n = double(datos.size());
    if (!forzar) {
        if (elegido->bytesEnVuelo() >= elegido->tope()) return false;
        if (topeAplica(ahora)) {
            fichas_ += *a_.topePrueba * (ahora - fichasEn) * 125;
            fichas_ = std::min(fichas_, std::max(*a_.topePrueba * 125 * 0.5, 40000.0));
            fichasEn = ahora;
            if (fichas_ < n) return false;
            fichas_ -= n;
        } else {
            fichasEn = ahora;
        }
    } else {
        fichasEn = ahora;
    }
    elegido->poner(seq, datos, ahora, evitar != nullptr);
    mandar(*elegido, protocolo::enmarcar(seq, datos));
    return true;
}

void Despacho::vaciarCola(double ahora) {
    while (!cola_.empty()) {
        if (!asignar(cola_.front().first, cola_.front().second, true, nullptr, ahora)) return;
        cola_.pop_front();
    }
}

void Despacho::devolver(Enlace& e) {
    for (auto& [s, t] : e.vaciar()) {
        if (s >= relleno) continue;  // filler and the fallback image are never re-sent
        if (entregados_.count(s)) {
            if (!otraLoTiene(e, s)) entregados_.erase(s);
            continue;
        }
        bool otra = false;
        for (auto& [b, o] : enlaces_) {
            if (&o == &e || !o.enVuelo().count(s)) continue;
            o.descopiar(s);  // its acknowledgement now counts like any other
            otra = true;
        }
        if (!otra) cola_.emplace_back(s, std::move(t.datos));
    }
    std::stable_sort(cola_.begin(), cola_.end(), [](auto& x, auto& y) { return x.first < y.first; });
}

void Despacho::conectar(Enlace& e, double ahora) {
    e.conectar(ahora);
    salida_.push_back({Accion::Tipo::conectar, e.bsd(), {}});
}

Acciones Despacho::caer(const std::string& bsd, double ahora) {
    auto it = enlaces_.find(bsd);
    if (it != enlaces_.end() && it->second.conectado()) caer(it->second, ahora);
    return salir();
}

Acciones Despacho::escrito(const std::string& bsd, std::size_t n) {
    auto it = enlaces_.find(bsd);
    if (it != enlaces_.end() && it->second.conectado()) it->second.escrito(n);
    return salir();
}

void Despacho::caer(Enlace& e, double ahora) {
    if (e.listo()) {
        ++cuentas_.caidas;
        anotar("red caída: " + e.nombre() + " (" + std::to_string(e.enVuelo().size()) +
               " trozos se reenvían por las demás)");
    }
    const bool tenia = e.conectado();
    e.soltar(ahora);
    if (tenia) salida_.push_back({Accion::Tipo::soltar, e.bsd(), {}});
    devolver(e);
    vaciarCola(ahora);
}

Acciones Despacho::recibir(const std::string& bsd, std::string_view bytes, double ahora) {
    auto it = enlaces_.find(bsd);
    if (it == enlaces_.end() || !it->second.conectado()) return salir();
    it->second.oir(bytes);
    procesar(it->second, ahora);
    // A probe's filler follows the acknowledgements, not only the checks: what a window frees is
    // offered again at once, so the probe carries what it asks for and not a quarter-second burst.
    sondar(ahora);
    return salir();
}

void Despacho::procesar(Enlace& e, double ahora) {
    while (!e.listo()) {
        auto linea = e.sacarLinea();
        if (!linea) {
            if (e.oidoSinLeer() > protocolo::maxBuferSaludo) {
                anotar(e.nombre() + ": el servidor mandó una línea de saludo demasiado larga");
                caer(e, ahora);
            }
            return;
        }
        if (e.etapa() == Etapa::conectando && linea->rfind("TM1 ", 0) == 0) {
            const std::string reto = linea->substr(4);
            std::string r = a_.pase ? protocolo::respuestaConPase(*a_.pase, reto, a_.epoca)
                                    : protocolo::respuestaSinPase(a_.clave, reto, a_.sesion, a_.destino);
            mandar(e, std::move(r));
            e.saludado();
            continue;
        }
        if (e.etapa() == Etapa::saludado && *linea == "OK") {
            admitir(e, ahora);
            if (!e.listo()) return;
            break;
        }
        rechazo(e, *linea, ahora);
        return;
    }
    for (auto s : e.sacarAcuses()) acuse(e, s, ahora);
}

void Despacho::admitir(Enlace& e, double ahora) {
    e.admitir(ahora);
    unidaAlgunaVez = true;
    sinRedDesde_.reset();
    std::string linea = "red unida: " + e.nombre();
    if (e.castigado(ahora))
        linea += " (en observación " + std::to_string(int(e.castigoHasta() - ahora)) + " s)";
    anotar(linea);
    if (a_.respaldo && !respaldoListo_ && ahora - respaldoEn > 12) {
        respaldoEn = ahora;
        e.darGracia(ahora + 10);  // the large image travels; silence meanwhile is no stall
        mandar(e, protocolo::enmarcar(protocolo::seqRespaldo, *a_.respaldo));
    }
    vaciarCola(ahora);
}

void Despacho::rechazo(Enlace& e, const std::string& linea, double ahora) {
    // A hostile server could send a huge line; the log keeps a readable piece of it.
    anotar(e.nombre() + ": el servidor respondió " + linea.substr(0, 200));
    caer(e, ahora);
    if (!protocolo::esRazon(linea) || !activo_) return;
    if (linea == "OCUPADO" && unidaAlgunaVez) return;  // another window took over one link only
    activo_ = false;
    salida_.push_back({Accion::Tipo::cortar, {}, linea});
}

void Despacho::acuse(Enlace& e, std::uint32_t seq, double ahora) {
    auto t = e.acusar(seq, ahora);
    if (seq == protocolo::seqRespaldo) {
        e.respaldoConfirmado();
        if (!respaldoListo_) {
            respaldoListo_ = true;
            anotar("pantalla de sin internet entregada al servidor");
        }
        return;
    }
    if (!t) return;  // unknown or already settled: only a sign of life
    if (t->latido) return;  // carries nothing: neither throughput nor probe
    const auto n = std::int64_t(t->datos.size());
    if (seq >= relleno) sondeoConfirmado += n;
    confirmadosTotal_ += n;
    if (otraLoTiene(e, seq))
        entregados_.insert(seq);
    else
        entregados_.erase(seq);
}

void Despacho::copiarTardios(Enlace& e, double ahora) {
    // Late past the usual bound, and past what this link's own acknowledgements predict: a slower
    // link's queue is not a loss (up to 2 s; a link silent longer is a stall, handled above).
    const double u = std::max(std::clamp(2 * e.demoraBase() + 0.15, 0.25, 0.6), std::min(e.esperaAcuse(), 2.0));
    std::vector<std::pair<std::uint32_t, const std::string*>> tardios;
    for (auto& [s, t] : e.enVuelo())
        if (!t.copia && s < relleno && ahora - t.enviado > u) tardios.emplace_back(s, &t.datos);
    for (auto& [s, datos] : tardios) {
        if (!asignar(s, *datos, true, &e, ahora)) break;
        e.copiado(s);
        copias += 1;
        ++cuentas_.copias;
    }
}

void Despacho::revisarEnlace(Enlace& e, bool enCorte, double ahora) {
    if (!e.conectado()) {
        if (!enCorte && (e.intentoEn() == 0 || ahora - e.intentoEn() > 2)) conectar(e, ahora);
    } else if (!e.listo() && ahora - e.intentoEn() > 6) {
        caer(e, ahora);
    }
    if (e.listo()) {
        bool otraSana = false;
        for (auto& [b, o] : enlaces_)
            if (&o != &e && o.listo() && !o.castigado(ahora)) otraSana = true;
        const std::size_t tenia = e.enVuelo().size();
        const auto at = e.revisarAtasco(ahora, otraSana, topeSinMandar());
        if (at.atascado) {
            std::string l = "red atorada: " + e.nombre() + " (" + std::to_string(tenia) +
                            " trozos se van por las demás; se reconecta";
            l += at.castigo > 0 ? " y queda " + std::to_string(int(at.castigo)) + " s en observación)" : ")";
            anotar(l);
            ++cuentas_.atascos;
            caer(e, ahora);
            e.reintentarYa();  // a stall reconnects on the next check
            return;
        }
        copiarTardios(e, ahora);
    }
    if (e.recuperar(ahora)) anotar("red recuperada: " + e.nombre());
}

Acciones Despacho::revisar(double ahora, const std::map<std::string, std::string>& interfaces) {
    if (!activo_) return salir();
    for (auto& [b, n] : interfaces)
        if (!n.empty() && !enlaces_.count(b)) enlaces_.emplace(b, Enlace(b, n));
    for (auto it = enlaces_.begin(); it != enlaces_.end();) {
        if (interfaces.count(it->first)) {
            ++it;
            continue;
        }
        caer(it->second, ahora);  // not admitted any more, so its chunks go to the others
        it = enlaces_.erase(it);
    }

    const bool enCorte = a_.corte && a_.corte->first <= ahora && ahora < a_.corte->second;
    if (enCorte)
        for (auto& [b, e] : enlaces_)
            if (e.conectado()) caer(e, ahora);

    for (auto& [b, e] : enlaces_) revisarEnlace(e, enCorte, ahora);

    if (std::any_of(enlaces_.begin(), enlaces_.end(), [](auto& p) { return p.second.listo(); })) {
        unidaAlgunaVez = true;
        sinRedDesde_.reset();
    } else if (unidaAlgunaVez && !sinRedDesde_) {
        sinRedDesde_ = ahora;
    }
    vaciarCola(ahora);
    sondar(ahora);
    latir(ahora);

    if (copias > 0 && ahora - tCopias >= 30) {
        std::string l = "copias por otra red en 30 s: " + std::to_string(copias) + " trozos (";
        bool primero = true;
        for (auto& [b, e] : enlaces_) {
            if (e.copiados() < 1) continue;
            if (!primero) l += "; ";
            primero = false;
            l += e.nombre() + " " + std::to_string(e.copiados()) + ", calidad " +
                 std::to_string(int(e.calidad() * 100)) + "%";
        }
        anotar(l + ")");
        copias = 0;
        tCopias = ahora;
        for (auto& [b, e] : enlaces_) e.olvidarCopiados();
    } else if (copias == 0) {
        tCopias = ahora;
    }

    if (ahora - tKbps >= 2) {
        const double dt = ahora - tKbps;
        kbpsTotal = 0;
        for (auto& [b, e] : enlaces_) {
            e.muestra(dt);
            kbpsTotal += e.kbps();
        }
        tKbps = ahora;
    }
    return salir();
}

std::uint32_t Despacho::siguienteRelleno() {
    const std::uint32_t s = sondeoSeq;
    sondeoSeq = sondeoSeq == protocolo::ultimoRelleno ? relleno : sondeoSeq + 1;
    return s;
}

void Despacho::latir(double ahora) {
    // An idle link's silence proves nothing, so it is asked for a sign of life: a filler chunk
    // the relay acknowledges like any other. Unanswered, its silence counts like a chunk's.
    for (auto& [b, e] : enlaces_) {
        if (!e.ocioso(ahora, latidoTras)) continue;
        const std::uint32_t s = siguienteRelleno();
        std::string ceros(protocolo::tamRelleno, '\0');
        mandar(e, protocolo::enmarcar(s, ceros));
        e.poner(s, std::move(ceros), ahora, true, true);
        ++cuentas_.latidos;
    }
}

void Despacho::sondar(double ahora) {
    if (!activo_ || !(ahora < sondeoHasta) || !cola_.empty()) return;
    const auto meta = std::int64_t((ahora - sondeoDesde) * sondeoKbps * 125);
    while (sondeoMandado < meta) {
        Enlace* elegido = nullptr;
        std::int64_t carga = 0;
        for (auto& [b, e] : enlaces_) {
            if (!e.listo() || e.castigado(ahora)) continue;
            if (e.tope() * 7 / 10 < e.bytesEnVuelo() + std::int64_t(protocolo::tamRelleno)) continue;
            std::int64_t c = e.bytesEnVuelo() * 100 / e.tope();
            if (!elegido || c < carga) {
                elegido = &e;
                carga = c;
            }
        }
        if (!elegido) return;
        if (topeAplica(ahora)) {
            if (fichas_ < 28192) return;
            fichas_ -= double(protocolo::tamRelleno);
        }
        const std::uint32_t s = siguienteRelleno();
        std::string ceros(protocolo::tamRelleno, '\0');
        mandar(*elegido, protocolo::enmarcar(s, ceros));
        elegido->poner(s, std::move(ceros), ahora, true);  // never copied, never raises calidad
        sondeoMandado += std::int64_t(protocolo::tamRelleno);
    }
}

Acciones Despacho::terminar(double ahora) {
    if (!activo_) return salir();
    vaciarCola(ahora);
    asignar(siguiente, std::string(), true, nullptr, ahora);
    activo_ = false;
    return salir();
}

Acciones Despacho::cerrar() {
    activo_ = false;
    for (auto& [b, e] : enlaces_)
        if (e.conectado()) salida_.push_back({Accion::Tipo::soltar, b, {}});
    enlaces_.clear();
    return salir();
}

void TramoPresion::sumar(const TramoPresion& despues) {
    segundos += despues.segundos;
    confirmados += despues.confirmados;
    esperado += despues.esperado;
    unidas = despues.unidas;
}

Presion TramoPresion::presion() const {
    const double dt = std::max(segundos, 0.2);
    Presion p;
    p.kbps = int(double(std::max<std::int64_t>(confirmados, 0)) * 8 / dt / 1000);
    p.espera = std::min(esperado / dt, 1.0);
    p.unidas = unidas;
    return p;
}

TramoPresion Despacho::tomarTramo(double ahora) {
    TramoPresion t;
    t.segundos = std::max(ahora - presionDesde, 0.0);
    t.confirmados = confirmadosTotal_ - confirmadosPresion;
    // A wait still going on counts up to now, and from now in the next interval.
    for (auto& [seq, desde] : esperas) {
        esperado += std::max(ahora - desde, 0.0);
        desde = ahora;
    }
    t.esperado = esperado;
    for (auto& [b, e] : enlaces_) t.unidas += e.listo();
    esperado = 0;
    presionDesde = ahora;
    confirmadosPresion = confirmadosTotal_;
    return t;
}

void Despacho::sondear(int kbps, double segundos, double ahora) {
    sondeoKbps = kbps;
    sondeoDesde = ahora;
    sondeoHasta = ahora + segundos;
    sondeoMandado = 0;
    sondeoConfirmado = 0;
}

Sondeo Despacho::sondeo(double ahora) const {
    Sondeo s;
    s.tocaba = std::int64_t((std::min(sondeoHasta, ahora) - sondeoDesde) * sondeoKbps * 125);
    s.confirmado = sondeoConfirmado;
    return s;
}

namespace {
template <class M>
std::vector<const Enlace*> porNombre(const M& enlaces) {
    std::vector<const Enlace*> v;
    for (auto& [b, e] : enlaces) v.push_back(&e);
    std::stable_sort(v.begin(), v.end(), [](auto* x, auto* y) { return x->nombre() < y->nombre(); });
    return v;
}
}  // namespace

Resumen Despacho::resumen(double ahora) const {
    Resumen r;
    for (auto* e : porNombre(enlaces_)) {
        std::string estado;
        if (e->listo()) {
            ++r.unidas;
            if (e->castigado(ahora) && e->kbps() == 0) {
                estado = "en observación";
            } else if (e->kbps() > 999) {
                char b[48];
                std::snprintf(b, sizeof b, "manda %.1f Mbps", e->kbps() / 1000.0);
                estado = b;
            } else {
                estado = "manda " + std::to_string(e->kbps()) + " kbps";
            }
        } else {
            estado = e->castigado(ahora) ? "atorada, reconectando…" : "conectando…";
        }
        r.partes.emplace_back(e->nombre(), estado);
    }
    return r;
}

std::vector<Json> Despacho::detalle(double ahora) const {
    std::vector<Json> v;
    for (auto* e : porNombre(enlaces_)) {
        Json j;
        j["n"] = e->nombre();
        j["kbps"] = e->kbps();
        j["calidad"] = int(e->calidad() * 100);
        j["ms"] = int(e->demora() * 1000);
        j["ventanaKB"] = int(e->ventana() / 1024);
        j["estado"] = e->listo() ? (e->castigado(ahora) ? "en observación" : "unida") : "conectando";
        j["fallas"] = e->fallas();
        v.push_back(std::move(j));
    }
    return v;
}

}  // namespace tt
