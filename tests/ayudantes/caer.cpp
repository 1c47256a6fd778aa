// Installs the crash handler and dies by SIGSEGV: the subject of the crash report tests.
// Usage: tremolante-caer <reports folder>
#include "comun/cierres.h"

#include <sys/mman.h>
#include <sys/resource.h>

// Exported with its name, so the report's backtrace can be checked for it. A page without access
// rather than a null pointer, which the undefined-behaviour checker would stop first.
extern "C" [[gnu::noinline]] void caerAqui() {
    void* pagina = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(pagina) = 1;
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    // A planned death leaves no core file behind.
    rlimit sinNucleo{0, 0};
    setrlimit(RLIMIT_CORE, &sinNucleo);
    if (!tt::instalarCierres(argv[1], "prueba (1)")) return 3;
    if (tt::instalarCierres(argv[1], "otra")) return 4;  // once per process
    caerAqui();
    return 5;
}
