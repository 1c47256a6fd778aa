#include "protocolo/protocolo.h"

#include "comun/cripto.h"
#include "comun/utf8.h"

#include <charconv>

namespace tt::protocolo {

std::string nuevaEpoca() { return azarHex(6); }

std::string nuevaSesion(bool seco) { return (seco ? "seco" : "") + azarHex(16); }

namespace {

std::string flujo(std::string_view clave, std::string_view reto, std::string_view sesion, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; s.size() < n; ++i) {
        std::string texto = "destino|";
        texto.append(reto).append("|").append(sesion).append("|").append(std::to_string(i));
        s += hmacSha256(clave, texto);
    }
    return s;
}

int digito(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<std::string_view> partir(std::string_view s, char sep) {
    std::vector<std::string_view> v;
    std::size_t i = 0;
    while (i <= s.size()) {
        std::size_t j = s.find(sep, i);
        if (j == std::string_view::npos) j = s.size();
        v.push_back(s.substr(i, j - i));
        i = j + 1;
    }
    return v;
}

}  // namespace

std::string cifrarDestino(std::string_view clave, std::string_view reto, std::string_view sesion,
                          std::string_view destino) {
    std::string k = flujo(clave, reto, sesion, destino.size());
    std::string x(destino.size(), '\0');
    for (std::size_t j = 0; j < destino.size(); ++j) x[j] = char(destino[j] ^ k[j]);
    return hex(x);
}

std::optional<std::string> descifrarDestino(std::string_view clave, std::string_view reto,
                                            std::string_view sesion, std::string_view cifrado) {
    if (cifrado.size() % 2) return std::nullopt;
    std::string b(cifrado.size() / 2, '\0');
    for (std::size_t j = 0; j < b.size(); ++j) {
        int a = digito(cifrado[2 * j]), c = digito(cifrado[2 * j + 1]);
        if (a < 0 || c < 0) return std::nullopt;
        b[j] = char(a * 16 + c);
    }
    std::string k = flujo(clave, reto, sesion, b.size());
    for (std::size_t j = 0; j < b.size(); ++j) b[j] = char(b[j] ^ k[j]);
    return b;
}

std::string macSaludo(std::string_view llave, std::string_view reto, std::string_view sesion,
                      std::string_view destinoCifrado) {
    std::string texto(reto);
    texto.append("|").append(sesion);
    if (!destinoCifrado.empty()) texto.append("|").append(destinoCifrado);
    return hmacHex(llave, texto);
}

std::string respuestaConPase(const Pase& pase, std::string_view reto, std::string_view epoca) {
    std::string l = "TM2 " + pase.sid + " " + pase.pase + " " + macSaludo(pase.llave, reto, pase.sid) + " ";
    l.append(epoca).append("\n");
    return l;
}

std::string respuestaSinPase(std::string_view clave, std::string_view reto, std::string_view sesion,
                             const std::optional<std::string>& destino) {
    std::string d = destino && !destino->empty() ? cifrarDestino(clave, reto, sesion, *destino) : "";
    std::string l = "TM1 ";
    l.append(sesion).append(" ").append(macSaludo(clave, reto, sesion, d));
    if (!d.empty()) l.append(" ").append(d);
    l.append("\n");
    return l;
}

std::string respuestaCharla(std::string_view tipo, const Pase& pase, std::string_view reto) {
    std::string l(tipo);
    l.append(" ").append(pase.sid).append(" ").append(pase.pase).append(" ");
    l.append(macSaludo(pase.llave, reto, pase.sid)).append("\n");
    return l;
}

std::string llaveDeSid(std::string_view secreto, std::string_view sid) {
    std::string texto = "llave|";
    texto.append(sid);
    return hmacHex(secreto, texto);
}

bool esRazon(std::string_view l) {
    return l == "SALDO" || l == "VENCIDO" || l == "OCUPADO" || l == "RELEVADA" || l == "CERRADA";
}

std::string textoCorte(std::string_view r) {
    if (r == "SALDO") return "Se terminaron tus horas de transmisión. Escríbenos para cargar más.";
    if (r == "VENCIDO") return "El permiso venció antes de conectar. Dale Transmitir otra vez.";
    if (r == "OCUPADO") return "El servidor está ocupado con otra transmisión. Inténtalo en unos minutos.";
    if (r == "RELEVADA") return "Esta transmisión siguió desde otra ventana de la app.";
    return "El servidor cortó la transmisión. Si apenas empezaba, revisa la clave del canal de Kick.";
}

void escribirU32(std::string& d, std::uint32_t v) {
    d.push_back(char(v >> 24));
    d.push_back(char(v >> 16));
    d.push_back(char(v >> 8));
    d.push_back(char(v));
}

std::uint32_t leerU32(const char* p) {
    auto b = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
}

std::string enmarcar(std::uint32_t seq, std::string_view payload) {
    std::string m;
    m.reserve(cabecera + payload.size());
    escribirU32(m, seq);
    escribirU32(m, std::uint32_t(payload.size()));
    m.append(payload);
    return m;
}

std::optional<std::string> sacarLinea(std::string& bufer) {
    auto fin = bufer.find('\n');
    if (fin == std::string::npos) return std::nullopt;
    std::string l = bufer.substr(0, fin);
    bufer.erase(0, fin + 1);
    if (!esUtf8(l)) l.clear();
    return l;
}

std::vector<std::uint32_t> sacarAcuses(std::string& bufer) {
    std::vector<std::uint32_t> v;
    std::size_t i = 0;
    for (; i + 4 <= bufer.size(); i += 4) v.push_back(leerU32(bufer.data() + i));
    bufer.erase(0, i);
    return v;
}

std::optional<Destino> partirEntrada(std::string_view entrada) {
    std::vector<std::string_view> piezas;
    for (auto p : partir(entrada, ':'))
        if (!p.empty()) piezas.push_back(p);
    if (piezas.size() != 2) return std::nullopt;
    unsigned v = 0;
    auto [ptr, ec] = std::from_chars(piezas[1].data(), piezas[1].data() + piezas[1].size(), v);
    if (ec != std::errc() || ptr != piezas[1].data() + piezas[1].size() || v == 0 || v > 65535)
        return std::nullopt;
    return Destino{std::string(piezas[0]), std::uint16_t(v)};
}

std::optional<Respuesta> leerRespuesta(std::string_view linea) {
    auto c = partir(linea, ' ');
    if (c.empty()) return std::nullopt;
    for (auto& p : c)
        if (p.empty()) return std::nullopt;
    Respuesta r;
    r.tipo = std::string(c[0]);
    if (r.tipo == "TM1" && (c.size() == 3 || c.size() == 4)) {
        r.sesion = c[1];
        r.mac = c[2];
        if (c.size() == 4) r.destino = c[3];
    } else if (r.tipo == "TM2" && c.size() == 5) {
        r.sesion = c[1];
        r.pase = c[2];
        r.mac = c[3];
        r.epoca = c[4];
    } else if ((r.tipo == "TM3" || r.tipo == "TM4") && c.size() == 4) {
        r.sesion = c[1];
        r.pase = c[2];
        r.mac = c[3];
    } else {
        return std::nullopt;
    }
    return r;
}

bool igualesSeguro(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char d = 0;
    for (std::size_t i = 0; i < a.size(); ++i) d |= static_cast<unsigned char>(a[i] ^ b[i]);
    return d == 0;
}

}  // namespace tt::protocolo
