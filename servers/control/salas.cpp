#include "salas.h"

namespace tt::control {

namespace {

Texto hacer(const Json& j) { return std::make_shared<const std::string>(j.dump()); }

Texto macConectada(bool si) { return hacer(Json{{"t", "mac"}, {"conectada", si}}); }

}  // namespace

void Salas::aMacs(const Sala& s, const Texto& t, Salida& r) const {
    for (Id m : s.macs) r.envios.push_back({m, t});
}

void Salas::aCelulares(const Sala& s, const Texto& t, Salida& r) const {
    for (Id c : s.celulares) r.envios.push_back({c, t});
}

void Salas::contar(const Sala& s, Salida& r) const {
    aMacs(s,
          hacer(Json{{"t", "celulares"}, {"conectados", int(s.celulares.size())}, {"vinculados", s.vinculados}}), r);
}

void Salas::olvidarSiVacia(const std::string& sala) {
    auto it = salas_.find(sala);
    if (it != salas_.end() && it->second.macs.empty() && it->second.celulares.empty()) salas_.erase(it);
}

Salida Salas::entrar(Id id, const Acceso& a) {
    Salida r;
    const bool mac = a.tipo != "celular";
    Sala& s = salas_[a.sala];
    // A room holds a few desktops and a phone count the app can show: a desktop beyond that
    // replaces the oldest (an app opened again), a phone beyond that is turned away.
    if (!mac && s.celulares.size() >= maxCelulares) {
        r.cerrar.push_back(id);
        return r;
    }
    if (mac && s.macs.size() >= maxMacs) {
        const Id viejo = *s.macs.begin();  // ids only grow
        s.macs.erase(s.macs.begin());
        miembros_.erase(viejo);
        r.cerrar.push_back(viejo);
    }
    miembros_[id] = {a.sala, mac, a.resumen};
    s.vinculados = a.vinculados;
    if (mac) {
        s.macs.insert(id);
        contar(s, r);
        aCelulares(s, macConectada(true), r);
    } else {
        s.celulares.insert(id);
        r.envios.push_back({id, macConectada(!s.macs.empty())});
        if (s.estado) r.envios.push_back({id, s.estado});
        if (s.vista) r.envios.push_back({id, s.vista});
        aMacs(s, hacer(Json{{"t", "hola"}}), r);
        contar(s, r);
    }
    return r;
}

Salida Salas::salir(Id id) {
    Salida r;
    auto m = miembros_.find(id);
    if (m == miembros_.end()) return r;
    const std::string sala = m->second.sala;
    const bool mac = m->second.mac;
    miembros_.erase(m);
    Sala& s = salas_[sala];
    if (mac) {
        s.macs.erase(id);
        if (s.macs.empty()) {
            s.estado.reset();
            s.vista.reset();
            aCelulares(s, macConectada(false), r);
        }
    } else {
        s.celulares.erase(id);
        contar(s, r);
    }
    olvidarSiVacia(sala);
    return r;
}

Salida Salas::recibir(Id id, std::string_view texto, double ahora) {
    Salida r;
    auto m = miembros_.find(id);
    if (m == miembros_.end()) return r;
    if (!m->second.mac) {
        Miembro& tel = m->second;
        if (texto.size() > maxOrden) return r;  // no order is that long
        if (ahora - tel.desde >= 1) tel.desde = ahora, tel.ordenes = 0;
        if (++tel.ordenes > ordenesPorSegundo) return r;  // faster than any thumb
    }
    auto j = Json::parse(texto, nullptr, false);
    if (!j.is_object() || !j.contains("t") || !j["t"].is_string()) {
        r.cerrar.push_back(id);
        return r;
    }
    const std::string t = j["t"].get<std::string>();
    Sala& s = salas_[m->second.sala];
    if (m->second.mac) {
        if (t == "estado" || t == "pulso" || t == "vista") {
            auto crudo = std::make_shared<const std::string>(texto);
            if (t == "estado") s.estado = crudo;
            if (t == "vista") s.vista = crudo;
            aCelulares(s, crudo, r);
        } else if (t == "vincular" && j.contains("ficha") && j["ficha"].is_string()) {
            r.pedidos.push_back({true, m->second.sala, j["ficha"].get<std::string>()});
        } else if (t == "desvincular") {
            r.pedidos.push_back({false, m->second.sala, {}});
        }
        return r;
    }
    // A phone's orders reach the desktop app rebuilt, never as the phone wrote them.
    if ((t == "elegir" || t == "camara") && j.contains("id") && j["id"].is_string()) {
        aMacs(s, hacer(Json{{"t", t}, {"id", j["id"]}}), r);
    } else if (t == "transmitir" || t == "detener") {
        aMacs(s, hacer(Json{{"t", t}}), r);
    }
    return r;
}

Salida Salas::aviso(const Aviso& a) {
    Salida r;
    auto it = salas_.find(a.sala);
    if (it == salas_.end()) return r;
    Sala& s = it->second;
    if (a.saldo) {
        auto t = hacer(Json{{"t", "saldo"}, {"segundos", *a.saldo}});
        aMacs(s, t, r);
        aCelulares(s, t, r);
    }
    // Only the desktop app acts on it; the phones see it in the app's state.
    if (a.destino) aMacs(s, hacer(Json{{"t", "destino"}, {"sid", a.destino->first}, {"publicando", a.destino->second}}), r);
    if (!a.revocadas.empty()) {
        std::set<std::string> fuera(a.revocadas.begin(), a.revocadas.end());
        for (auto& [id, m] : miembros_)
            if (m.sala == a.sala && fuera.count(m.resumen)) r.fuera.push_back(id);
    }
    if (a.vinculados) {
        s.vinculados = *a.vinculados;
        contar(s, r);
    }
    return r;
}

}  // namespace tt::control
