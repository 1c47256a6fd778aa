#include "avisos.h"

namespace tt::control {

namespace {
constexpr std::size_t revocadasPorTexto = 64;  // 64 digests of 64 characters: about 4.5 KB
}

std::vector<std::string> textosDeAviso(const Aviso& a) {
    std::vector<std::string> r;
    std::size_t i = 0;
    do {
        Json j{{"sala", a.sala}};
        if (r.empty()) {
            if (a.saldo) j["saldo"] = *a.saldo;
            if (a.vinculados) j["vinculados"] = *a.vinculados;
            if (a.destino) j["destino"] = Json{{"sid", a.destino->first}, {"publicando", a.destino->second}};
        }
        Json lista = Json::array();
        for (std::size_t k = 0; k < revocadasPorTexto && i < a.revocadas.size(); ++k) lista.push_back(a.revocadas[i++]);
        if (!lista.empty()) j["revocadas"] = std::move(lista);
        r.push_back(j.dump());
    } while (i < a.revocadas.size());
    return r;
}

std::optional<Aviso> avisoDeTexto(std::string_view t) {
    auto j = Json::parse(t, nullptr, false);
    if (!j.is_object() || !j.contains("sala") || !j["sala"].is_string()) return std::nullopt;
    Aviso a;
    a.sala = j["sala"].get<std::string>();
    if (auto s = j.find("saldo"); s != j.end() && s->is_number_integer()) a.saldo = s->get<long long>();
    if (auto v = j.find("vinculados"); v != j.end() && v->is_number_integer()) a.vinculados = v->get<int>();
    if (auto d = j.find("destino"); d != j.end() && d->is_object() && d->contains("sid") && (*d)["sid"].is_string() &&
                                    d->contains("publicando") && (*d)["publicando"].is_boolean())
        a.destino = {{(*d)["sid"].get<std::string>(), (*d)["publicando"].get<bool>()}};
    if (auto r = j.find("revocadas"); r != j.end() && r->is_array())
        for (auto& x : *r)
            if (x.is_string()) a.revocadas.push_back(x.get<std::string>());
    return a;
}

}  // namespace tt::control
