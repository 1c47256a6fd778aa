#include "update/paquete.h"

#include <archive.h>
#include <archive_entry.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <QByteArray>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/statvfs.h>
#include <unistd.h>

extern char** environ;

namespace tt {

namespace fs = std::filesystem;

std::optional<std::string> sha256DeArchivo(const fs::path& archivo) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(archivo.c_str(), "rb"), &std::fclose);
    if (!f) return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
    std::string b(1 << 16, '\0');
    std::size_t n;
    while ((n = std::fread(b.data(), 1, b.size(), f.get())) > 0)
        if (EVP_DigestUpdate(ctx.get(), b.data(), n) != 1) return std::nullopt;
    if (std::ferror(f.get())) return std::nullopt;
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    if (EVP_DigestFinal_ex(ctx.get(), d, &len) != 1) return std::nullopt;
    static const char* cifras = "0123456789abcdef";
    std::string r;
    for (unsigned i = 0; i < len; ++i) {
        r += cifras[d[i] >> 4];
        r += cifras[d[i] & 15];
    }
    return r;
}

bool firmaValida(const std::string& mensaje, const std::string& firmaBase64, const fs::path& clavePem) {
    auto decodificada = QByteArray::fromBase64Encoding(QByteArray::fromStdString(firmaBase64),
                                                       QByteArray::AbortOnBase64DecodingErrors);
    const QByteArray* firma = &decodificada.decoded;
    if (!decodificada || firma->size() != 64) return false;
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(clavePem.c_str(), "r"), &std::fclose);
    if (!f) return false;
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> clave(PEM_read_PUBKEY(f.get(), nullptr, nullptr, nullptr),
                                                         &EVP_PKEY_free);
    // Only the kind of key the packaging signs with: no algorithm chosen by whoever placed the file.
    if (!clave || EVP_PKEY_id(clave.get()) != EVP_PKEY_ED25519) return false;
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, clave.get()) != 1) return false;
    return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(firma->constData()),
                            std::size_t(firma->size()), reinterpret_cast<const unsigned char*>(mensaje.data()),
                            mensaje.size()) == 1;
}

namespace {

// A relative path without "..", "." only as a harmless piece.
bool rutaSegura(const fs::path& p) {
    if (p.empty() || p.is_absolute() || p.has_root_name() || p.has_root_directory()) return false;
    for (const auto& pieza : p)
        if (pieza == "..") return false;
    return true;
}

// Where a link stored at `entrada` pointing to `destino` leads, still inside the folder.
bool enlaceDentro(const fs::path& entrada, const fs::path& destino) {
    if (destino.empty() || destino.is_absolute()) return false;
    int hondura = 0;
    for (const auto& pieza : entrada.parent_path()) {
        if (pieza == "." || pieza.empty()) continue;
        ++hondura;
    }
    for (const auto& pieza : destino) {
        if (pieza == "." || pieza.empty()) continue;
        if (pieza == "..") {
            if (--hondura < 0) return false;
        } else ++hondura;
    }
    return true;
}

}  // namespace

std::optional<std::string> desempacar(const fs::path& zip, const fs::path& destino, std::uint64_t tope) {
    std::unique_ptr<archive, int (*)(archive*)> lee(archive_read_new(), &archive_read_free);
    std::unique_ptr<archive, int (*)(archive*)> escribe(archive_write_disk_new(), &archive_write_free);
    if (!lee || !escribe) return "sin memoria";
    archive_read_support_format_zip(lee.get());
    archive_read_support_filter_none(lee.get());
    // libarchive's own guards stay on behind the checks below (the paths it is given are
    // absolute: destino joined with the entry's checked relative path).
    archive_write_disk_set_options(escribe.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME |
                                                      ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                      ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    std::error_code ec;
    const fs::path base = fs::weakly_canonical(destino, ec);
    if (ec) return "no existe la carpeta de trabajo";
    if (archive_read_open_filename(lee.get(), zip.c_str(), 1 << 16) != ARCHIVE_OK)
        return std::string("no es un zip: ") + archive_error_string(lee.get());
    std::uint64_t total = 0;
    std::size_t entradas = 0;
    archive_entry* e = nullptr;
    int r;
    while ((r = archive_read_next_header(lee.get(), &e)) == ARCHIVE_OK) {
        // Empty entries cost no bytes but a file each.
        if (++entradas > kTopeEntradas) return "el paquete tiene demasiadas entradas";
        const char* crudo = archive_entry_pathname(e);
        if (!crudo) return "entrada sin nombre";
        const std::string nombre = crudo;  // the entry's own text changes below
        const fs::path ruta(nombre);
        if (!rutaSegura(ruta)) return "entrada fuera de la carpeta: " + nombre;
        if (const char* s = archive_entry_symlink(e); s && !enlaceDentro(ruta, s))
            return "enlace que sale de la carpeta: " + nombre;
        if (const char* h = archive_entry_hardlink(e)) {
            if (!rutaSegura(h)) return "enlace que sale de la carpeta: " + nombre;
            archive_entry_copy_hardlink(e, (base / h).c_str());
        }
        const auto tipo = archive_entry_filetype(e);
        if (tipo != AE_IFREG && tipo != AE_IFDIR && tipo != AE_IFLNK)
            return "entrada de un tipo raro: " + nombre;
        if (archive_entry_size_is_set(e) && std::uint64_t(archive_entry_size(e)) > tope - total)
            return "el paquete es más grande que lo permitido";
        archive_entry_set_pathname(e, (base / ruta).c_str());
        archive_entry_set_perm(e, archive_entry_perm(e) & 0755);  // no set-id bits, nothing for others to write
        if (archive_write_header(escribe.get(), e) != ARCHIVE_OK)
            return "no se pudo escribir " + nombre + ": " + archive_error_string(escribe.get());
        const void* bloque;
        std::size_t n;
        la_int64_t donde;
        int b;
        // The sizes a header declares are not trusted: what is written is counted.
        while ((b = archive_read_data_block(lee.get(), &bloque, &n, &donde)) == ARCHIVE_OK) {
            if (std::uint64_t(n) > tope - total) return "el paquete es más grande que lo permitido";
            total += n;
            if (archive_write_data_block(escribe.get(), bloque, n, donde) != ARCHIVE_OK)
                return "no se pudo escribir " + nombre;
        }
        if (b != ARCHIVE_EOF) return std::string("zip dañado: ") + archive_error_string(lee.get());
        if (archive_write_finish_entry(escribe.get()) != ARCHIVE_OK)
            return "no se pudo escribir " + nombre;
    }
    if (r != ARCHIVE_EOF) return std::string("zip dañado: ") + archive_error_string(lee.get());
    if (archive_write_close(escribe.get()) != ARCHIVE_OK) return "no se pudo terminar de escribir";
    return std::nullopt;
}

std::optional<fs::path> instalacionReemplazable(const fs::path& recursos) {
    std::error_code ec;
    const fs::path carpeta = fs::weakly_canonical(recursos / ".." / "..", ec);
    if (ec || carpeta.empty() || carpeta == carpeta.root_path()) return std::nullopt;
    // The build tree has the same shape; it is rebuilt, never replaced.
    if (fs::exists(carpeta / "CMakeCache.txt", ec)) return std::nullopt;
    if (!fs::is_regular_file(carpeta / "bin" / "tremolante", ec) ||
        !fs::is_regular_file(carpeta / "share" / "tremolante" / "app.json", ec))
        return std::nullopt;
    struct statvfs v {};
    if (statvfs(carpeta.c_str(), &v) != 0 || (v.f_flag & ST_RDONLY)) return std::nullopt;
    if (access(carpeta.c_str(), W_OK) != 0 || access(carpeta.parent_path().c_str(), W_OK) != 0) return std::nullopt;
    return carpeta;
}

bool lanzarGuion(const std::string& guion) {
    posix_spawn_file_actions_t acciones;
    posix_spawnattr_t atributos;
    posix_spawn_file_actions_init(&acciones);
    posix_spawnattr_init(&atributos);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&acciones, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    // Its own session: the script outlives this process and whatever started it.
    posix_spawnattr_setflags(&atributos, POSIX_SPAWN_SETSID);
    const char* argv[] = {"/bin/sh", "-c", guion.c_str(), nullptr};
    pid_t pid;
    const int r = posix_spawn(&pid, "/bin/sh", &acciones, &atributos, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&acciones);
    posix_spawnattr_destroy(&atributos);
    return r == 0;
}

}  // namespace tt
