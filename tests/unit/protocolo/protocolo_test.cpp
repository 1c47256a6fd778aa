#include "protocolo/protocolo.h"

#include "comun/cripto.h"
#include "comun/utf8.h"

#include <gtest/gtest.h>

using namespace tt;
using namespace tt::protocolo;

namespace {
bool soloHex(const std::string& s) { return s.find_first_not_of("0123456789abcdef") == std::string::npos; }
}  // namespace

TEST(Protocolo, respuestaSinPaseNiDestinoTieneTresCamposYFirmaRetoYSesion) {
    std::string r = respuestaSinPase("secreta", "abc xyz", "s1", std::nullopt);
    std::string mac = hmacHex("secreta", "abc xyz|s1");
    EXPECT_EQ(r, "TM1 s1 " + mac + "\n");
    EXPECT_EQ(mac.size(), 64u);
    // An empty destination is the same as none.
    EXPECT_EQ(respuestaSinPase("secreta", "abc xyz", "s1", std::string()), r);
}

TEST(Protocolo, destinoDeCuarentaBytesUsaDosBloquesYSeDescifra) {
    const std::string destino = "rtmp://ingesta.ejemplo/app/clave-secreta";  // 40 bytes
    ASSERT_EQ(destino.size(), 40u);
    std::string d = cifrarDestino("k", "reto", "ses", destino);
    ASSERT_EQ(d.size(), 80u);
    EXPECT_TRUE(soloHex(d));
    // Byte 33 comes from the second block of the key stream.
    std::string k1 = hmacSha256("k", "destino|reto|ses|1");
    EXPECT_EQ(d.substr(66, 2), hex(std::string(1, char(destino[33] ^ k1[1]))));
    EXPECT_EQ(descifrarDestino("k", "reto", "ses", d), destino);
    EXPECT_NE(descifrarDestino("otra", "reto", "ses", d), destino);
    EXPECT_FALSE(descifrarDestino("k", "reto", "ses", "abc"));
    EXPECT_FALSE(descifrarDestino("k", "reto", "ses", "zz"));

    std::string r = respuestaSinPase("k", "reto", "ses", destino);
    EXPECT_EQ(r, "TM1 ses " + hmacHex("k", "reto|ses|" + d) + " " + d + "\n");
}

TEST(Protocolo, respuestaConPaseYCharlaUsanLaLlaveDelPase) {
    Pase p{"relay:9000", "sid7", "llave-x", "token-y", 3600};
    std::string mac = hmacHex("llave-x", "R|sid7");
    EXPECT_EQ(respuestaConPase(p, "R", "0011aabbccdd"), "TM2 sid7 token-y " + mac + " 0011aabbccdd\n");
    EXPECT_EQ(respuestaCharla("TM3", p, "R"), "TM3 sid7 token-y " + mac + "\n");
    EXPECT_EQ(llaveDeSid("s", "sid7"), hmacHex("s", "llave|sid7"));
}

TEST(Protocolo, leerRespuestaReconoceCadaFormaYRechazaLoDemas) {
    auto a = leerRespuesta("TM1 s m d");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->tipo, "TM1");
    EXPECT_EQ(a->destino, "d");
    auto b = leerRespuesta("TM2 s p m e");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->epoca, "e");
    EXPECT_EQ(b->pase, "p");
    ASSERT_TRUE(leerRespuesta("TM4 s p m"));
    EXPECT_FALSE(leerRespuesta("TM2 s p m"));
    EXPECT_FALSE(leerRespuesta("TM1 s  m"));
    EXPECT_FALSE(leerRespuesta("TM9 a b c"));
    EXPECT_FALSE(leerRespuesta(""));
}

TEST(Protocolo, identidades) {
    std::string e = nuevaEpoca();
    EXPECT_EQ(e.size(), 12u);
    EXPECT_TRUE(soloHex(e));
    std::string s = nuevaSesion(false);
    EXPECT_EQ(s.size(), 32u);
    EXPECT_TRUE(soloHex(s));
    std::string seca = nuevaSesion(true);
    EXPECT_EQ(seca.size(), 36u);
    EXPECT_EQ(seca.substr(0, 4), "seco");
    EXPECT_NE(nuevaSesion(false), s);
}

TEST(Protocolo, lineas) {
    std::string b = "OK\r\nTM1 x";
    EXPECT_EQ(sacarLinea(b), "OK\r");  // no CR is stripped
    EXPECT_EQ(b, "TM1 x");
    EXPECT_FALSE(sacarLinea(b));
    b = "\xff\xfe" "abc\nOK\n";
    EXPECT_EQ(sacarLinea(b), "");  // undecodable bytes give an empty line
    EXPECT_EQ(sacarLinea(b), "OK");
    b = "ñandú\n";
    EXPECT_EQ(sacarLinea(b), "ñandú");
    EXPECT_FALSE(esUtf8("\xc0\xaf"));       // overlong
    EXPECT_FALSE(esUtf8("\xed\xa0\x80"));   // surrogate
    EXPECT_FALSE(esUtf8("\xe2\x82"));       // cut short
}

TEST(Protocolo, tramasYAcuses) {
    std::string m = enmarcar(0x01020304, "hola");
    EXPECT_EQ(m, std::string("\x01\x02\x03\x04\x00\x00\x00\x04hola", 12));
    EXPECT_EQ(enmarcar(7, "").size(), 8u);

    std::string b;
    escribirU32(b, 5);
    escribirU32(b, 0xFFFFFFFF);
    b += std::string("\x00\x00", 2);
    auto v = sacarAcuses(b);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0], 5u);
    EXPECT_EQ(v[1], 0xFFFFFFFFu);
    EXPECT_EQ(b.size(), 2u);  // half an acknowledgement waits
    b += std::string("\x00\x09", 2);
    v = sacarAcuses(b);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0], 9u);
    EXPECT_TRUE(b.empty());
}

TEST(Protocolo, entrada) {
    auto d = partirEntrada("relay.ejemplo:7935");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->host, "relay.ejemplo");
    EXPECT_EQ(d->puerto, 7935);
    EXPECT_TRUE(partirEntrada(":relay::80:"));  // empty pieces are dropped
    EXPECT_FALSE(partirEntrada("relay"));
    EXPECT_FALSE(partirEntrada("a:b:80"));
    EXPECT_FALSE(partirEntrada("relay:70000"));
    EXPECT_FALSE(partirEntrada("relay:80x"));
    EXPECT_FALSE(partirEntrada("relay:-1"));
}

TEST(Protocolo, razones) {
    for (auto r : {"SALDO", "VENCIDO", "OCUPADO", "RELEVADA", "CERRADA"}) EXPECT_TRUE(esRazon(r));
    EXPECT_FALSE(esRazon("OK"));
    EXPECT_FALSE(esRazon("SALDO\r"));
    EXPECT_EQ(textoCorte("SALDO"), "Se terminaron tus horas de transmisión. Escríbenos para cargar más.");
    EXPECT_EQ(textoCorte("RARO"), textoCorte("CERRADA"));
}
