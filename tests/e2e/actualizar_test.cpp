// The installed application updates itself from the control stand-in's feed: packages of builds
// 7 and 8 of this very binary (the build number lives in share/tremolante/app.json), signed with
// a key pair made here; the old copy installed in a folder whose path has a blank and a quote.
#include "e2e/corrida.h"
#include "soporte/control_hijo.h"

#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tt::prueba;

namespace {

const std::string kCarpeta = "Tremolante Transmitir";

int correr(const std::string& orden) {
    int s = std::system((orden + " >/dev/null 2>&1").c_str());
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
}

std::string citado(const std::string& s) {
    std::string r = "'";
    for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

// The packages every case shares, made once per build of the binary and kept beside the build
// (several test processes use them, one after another).
struct Paquetes {
    fs::path raiz = fs::path(TM_BIN).parent_path() / "pruebas-actualizacion";
    fs::path clave = raiz / "clave.pem";
    fs::path viejo = raiz / "viejo";  // build 7, key A, with the unzipped folder to install
    fs::path nuevo = raiz / "nuevo";  // build 8, key A
    fs::path ajeno = raiz / "ajeno";  // build 8, signed with another key
    bool listos = false;

    Paquetes() {
        fs::create_directories(raiz);
        const int candado = open((raiz / "candado").c_str(), O_CREAT | O_RDWR, 0600);
        flock(candado, LOCK_EX);
        struct stat st {};
        stat(TM_BIN "/tremolante", &st);
        const std::string sello = std::to_string(st.st_mtime) + " " + std::to_string(st.st_size);
        listos = fs::exists(raiz / "sello") && leer(raiz / "sello") == sello;
        if (!listos) {
            fs::remove(raiz / "sello");
            const std::string empaquetar = std::string(TM_FUENTE) + "/scripts/empaquetar ";
            const std::string build = citado(fs::path(TM_BIN).parent_path().string());
            listos = correr("umask 077; openssl genpkey -algorithm ed25519 -out " + clave.string()) == 0 &&
                     correr("umask 077; openssl genpkey -algorithm ed25519 -out " + (raiz / "otra.pem").string()) == 0 &&
                     correr(empaquetar + "--build 7 --conservar " + build + " " + clave.string() + " " +
                            viejo.string()) == 0 &&
                     correr(empaquetar + "--build 8 --notas 'Arreglos' " + build + " " + clave.string() + " " +
                            nuevo.string()) == 0 &&
                     correr(empaquetar + "--build 8 " + build + " " + (raiz / "otra.pem").string() + " " +
                            ajeno.string()) == 0;
            if (listos) escribir(raiz / "sello", sello);
        }
        close(candado);
    }

    // A signed feed answer for any zip, as the packaging writes it.
    std::string anunciar(const fs::path& zip, const std::string& build) const {
        const std::string sha = salidaDe("sha256sum " + citado(zip.string()) + " | cut -c1-64");
        const fs::path hash = zip.parent_path() / "hash";
        escribir(hash, sha.substr(0, 64));
        const std::string firma = salidaDe("openssl pkeyutl -sign -rawin -inkey " + clave.string() + " -in " +
                                           citado(hash.string()) + " | base64 -w0");
        return R"({"build": ")" + build + R"(", "sha256": ")" + sha.substr(0, 64) + R"(", "firma": ")" + firma + "\"}";
    }
};

pid_t padreDe(pid_t pid) {
    std::string s = leer("/proc/" + std::to_string(pid) + "/stat");
    auto fin = s.rfind(')');
    if (fin == std::string::npos) return -1;
    return pid_t(std::atoi(s.c_str() + fin + 4));  // ") S ppid"
}

// One installed old copy, the stand-in serving a feed, and the run of the app.
class Banco {
public:
    Paquetes paquetes;
    CarpetaTemporal raiz;
    fs::path lugar = raiz / "it's a test";  // the folder holding the installed copy
    fs::path instalada = lugar / kCarpeta;
    fs::path feed = raiz / "feed";
    Corrida corrida;
    std::unique_ptr<ControlHijo> control;

    Banco() {
        // The script and the new copy outlive the app that starts them: this process adopts
        // them, so it can stop the new copy by its PID.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        fs::create_directories(lugar);
        fs::create_directories(feed);
        correr("cp -a " + citado((paquetes.viejo / kCarpeta).string()) + " " + citado(lugar.string()));
    }
    ~Banco() {
        // A killed copy's own children are adopted in turn.
        for (int ronda = 0; ronda < 3; ++ronda)
            for (pid_t p : hijosAdoptados()) {
                kill(p, SIGKILL);
                waitpid(p, nullptr, 0);
            }
    }

    void publicar(const fs::path& zip, const std::string& version) {
        fs::copy_file(zip, feed / "app.zip", fs::copy_options::overwrite_existing);
        escribir(feed / "version.json", version);
        control = std::make_unique<ControlHijo>(raiz / "control", "secreto-compartido",
                                                std::vector<std::string>{"--prueba", "--actualizaciones", feed.string()});
    }

    void arrancar(std::vector<std::string> extra = {}) {
        extra.push_back("TM_ACTUALIZAR=auto");
        extra.push_back("TM_CONTROL=" + control->sitio());
        corrida.arrancar(extra, (instalada / "bin" / "tremolante").string());
    }

    // Children this process adopted, other than the stand-in and the app it started; zombies reaped.
    std::vector<pid_t> hijosAdoptados() {
        std::vector<pid_t> r;
        for (const auto& e : fs::directory_iterator("/proc")) {
            const pid_t p = pid_t(std::atoi(e.path().filename().c_str()));
            if (p <= 0 || p == corrida.pid || (control && p == control->pid()) || padreDe(p) != getpid()) continue;
            if (waitpid(p, nullptr, WNOHANG) == p) continue;
            r.push_back(p);
        }
        return r;
    }

    // Waits for the text in the log while reaping the app if it ends (the swap script waits for
    // its PID to be gone). The app's exit status when it ended, else -2.
    bool esperarEnBitacora(const std::string& texto, double segundos, int* salida = nullptr) {
        for (int i = 0; i < segundos * 10; ++i) {
            if (corrida.pid > 0) {
                int s;
                if (waitpid(corrida.pid, &s, WNOHANG) == corrida.pid) {
                    corrida.pid = -1;
                    if (salida) *salida = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
                }
            }
            if (corrida.bitacora().find(texto) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    std::string build() const { return leer(instalada / "share/tremolante/app.json"); }
    // Nothing of the updater in the temporary folder (the camera picture of the run is there).
    bool tmpVacio() const {
        for (const auto& e : fs::directory_iterator(corrida.tmp.ruta()))
            if (e.path().filename().string().starts_with("tm-actualiza") || e.path().filename() == "fuera.txt")
                return false;
        return true;
    }

    // A refused package: the reason in the log, the old copy untouched and still running, nothing
    // left in the temporary folder.
    void rechazado(const std::string& razon) {
        arrancar();
        EXPECT_TRUE(esperarEnBitacora("actualización: " + razon, 40)) << corrida.bitacora();
        EXPECT_GT(corrida.pid, 0) << "the old copy quit";
        EXPECT_EQ(waitpid(corrida.pid, nullptr, WNOHANG), 0);
        EXPECT_NE(build().find("\"build\": \"7\""), std::string::npos);
        EXPECT_TRUE(tmpVacio());
        EXPECT_EQ(std::distance(fs::directory_iterator(lugar), fs::directory_iterator()), 1);
    }
};

}  // namespace

TEST(Actualizar, bajaVerificaCambiaLaCarpetaYAbreLaNueva) {
    Banco b;
    ASSERT_TRUE(b.paquetes.listos);
    // The published hash in capitals is the same hash.
    std::string v = leer(b.paquetes.nuevo / "version.json");
    const auto at = v.find("\"sha256\": \"") + 11;
    for (auto i = at; i < at + 64; ++i) v[i] = char(std::toupper(static_cast<unsigned char>(v[i])));
    b.publicar(b.paquetes.nuevo / "app.zip", v);
    b.arrancar();
    int salida = -2;
    ASSERT_TRUE(b.esperarEnBitacora("actualización: versión 0.1.0, build 8", 60, &salida)) << b.corrida.bitacora();
    EXPECT_EQ(salida, 0);  // the old copy quit by itself
    const std::string log = b.corrida.bitacora();
    EXPECT_NE(log.find("hay una versión nueva: 0.1.0 (8); esta es 7"), std::string::npos);
    EXPECT_NE(log.find("actualización: paquete 8 listo; la app se cierra para cambiarse"), std::string::npos);
    EXPECT_NE(b.build().find("\"build\": \"8\""), std::string::npos);
    EXPECT_TRUE(fs::is_symlink(b.instalada / "share/tremolante/ffmpeg"));  // kept from the old copy
    // Only the new copy is left: no old folder beside it, no work folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(b.lugar), fs::directory_iterator()), 1);
    EXPECT_TRUE(b.tmpVacio());
    // The new copy runs from the installed folder, adopted here; stopped by its PID.
    std::vector<pid_t> nuevas;
    for (pid_t p : b.hijosAdoptados())
        if (fs::read_symlink("/proc/" + std::to_string(p) + "/exe") == fs::canonical(b.instalada / "bin/tremolante"))
            nuevas.push_back(p);
    ASSERT_EQ(nuevas.size(), 1u);
    // It found nothing newer than itself to install.
    EXPECT_TRUE(b.esperarEnBitacora("actualización: no hay nada más nuevo que el build 8", 30)) << b.corrida.bitacora();
    EXPECT_EQ(b.corrida.bitacora().find("actualización: paquete 8 listo", log.size()), std::string::npos);
    kill(nuevas[0], SIGTERM);
    int s = 0;
    EXPECT_EQ(waitpid(nuevas[0], &s, 0), nuevas[0]);
}

TEST(Actualizar, rechazaUnZipQueNoEsElPublicado) {
    Banco b;
    ASSERT_TRUE(b.paquetes.listos);
    std::string v = leer(b.paquetes.nuevo / "version.json");
    const auto at = v.find("\"sha256\": \"") + 11;
    v[at] = v[at] == '0' ? '1' : '0';
    b.publicar(b.paquetes.nuevo / "app.zip", v);
    b.rechazado("el paquete no coincide con el publicado");
}

TEST(Actualizar, rechazaLaFirmaDeOtraClave) {
    Banco b;
    ASSERT_TRUE(b.paquetes.listos);
    b.publicar(b.paquetes.ajeno / "app.zip", leer(b.paquetes.ajeno / "version.json"));
    b.rechazado("el paquete llegó dañado (firma)");
}

TEST(Actualizar, rechazaUnPaqueteDeOtroBuild) {
    Banco b;
    ASSERT_TRUE(b.paquetes.listos);
    // Build 7's package, rightly signed, announced as 8.
    b.publicar(b.paquetes.viejo / "app.zip", b.paquetes.anunciar(b.paquetes.viejo / "app.zip", "8"));
    b.rechazado("el paquete no es la app esperada");
}

TEST(Actualizar, rechazaUnZipQueEscribeFueraDeSuCarpeta) {
    Banco b;
    ASSERT_TRUE(b.paquetes.listos);
    const fs::path zip = b.raiz / "malo.zip";
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    ASSERT_EQ(archive_write_open_filename(a, zip.c_str()), ARCHIVE_OK);
    for (const char* nombre : {"Tremolante Transmitir/leeme.txt", "../fuera.txt"}) {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, nombre);
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, 4);
        archive_write_header(a, e);
        archive_write_data(a, "hola", 4);
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
    b.publicar(zip, b.paquetes.anunciar(zip, "8"));
    b.rechazado("no se pudo abrir el paquete");
    EXPECT_NE(b.corrida.bitacora().find("entrada fuera de la carpeta: ../fuera.txt"), std::string::npos);
    EXPECT_FALSE(fs::exists(b.corrida.tmp / "fuera.txt"));
}

TEST(Actualizar, unaCarpetaQueNoSePuedeEscribirPideInstalarAMano) {
    Banco b;
    ASSERT_TRUE(b.paquetes.listos);
    b.publicar(b.paquetes.nuevo / "app.zip", leer(b.paquetes.nuevo / "version.json"));
    // root writes anywhere: a read-only mount stands for a folder the user cannot change.
    bool montada = false;
    if (geteuid() == 0) {
        montada = mount(b.lugar.c_str(), b.lugar.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                  mount(nullptr, b.lugar.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        if (!montada) GTEST_SKIP() << "no read-only mount here";
    } else {
        fs::permissions(b.lugar, fs::perms::owner_read | fs::perms::owner_exec);
    }
    b.arrancar();
    EXPECT_TRUE(b.esperarEnBitacora("actualización: Para que se actualice sola, instala Tremolante Transmitir en una "
                                    "carpeta tuya y ábrela desde ahí.", 40))
        << b.corrida.bitacora();
    EXPECT_GT(b.corrida.pid, 0);
    EXPECT_TRUE(b.tmpVacio());  // nothing was downloaded
    if (montada) umount2(b.lugar.c_str(), MNT_DETACH);
    else fs::permissions(b.lugar, fs::perms::owner_all);
}

TEST(Actualizar, alAireNoSeOfreceHastaSeisSegundosDespuesDeParar) {
    Banco b;
    ASSERT_TRUE(b.paquetes.listos);
    b.publicar(b.paquetes.nuevo / "app.zip", leer(b.paquetes.nuevo / "version.json"));
    // A test recording pressed 3 s after start and stopped after 5 s on air.
    b.arrancar({"TM_AUTO=5", "TM_ARCHIVO=1"});
    ASSERT_TRUE(b.esperarEnBitacora("hay una versión nueva", 30)) << b.corrida.bitacora();
    ASSERT_TRUE(b.esperarEnBitacora("transmisión detenida", 30)) << b.corrida.bitacora();
    const auto parada = std::chrono::steady_clock::now();
    EXPECT_EQ(b.corrida.bitacora().find("actualización: paquete"), std::string::npos);
    int salida = -2;
    ASSERT_TRUE(b.esperarEnBitacora("actualización: paquete 8 listo", 20, &salida)) << b.corrida.bitacora();
    EXPECT_GE(std::chrono::steady_clock::now() - parada, std::chrono::milliseconds(5500));
    EXPECT_TRUE(b.esperarEnBitacora("actualización: versión 0.1.0, build 8", 30, &salida)) << b.corrida.bitacora();
    EXPECT_EQ(salida, 0);
}
