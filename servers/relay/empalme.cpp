#include "empalme.h"

#include "comun/flv.h"

#include <algorithm>
#include <cmath>

namespace tt::relay {

namespace {

constexpr double adelanto = 250;        // ms of picture made ahead of the clock, between two checks
constexpr double msClaveRepetida = 500;  // the repeated key frame, when there is no picture
constexpr std::int64_t saltoAtras = 1000;  // a step back this long: another encoder's stream

void ponerU24(std::string& s, std::uint32_t v) {
    s.push_back(char(v >> 16));
    s.push_back(char(v >> 8));
    s.push_back(char(v));
}

// What a tag is for the splice.
struct Clase {
    bool config = false;  // codec configuration
    bool fin = false;     // end of sequence
    bool medio = false;   // a frame to play
    bool clave = false;   // …that decodes on its own
};

Clase clasificar(const Etiqueta& e) {
    Clase c;
    if (e.cuerpo.empty()) return c;
    const auto b0 = std::uint8_t(e.cuerpo[0]);
    const int b1 = e.cuerpo.size() > 1 ? std::uint8_t(e.cuerpo[1]) : -1;
    if (e.tipo == 9) {
        int tipoCuadro = 0, paquete = 1;
        if (b0 & 0x80) {  // extended header: the packet type sits in the first byte
            tipoCuadro = (b0 >> 4) & 7;
            paquete = b0 & 0x0F;
            c.config = paquete == 0;
            c.fin = paquete == 2;
            c.medio = paquete == 1 || paquete == 3;
        } else {
            tipoCuadro = b0 >> 4;
            const int codec = b0 & 0x0F;
            if (codec == 7 || codec == 12) {  // AVC, HEVC: a packet type follows
                if (b1 < 0) return c;
                c.config = b1 == 0;
                c.fin = b1 == 2;
                c.medio = b1 == 1;
            } else {
                c.medio = true;
            }
        }
        if (tipoCuadro == 5) c.medio = false;  // video info or command, no picture
        c.clave = c.medio && tipoCuadro == 1;
    } else if (e.tipo == 8) {
        if ((b0 >> 4) == 10) {  // AAC: a packet type follows
            if (b1 < 0) return c;
            c.config = b1 == 0;
            c.medio = b1 == 1;
        } else {
            c.medio = true;
        }
    }
    return c;
}

}  // namespace

std::string enFlv(const Etiqueta& e) {
    std::string s;
    s.reserve(15 + e.cuerpo.size());
    const auto ms = std::uint32_t(e.ms);
    s.push_back(char(e.tipo));
    ponerU24(s, std::uint32_t(e.cuerpo.size()));
    ponerU24(s, ms & 0xFFFFFF);
    s.push_back(char(ms >> 24));
    ponerU24(s, 0);
    s += e.cuerpo;
    const auto total = std::uint32_t(11 + e.cuerpo.size());
    s.push_back(char(total >> 24));
    ponerU24(s, total & 0xFFFFFF);
    return s;
}

std::string cabeceraFlv() { return std::string("FLV\x01\x05\0\0\0\x09\0\0\0\0", 13); }

Empalme::Salida Empalme::poner(std::string_view bytes, double ahora) {
    Salida s;
    if (danado_) return s;
    bufer_.append(bytes);
    std::size_t i = 0;
    auto danar = [&](const std::string& por) {
        danado_ = true;
        s.error = por;
        std::string().swap(bufer_);
    };
    while (bufer_.size() - i >= 11) {
        const std::string_view resto = std::string_view(bufer_).substr(i);
        // Every stream (a new instance of the app numbers its chunks from 0 again) opens with
        // a header: after the first, what follows is another encoder's.
        if (flv::empiezaFlujo(resto)) {
            if (resto.size() < flv::tamCabecera) break;
            if (cabeceraVista_) {
                recalcular_ = true;
                esperaClave_ = true;
                v_.entrada.reset();
                a_.entrada.reset();
            }
            cabeceraVista_ = true;
            i += flv::tamCabecera;
            continue;
        }
        std::string porque;
        const auto cabecera = flv::leer(resto, &porque);
        if (!cabecera) {
            danar(porque);
            return s;
        }
        if (resto.size() < cabecera->total()) break;
        Etiqueta e;
        e.tipo = cabecera->tipo;
        e.ms = cabecera->ms;
        e.cuerpo.assign(resto.substr(flv::tamEtiqueta, cabecera->datos));
        i += cabecera->total();
        auto r = etiqueta(std::move(e), ahora);
        for (auto& t : r.etiquetas) s.etiquetas.push_back(std::move(t));
        s.empieza |= r.empieza;
        s.termina |= r.termina;
    }
    bufer_.erase(0, i);
    return s;
}

std::int64_t Empalme::continuacion() const {
    std::int64_t c = 0;
    if (v_.salida) c = std::max(c, *v_.salida + std::clamp<std::int64_t>(v_.paso, 1, 100));
    if (a_.salida) c = std::max(c, *a_.salida + std::clamp<std::int64_t>(a_.paso, 1, 100));
    return c;
}

void Empalme::emitir(Salida& s, Pista& p, std::uint8_t tipo, std::int64_t ms, const std::string& cuerpo, bool config) {
    // A configuration goes with the frame after it, on its time stamp; frames strictly increase.
    if (p.salida && ms <= *p.salida) ms = config ? *p.salida : *p.salida + 1;
    s.etiquetas.push_back({tipo, ms, cuerpo});
    if (!config) p.salida = ms;
}

void Empalme::salirDelRespaldo(Salida& s, Pista& p) {
    if (!p.respaldo) return;
    p.respaldo = false;
    if (!mostrando()) s.termina = true;
}

Empalme::Salida Empalme::etiqueta(Etiqueta e, double ahora) {
    Salida s;
    if (e.tipo == 18) {
        // The stream's description goes out once, before its frames; a later encoder's would
        // describe the time line from its own zero.
        if (!algoSalio_) s.etiquetas.push_back({18, 0, std::move(e.cuerpo)});
        return s;
    }
    if (e.tipo != 8 && e.tipo != 9) return s;
    const bool video = e.tipo == 9;
    Pista& p = video ? v_ : a_;
    const Clase c = clasificar(e);
    if (c.config) {
        if (p.configEntrada != e.cuerpo) {
            p.configEntrada = e.cuerpo;
            ++version_;
        }
        return s;  // sent before the next frame that needs it
    }
    if (c.fin) {
        finCompresor_ = true;
        return s;
    }
    if (!c.medio) return s;

    ultimoDato_ = ahora;
    finCompresor_ = false;
    silencio_ = false;
    if (p.entrada && e.ms < *p.entrada - saltoAtras) {
        // Time went back: another encoder started its own time line.
        recalcular_ = true;
        esperaClave_ = true;
        v_.entrada.reset();
        a_.entrada.reset();
    }
    if (p.entrada && e.ms > *p.entrada && e.ms - *p.entrada <= 1000) {
        p.paso = e.ms - *p.entrada;
        if (video) pasosV_[nPasosV_++ % pasosV_.size()] = p.paso;
    }
    p.entrada = e.ms;
    if (recalcular_) {
        desplazamiento_ = algoSalio_ ? continuacion() - e.ms : 0;
        recalcular_ = false;
    }
    std::int64_t ms = e.ms + desplazamiento_;

    bool pasa = true;
    if (video && esperaClave_) {
        pasa = c.clave;
        if (pasa) esperaClave_ = false;
    }
    if (pasa && p.respaldo && p.salida) {
        // The track leaves the picture a whole step after its last frame: a player that places
        // frames at the stream's rate must not find two in one slot. Both tracks move together.
        const std::int64_t falta = *p.salida + std::clamp<std::int64_t>(p.paso, 1, 100) - ms;
        if (falta > 0) {
            desplazamiento_ += falta;
            ms += falta;
        }
    }
    // Audio behind what already went out (the picture's silence) is dropped: pushed forward it
    // would fall out of step with the video. A video frame is moved past the last one instead.
    if (!video && p.salida && ms <= *p.salida) pasa = false;
    if (pasa) {
        salirDelRespaldo(s, p);
        if (!p.configEntrada.empty() && p.configEntrada != p.configSalida) {
            emitir(s, p, e.tipo, ms, p.configEntrada, true);
            p.configSalida = p.configEntrada;
        }
        emitir(s, p, e.tipo, ms, e.cuerpo);
        algoSalio_ = true;
        if (c.clave) {
            ultimaClave_ = e.cuerpo;
            configClave_ = p.configSalida;
        }
    }
    // A track still on the picture follows the stream's clock now, up to this tag.
    if (mostrando()) rellenar(s, double(ms) - 1);
    return s;
}

void Empalme::rellenar(Salida& s, double reloj) {
    if (v_.respaldo) {
        if (!relleno_.cuadros.empty()) {
            const double paso = 1000 / std::clamp(relleno_.cps, 1.0, 120.0);
            while (v_.siguiente <= reloj) {
                if (v_.indice == 0 && v_.configSalida != relleno_.configVideo && !relleno_.configVideo.empty()) {
                    emitir(s, v_, 9, std::llround(v_.siguiente), relleno_.configVideo, true);
                    v_.configSalida = relleno_.configVideo;
                }
                emitir(s, v_, 9, std::llround(v_.siguiente), relleno_.cuadros[v_.indice]);
                v_.indice = (v_.indice + 1) % relleno_.cuadros.size();
                v_.siguiente += paso;
            }
        } else if (!ultimaClave_.empty()) {
            while (v_.siguiente <= reloj) {
                if (!configClave_.empty() && v_.configSalida != configClave_) {
                    emitir(s, v_, 9, std::llround(v_.siguiente), configClave_, true);
                    v_.configSalida = configClave_;
                }
                emitir(s, v_, 9, std::llround(v_.siguiente), ultimaClave_);
                v_.siguiente += msClaveRepetida;
            }
        }
    }
    if (a_.respaldo && !relleno_.audio.empty() && relleno_.msAudio > 0) {
        while (a_.siguiente <= reloj) {
            if (a_.configSalida != relleno_.configAudio && !relleno_.configAudio.empty()) {
                emitir(s, a_, 8, std::llround(a_.siguiente), relleno_.configAudio, true);
                a_.configSalida = relleno_.configAudio;
            }
            emitir(s, a_, 8, std::llround(a_.siguiente), relleno_.audio);
            a_.siguiente += relleno_.msAudio;
        }
    }
}

Empalme::Salida Empalme::revisar(double ahora) {
    Salida s;
    if (!algoSalio_) return s;
    if (!silencio_ && !finCompresor_ && ahora - ultimoDato_ >= umbral_) {
        // The data stopped: the picture continues the output from its last tag.
        silencio_ = true;
        const bool antes = mostrando();
        for (Pista* p : {&v_, &a_}) {
            if (!p->salida) continue;
            if (!p->respaldo) {
                p->siguiente = double(*p->salida + std::clamp<std::int64_t>(p->paso, 1, 100));
                p->indice = 0;
            }
            p->respaldo = true;
        }
        anclaMs_ = double(std::max(v_.salida.value_or(0), a_.salida.value_or(0)));
        anclaAhora_ = ahora;
        recalcular_ = true;
        esperaClave_ = true;
        s.empieza = !antes && mostrando();
    }
    if (silencio_ && mostrando()) rellenar(s, anclaMs_ + (ahora - anclaAhora_) * 1000 + adelanto);
    return s;
}

void Empalme::fijarRelleno(Relleno r) {
    relleno_ = std::move(r);
    v_.indice = 0;  // the new loop starts with its key frame
}

std::optional<Formato> Empalme::formato() const {
    if (ultimaClave_.empty() || nPasosV_ < 8) return std::nullopt;
    const std::size_t n = std::min(nPasosV_, pasosV_.size());
    std::int64_t suma = 0;
    for (std::size_t i = 0; i < n; ++i) suma += pasosV_[i];
    Formato f;
    f.configVideo = v_.configEntrada;
    f.configAudio = a_.configEntrada;
    f.clave = ultimaClave_;
    f.cps = std::clamp(1000.0 * double(n) / double(suma), 5.0, 120.0);
    return f;
}

}  // namespace tt::relay
