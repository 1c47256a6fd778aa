#include "engine/hijo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using namespace tt;

TEST(Hijo, entradaSalidaErroresYEstado) {
    std::string errores = carpetaFifos() + "/errores.log";
    Hijo::Arranque a{"/bin/sh", {"-c", "cat; echo aviso >&2; exit 3"}, errores, true};
    std::string error;
    auto h = Hijo::lanzar(a, &error);
    ASSERT_TRUE(h) << error;
    std::mutex m;
    std::string leido;
    std::atomic<int> estado{-99};
    h->vigilar([&](std::string_view s) { std::lock_guard l(m); leido += s; }, [&](int e) { estado = e; });
    ASSERT_EQ(::write(h->entrada(), "hola\n", 5), 5);
    h->cerrarEntrada();
    EXPECT_EQ(h->esperar(10), 3);
    for (int i = 0; i < 1000 && estado == -99; ++i) usleep(1000);
    EXPECT_EQ(estado, 3);
    std::lock_guard l(m);
    EXPECT_EQ(leido, "hola\n");
    std::ifstream f(errores);
    std::string linea;
    std::getline(f, linea);
    EXPECT_EQ(linea, "aviso");
}

TEST(Hijo, unoQueIgnoraSigtermTerminaIgual) {
    auto h = Hijo::lanzar({"/bin/sh", {"-c", "trap '' TERM; while :; do sleep 0.05; done"}, "", false});
    ASSERT_TRUE(h);
    h->vigilar(nullptr, nullptr);
    usleep(100000);
    h->terminar(0.2);
    auto e = h->esperar(10);
    ASSERT_TRUE(e);
    EXPECT_EQ(*e, 128 + 9);
}

TEST(Hijo, ejecutableQueNoExisteEsUnError) {
    std::string error;
    EXPECT_FALSE(Hijo::lanzar({"/no/existe/ffmpeg", {}, "", true}, &error));
    EXPECT_FALSE(error.empty());
}

TEST(Hijo, fifosPrivadasQueNoSeReusan) {
    struct stat st{};
    ASSERT_FALSE(carpetaFifos().empty());
    ASSERT_EQ(stat(carpetaFifos().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::string f = nuevaFifo("tm-1-audio.fifo");
    ASSERT_FALSE(f.empty());
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(nuevaFifo("tm-1-audio.fifo"), "");  // the same name twice is refused
    unlink(f.c_str());
}
