#include "engine/orden_compresor.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tt;

namespace {
std::string unir(const std::vector<std::string>& a) {
    std::string s;
    for (auto& x : a) s += (s.empty() ? "" : " ") + x;
    return s;
}
bool tiene(const std::vector<std::string>& a, const std::string& x) { return std::find(a.begin(), a.end(), x) != a.end(); }
}  // namespace

TEST(OrdenCompresor, argumentosEnSuOrden) {
    FormatoFlujo f;
    f.ancho = 1920;
    f.alto = 1080;
    f.cps = 30;
    f.hz = 44100;
    f.canales = 1;
    f.flotante = true;
    f.bytesMuestra = 4;
    f.mono = true;  // one channel: nothing to mix down
    EXPECT_EQ(unir(ordenCompresor(f, 1600, 6, "/tmp/a.fifo")),
              "-hide_banner -nostdin -loglevel warning -progress pipe:1 -stats_period 2 "
              "-thread_queue_size 1024 -probesize 32 -analyzeduration 0 -f rawvideo -pix_fmt nv12 "
              "-video_size 1920x1080 -framerate 30 -i pipe:0 "
              "-thread_queue_size 1024 -probesize 32 -analyzeduration 0 -f f32le -ar 44100 -ac 1 -i /tmp/a.fifo "
              "-map 0:v -map 1:a -vf scale=-2:'min(720,ih)':flags=bicubic,format=yuv420p "
              "-c:v libsvtav1 -preset 6 -svtav1-params rc=1:lookahead=30 -b:v 1600k -g 300 "
              "-color_primaries bt709 -color_trc bt709 -colorspace bt709 -color_range tv "
              "-c:a aac -b:a 96k -ar 48000 -ac 2");
}

TEST(OrdenCompresor, monoFormatosYSalidas) {
    FormatoFlujo f;
    f.ancho = 1280;
    f.alto = 720;
    f.mono = true;
    auto a = ordenCompresor(f, 900, 8, "x");
    EXPECT_TRUE(tiene(a, "pan=stereo|c0=0.5*c0+0.5*c1|c1=0.5*c0+0.5*c1"));
    EXPECT_TRUE(tiene(a, "s16le"));
    EXPECT_TRUE(tiene(a, "rc=1:lookahead=60"));
    f.bytesMuestra = 4;
    EXPECT_TRUE(tiene(ordenCompresor(f, 900, 8, "x"), "s32le"));

    auto archivo = ordenCompleta(f, 900, 8, "x", {SalidaCompresor::archivo, "", {}}, false);
    EXPECT_TRUE(tiene(archivo, "libsvtav1"));  // Matroska keeps AV1
    EXPECT_EQ(unir({archivo.end() - 4, archivo.end()}), "-f matroska -y /tmp/prueba-app.mkv");

    auto fifo = ordenCompleta(f, 900, 8, "x", {SalidaCompresor::fifo, "/tmp/s.fifo", {}}, true);
    EXPECT_TRUE(tiene(fifo, "libsvtav1"));
    EXPECT_EQ(unir({fifo.end() - 6, fifo.end()}), "-f flv -flvflags no_duration_filesize -y /tmp/s.fifo");
    // A handover's encoder shifts its time stamps, written with three decimals.
    auto relevo = ordenCompleta(f, 900, 8, "x", {SalidaCompresor::fifo, "/tmp/s.fifo", 200.0}, true);
    EXPECT_EQ(unir({relevo.end() - 8, relevo.end() - 6}), "-output_ts_offset 200.000");

    auto rtmp = ordenCompleta(f, 900, 8, "x", {SalidaCompresor::servidor, "rtmp://h/app/k", {}}, false);
    std::string s = unir(rtmp);
    EXPECT_NE(s.find("-c:v libx264 -preset veryfast -tune zerolatency -b:v 900k -g 600"), std::string::npos) << s;
    EXPECT_FALSE(tiene(rtmp, "-svtav1-params"));
    EXPECT_EQ(unir({rtmp.end() - 3, rtmp.end()}), "-f flv rtmp://h/app/k");
}
