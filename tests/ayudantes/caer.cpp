// Installs the crash handler and dies by SIGSEGV: the subject of the crash report tests.
// Usage: tremolante-caer <reports folder>
#include "cuenta/cierres.h"

#include <sys/resource.h>

namespace {
int* volatile nada = nullptr;
}

// Exported with its name, so the report's backtrace can be checked for it.
extern "C" [[gnu::noinline]] void caerAqui() { *nada = 1; }

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
