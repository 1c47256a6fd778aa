#include "engine/hijo.h"
#include "engine/hilos.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using namespace tt;

TEST(Hijo, entradaSalidaErroresYEstado) {
    // An older log readable by others: the child's messages may repeat a URL, so it becomes 0600.
    std::string errores = carpetaFifos() + "/errores.log";
    std::ofstream(errores) << "de antes\n";
    ASSERT_EQ(::chmod(errores.c_str(), 0644), 0);
    Hijo::Arranque a{"/bin/sh", {"-c", "cat; echo aviso >&2; exit 3"}, errores, false};
    std::string error;
    auto h = Hijo::lanzar(a, &error);
    ASSERT_TRUE(h) << error;
    std::mutex m;
    std::string leido;
    std::atomic<int> estado{-99};
    Hilos hilos;
    h->vigilar(hilos, 7, [&](std::string_view s) { std::lock_guard l(m); leido += s; }, [&](int e) { estado = e; });
    EXPECT_EQ(hilos.enCurso(7), 1);
    ASSERT_EQ(::write(h->entrada(), "hola\n", 5), 5);
    h->cerrarEntrada();
    EXPECT_EQ(h->esperar(10), 3);
    // The watcher ends with the child, after reporting it.
    ASSERT_TRUE(hilos.esperar(10, 7));
    EXPECT_EQ(estado, 3);
    EXPECT_EQ(hilos.enCurso(), 0);
    std::lock_guard l(m);
    EXPECT_EQ(leido, "hola\n");
    std::ifstream f(errores);
    std::string linea;
    std::getline(f, linea);
    EXPECT_EQ(linea, "aviso");  // emptied first
    struct stat st{};
    ASSERT_EQ(::stat(errores.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A log that cannot be opened leaves standard error as it is: the child still starts.
    auto sinLog = Hijo::lanzar({"/bin/sh", {"-c", "exit 0"}, carpetaFifos() + "/no-existe/ffmpeg.log", true, false}, &error);
    ASSERT_TRUE(sinLog) << error;
    sinLog->vigilar(hilos, 0, nullptr, nullptr);
    EXPECT_EQ(sinLog->esperar(10), 0);
    ::unlink(errores.c_str());
}

TEST(Hijo, unoQueIgnoraSigtermTerminaIgual) {
    auto h = Hijo::lanzar({"/bin/sh", {"-c", "trap '' TERM; while :; do sleep 0.05; done"}, "", false});
    ASSERT_TRUE(h);
    Hilos hilos;
    h->vigilar(hilos, 0, nullptr, nullptr);
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
