#include "channels/canal.h"

#include <gtest/gtest.h>

namespace tt {
namespace {

std::optional<std::string> destino(const std::string& servidor, const std::string& clave) {
    Canal c;
    c.servidor = servidor;
    c.clave = clave;
    return c.destino();
}

TEST(Canal, ServidorPorDefecto) {
    EXPECT_EQ(Canal::servidorKick.size(), 58u);
    EXPECT_EQ(Canal::servidorKick.rfind("rtmps://", 0), 0u);
    EXPECT_EQ(Canal::servidorKick.substr(53), "/app/");
    Canal c = Canal::nuevo();
    EXPECT_EQ(c.id.size(), 36u);
    EXPECT_NE(c.id, Canal::nuevo().id);
    EXPECT_EQ(c.servidor, Canal::servidorKick);
    EXPECT_TRUE(c.nombre.empty());
    EXPECT_TRUE(c.clave.empty());
    EXPECT_FALSE(c.destino());
}

TEST(Canal, DestinoJuntaServidorYClave) {
    const std::string k = "sk_us-west-2_AbC123";
    EXPECT_EQ(destino(Canal::servidorKick, k), Canal::servidorKick + k);
    EXPECT_EQ(destino("rtmps://fa723fc1b171.global-contribute.live-video.net/app", k), Canal::servidorKick + k);
    EXPECT_EQ(destino("rtmps://ingest.example.com", k), "rtmps://ingest.example.com/app/" + k);
    EXPECT_EQ(destino("rtmps://ingest.example.com/", k), "rtmps://ingest.example.com/app/" + k);
    EXPECT_EQ(destino("rtmp://ingest.example.com:1935", k), "rtmp://ingest.example.com:1935/app/" + k);
    EXPECT_EQ(destino("rtmp://ingest.example.com/live2", k), "rtmp://ingest.example.com/live2/" + k);
    EXPECT_EQ(destino(" \n rtmps://ingest.example.com/app/\n", " " + k + "\r\n"), "rtmps://ingest.example.com/app/" + k);
}

TEST(Canal, DestinoRechazaLoQueNoSirve) {
    const std::string k = "sk_abc";
    EXPECT_FALSE(destino(Canal::servidorKick, ""));
    EXPECT_FALSE(destino(Canal::servidorKick, "  \n"));
    EXPECT_FALSE(destino(Canal::servidorKick, "sk abc"));
    EXPECT_FALSE(destino(Canal::servidorKick, "sk\tabc"));
    EXPECT_FALSE(destino(Canal::servidorKick, "sk\nabc"));
    EXPECT_FALSE(destino("https://ingest.example.com/app/", k));
    EXPECT_FALSE(destino("srt://ingest.example.com/app/", k));
    EXPECT_FALSE(destino("RTMPS://ingest.example.com/app/", k));
    EXPECT_FALSE(destino("ingest.example.com/app/", k));
    EXPECT_FALSE(destino("", k));
    EXPECT_FALSE(destino("rtmps://ingest example.com/app/", k));
    EXPECT_FALSE(destino("rtmps://", k));
    EXPECT_FALSE(destino("rtmps:///app/", k));
    EXPECT_FALSE(destino("rtmps://:1935/app/", k));
    EXPECT_FALSE(destino("rtmps://host:puerto/app/", k));
}

TEST(Canal, UnaClaveQueEsURLSeUsaEntera) {
    const std::string url = "rtmps://otro.example.com/app/sk_xyz";
    EXPECT_EQ(destino("cualquier cosa", url), url);
    EXPECT_EQ(destino("", " " + url + "\n"), url);
    EXPECT_EQ(destino(Canal::servidorKick, "rtmp://x/y"), "rtmp://x/y");
    EXPECT_FALSE(destino(Canal::servidorKick, "rtmps://otro.example.com/app/sk xyz"));
}

TEST(Canal, Json) {
    Canal c{"id1", "Mi canal", "rtmps://h/app/", "sk_1"};
    Json j = aJson(c);
    EXPECT_EQ(j.dump(), R"({"id":"id1","nombre":"Mi canal","servidor":"rtmps://h/app/","clave":"sk_1"})");
    EXPECT_EQ(canalDeJson(j), c);
    j.erase("clave");
    EXPECT_FALSE(canalDeJson(j));
    EXPECT_FALSE(canalDeJson(Json{{"id", 1}, {"nombre", "a"}, {"servidor", "b"}, {"clave", "c"}}));
    EXPECT_FALSE(canalDeJson(Json::array()));
}

}  // namespace
}  // namespace tt
