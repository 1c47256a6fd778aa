// What may reach librtmp as a destination: the forms a channel really has, and what an account
// holder could write to make the relay connect elsewhere.
#include "uplink/destino.h"

#include <gtest/gtest.h>

namespace tt {
namespace {

TEST(Destino, losServidoresDeVerdadPasan) {
    const ReglasDestino publico;
    for (const char* url : {"rtmp://fa723fc1b171.global-contribute.live-video.net/app/sk_us-west-2_abc",
                            "rtmps://fa723fc1b171.global-contribute.live-video.net:443/app/sk_x",
                            "RTMP://Ingesta.Ejemplo/live/clave", "rtmp://203.0.113.7:1935/live/k",
                            "rtmp://[2001:db8::1]:1935/live/k"})
        EXPECT_EQ(destinoRechazado(url, publico), std::nullopt) << url;
}

TEST(Destino, opcionesDeLibrtmpYOtrosEsquemasNo) {
    const ReglasDestino todo{true, {}};
    for (const char* url : {
             "rtmp://ingesta.ejemplo/live/k socks=203.0.113.9:1080",  // librtmp's options after a blank
             "rtmp://ingesta.ejemplo/live/k\ttimeout=1", "rtmp://ingesta.ejemplo/live/k swfVfy=1",
             "rtmpt://ingesta.ejemplo/live/k", "rtmpe://ingesta.ejemplo/live/k", "rtmpte://ingesta.ejemplo/live/k",
             "http://ingesta.ejemplo/live/k", "rtmp:/ingesta.ejemplo/live/k", "ingesta.ejemplo/live/k",
             "rtmp://ingesta.ejemplo", "rtmp://ingesta.ejemplo/", "rtmp://usuario@ingesta.ejemplo/live/k",
             "rtmp://ingesta.ejemplo:/live/k", "rtmp://ingesta.ejemplo:99999/live/k", "rtmp://ingesta.ejemplo:0/live/k",
             "rtmp://-ingesta/live/k", "rtmp://ingesta_mala/live/k", "rtmp://[::1/live/k", "rtmp://::1/live/k",
             "rtmp://ingesta.ejemplo/live/k\n", "rtmp://ingesta.ejemplo/live/\x7f"})
        EXPECT_NE(destinoRechazado(url, todo), std::nullopt) << url;
    EXPECT_NE(destinoRechazado("rtmp://a/" + std::string(3000, 'k'), todo), std::nullopt);
}

TEST(Destino, direccionesLocalesSoloSiElOperadorLasPermite) {
    const ReglasDestino publico, locales{true, {}};
    for (const char* url : {"rtmp://127.0.0.1:1938/live/k", "rtmp://10.1.2.3/live/k", "rtmp://172.20.0.1/live/k",
                            "rtmp://192.168.1.1/live/k", "rtmp://169.254.169.254/live/k", "rtmp://0.0.0.0/live/k",
                            "rtmp://100.64.0.1/live/k", "rtmp://localhost/live/k", "rtmp://a.localhost/live/k",
                            "rtmp://[::1]/live/k", "rtmp://[fd00::1]/live/k", "rtmp://[fe80::1]/live/k",
                            "rtmp://[::ffff:127.0.0.1]/live/k"}) {
        EXPECT_NE(destinoRechazado(url, publico), std::nullopt) << url;
        EXPECT_EQ(destinoRechazado(url, locales), std::nullopt) << url;
    }
    // The resolver's other spellings of 127.0.0.1 are refused outright.
    for (const char* url : {"rtmp://2130706433/live/k", "rtmp://127.1/live/k", "rtmp://0x7f.0.0.1/live/k",
                            "rtmp://0177.0.0.1/live/k"})
        EXPECT_NE(destinoRechazado(url, locales), std::nullopt) << url;
}

TEST(Destino, laListaDelOperador) {
    const ReglasDestino reglas{false, sufijosDe(" .live-video.net, Ingesta.Ejemplo ,,")};
    EXPECT_EQ(reglas.sufijos, (std::vector<std::string>{"live-video.net", "ingesta.ejemplo"}));
    EXPECT_EQ(destinoRechazado("rtmps://x.global-contribute.live-video.net/app/k", reglas), std::nullopt);
    EXPECT_EQ(destinoRechazado("rtmp://ingesta.ejemplo/app/k", reglas), std::nullopt);
    for (const char* url : {"rtmp://evillive-video.net/app/k", "rtmp://live-video.net.atacante.example/app/k",
                            "rtmp://203.0.113.7/app/k"})
        EXPECT_NE(destinoRechazado(url, reglas), std::nullopt) << url;
}

}  // namespace
}  // namespace tt
