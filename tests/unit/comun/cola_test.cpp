#include "comun/cola.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace tt;
using namespace std::chrono_literals;

TEST(Cola, ejecutaEnOrdenEnSuPropioHilo) {
    Cola cola("tm.prueba");
    EXPECT_EQ(cola.etiqueta(), "tm.prueba");
    std::vector<int> orden;
    for (int i = 0; i < 100; ++i) cola.asincrono([&orden, i] { orden.push_back(i); });
    bool enEsta = cola.sincrono([&] { return cola.enEsta(); });
    EXPECT_TRUE(enEsta);
    EXPECT_FALSE(cola.enEsta());
    ASSERT_EQ(orden.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(orden[i], i);
}

TEST(Cola, sincronoDevuelveValorYNoSeBloqueaDentroDeLaCola) {
    Cola cola("tm.prueba");
    EXPECT_EQ(cola.sincrono([] { return 42; }), 42);
    // Called from the queue itself it runs in place instead of waiting for itself.
    int anidado = cola.sincrono([&] { return cola.sincrono([] { return 7; }) + 1; });
    EXPECT_EQ(anidado, 8);
    cola.sincrono([] {});  // void results too
}

TEST(Cola, despuesEsperaYCadaRepiteHastaCancelar) {
    Cola cola("tm.prueba");
    std::atomic<bool> hecho{false};
    auto inicio = std::chrono::steady_clock::now();
    std::atomic<double> transcurrido{0};
    cola.despues(0.05, [&] {
        transcurrido = std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
        hecho = true;
    });
    std::atomic<int> veces{0};
    auto t = cola.cada(0.01, [&] { ++veces; }, 0);
    while (!hecho || veces < 5) std::this_thread::sleep_for(1ms);
    EXPECT_GE(transcurrido.load(), 0.05);
    t->cancelar();
    cola.sincrono([] {});  // the cancellation is queued behind this
    int alCancelar = veces;
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(veces - alCancelar, 1);
}

TEST(Cola, destruirConTrabajoPendienteNoEsperaLosRetrasos) {
    std::atomic<int> corridas{0};
    std::atomic<bool> retrasoCorrido{false};
    auto inicio = std::chrono::steady_clock::now();
    {
        Cola cola("tm.prueba");
        cola.asincrono([&] {
            std::this_thread::sleep_for(20ms);
            ++corridas;
        });
        cola.asincrono([&] { ++corridas; });
        cola.despues(30, [&] { retrasoCorrido = true; });
        cola.cada(0.001, [] {});
    }
    double segundos = std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
    EXPECT_EQ(corridas, 2);  // work already posted is not lost
    EXPECT_FALSE(retrasoCorrido);
    EXPECT_LT(segundos, 10.0);
}

TEST(Cola, puedeDestruirseDesdeSuPropioTrabajo) {
    auto cola = std::make_shared<Cola>("tm.prueba");
    std::atomic<bool> fin{false};
    Cola* cruda = cola.get();
    std::shared_ptr<Cola> dueno = cola;
    cola.reset();
    cruda->asincrono([&dueno, &fin] {
        dueno.reset();  // last owner goes away on the queue's own thread
        fin = true;
    });
    while (!fin) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(dueno, nullptr);
}

TEST(Cola, globalDespuesCorre) {
    std::atomic<bool> hecho{false};
    enGlobalDespues(0.01, [&] { hecho = true; });
    for (int i = 0; i < 2000 && !hecho; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(hecho);
}
