#include "soporte/relay_hijo.h"

#include "comun/cripto.h"
#include "comun/permiso.h"

#include <gtest/gtest.h>

#include <ctime>

namespace tt::prueba {

Pase paseSellado(const std::string& entrada, const std::string& secreto, const std::string& sid, long long segundos,
                 const std::string& destino) {
    const double ahora = double(std::time(nullptr));
    Permiso p{sid, "sala-" + sid, destino, segundos, ahora + 300, destino.empty(), ahora};
    return Pase{entrada, sid, hmacHex(secreto, "llave|" + sid), sellarPermiso(secreto, p), int(segundos)};
}

namespace {

std::vector<std::string> argumentosRelay(std::vector<std::string> argumentos) {
    // Tests publish to servers on loopback.
    std::vector<std::string> todo{std::string(TM_BIN) + "/tremolante-relay", "--escuchar", "127.0.0.1:0",
                                  "--destinos-locales"};
    todo.insert(todo.end(), argumentos.begin(), argumentos.end());
    return todo;
}

std::vector<std::string> entornoRelay(const ClavesRelay& claves) {
    auto entorno = ServidorHijo::entornoSin("TM_RELAY_");
    if (!claves.clave.empty()) entorno.push_back("TM_RELAY_CLAVE=" + claves.clave);
    if (!claves.secreto.empty()) entorno.push_back("TM_RELAY_SECRETO=" + claves.secreto);
    return entorno;
}

}  // namespace

RelayHijo::RelayHijo(ClavesRelay claves, std::vector<std::string> argumentos)
    : ServidorHijo("relay", argumentosRelay(std::move(argumentos)), entornoRelay(claves)) {
    // The old form RelayHijo({"--clave", "k"}) still compiles, as keys "--clave" and "k".
    if (claves.clave.rfind("--", 0) == 0 || claves.secreto.rfind("--", 0) == 0)
        ADD_FAILURE() << "RelayHijo: las claves van en ClavesRelay {clave, secreto}, no como opciones";
    EXPECT_NE(puerto(), 0) << "el relay no arrancó: " << registro();
}

}  // namespace tt::prueba
