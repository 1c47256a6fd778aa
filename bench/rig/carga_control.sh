#!/bin/bash
# The control service under the same load on PostgreSQL and on SQLite, one after the other:
#
#   bench/rig/carga_control.sh BIN_DIR [tremolante-carga-control's options…]
#
# First INSTANCIAS instances (2) on one base of a throw-away PostgreSQL cluster (a socket in a
# folder of its own, no TCP port), with PostgreSQL's own CPU; then one instance on SQLite. The
# cluster is stopped and removed at the end, also on an error or an interrupt. For example:
#
#   bench/rig/carga_control.sh build/bin --salas 2000 --celulares-grande 2 --celulares 2 --segundos 60
set -euo pipefail
raiz=$(cd "$(dirname "$0")/../.." && pwd)
if [ $# -lt 1 ] || [ "$1" = "--help" ]; then
    echo "uso: $0 CARPETA_BIN [opciones de tremolante-carga-control…]" >&2
    exit 2
fi
bin=$(cd "$1" && pwd)
shift
herramienta=$bin/tremolante-carga-control
for b in "$herramienta" "$bin/tremolante-control"; do
    [ -x "$b" ] || { echo "falta $b (constrúyalo: tremolante-carga-control y tremolante-control)" >&2; exit 2; }
done
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
if [ -z "$pgbin" ] || [ ! -x "$pgbin/psql" ]; then
    echo "falta PostgreSQL (el paquete postgresql; scripts/instalar lo instala)" >&2
    exit 1
fi
instancias=${INSTANCIAS:-2}

# One socket per desktop and phone, and the service's own: thousands. The service raises its own
# limit; the tool needs it raised here.
duro=$(ulimit -Hn)
[ "$duro" = unlimited ] && duro=1048576
ulimit -n "$duro" 2>/dev/null || ulimit -n 65536 2>/dev/null || true
echo "descriptores por proceso: $(ulimit -n)"

pg=$(mktemp -d /tmp/tremolante-pg-carga.XXXXXX)
trabajo=$(mktemp -d /tmp/tm-carga-sh.XXXXXX)  # the tool's folders (TMPDIR), whatever stops it
herramienta_pid=
limpiar() {
    local e=$?
    trap - EXIT INT TERM
    # The tool's instances die with it (SIGTERM when their parent goes).
    if [ -n "$herramienta_pid" ] && kill -0 "$herramienta_pid" 2>/dev/null; then
        kill "$herramienta_pid" 2>/dev/null || true
        wait "$herramienta_pid" 2>/dev/null || true
    fi
    "$raiz/tests/soporte/postgres.sh" parar "$pg" || e=1
    rm -rf "$trabajo"
    exit "$e"
}
trap limpiar EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# In the background, so that a signal reaches the trap at once and not when the run ends.
correr() {
    TMPDIR=$trabajo "$herramienta" "$@" &
    herramienta_pid=$!
    local e=0
    wait "$herramienta_pid" || e=$?
    herramienta_pid=
    return "$e"
}

"$raiz/tests/soporte/postgres.sh" arrancar "$pg"
pgpid=$(head -1 "$pg/datos/postmaster.pid")
"$pgbin/psql" -X -q -v ON_ERROR_STOP=1 "postgresql://postgres@/postgres?host=$pg" -c "CREATE DATABASE carga"

estado=0
echo
echo "=== PostgreSQL $("$pgbin/postgres" --version | awk '{print $3}'), $instancias instancias ==="
correr --instancias "$instancias" --base "postgresql://postgres@/carga?host=$pg" --pg-pid "$pgpid" "$@" || estado=1
echo
echo "=== SQLite, 1 instancia ==="
correr --instancias 1 "$@" || estado=1
exit "$estado"
