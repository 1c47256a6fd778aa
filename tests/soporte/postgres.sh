#!/bin/bash
# A throw-away PostgreSQL cluster for the tests: `postgres.sh arrancar CARPETA` makes and starts
# one that listens only on a socket in CARPETA (no TCP port, trust for its own socket), and
# `postgres.sh parar CARPETA` stops it by its PID, checks that it exited, and removes it;
# `detener` and `reanudar` stop it and start it again with its data (a server that goes away).
# initdb refuses to run as root: as root it runs as the postgres user the package creates.
set -euo pipefail
accion=$1
dir=$2
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
if [ -z "$bin" ]; then
    echo "falta PostgreSQL (el paquete postgresql; scripts/instalar lo instala)" >&2
    exit 1
fi
como() {
    if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
case $accion in
arrancar)
    "$0" parar "$dir" 2>/dev/null || true  # what an interrupted run left
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
    chmod 700 "$dir"
    como "$bin/initdb" -D "$dir/datos" -U postgres -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
        { cat "$dir/initdb.log" >&2; exit 1; }
    "$0" reanudar "$dir"
    ;;
reanudar)
    # Speed over durability: the cluster lives for one run of the tests.
    como "$bin/pg_ctl" -D "$dir/datos" -l "$dir/servidor.log" -w -t 60 start \
        -o "-c listen_addresses= -k $dir -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=300" \
        >/dev/null || { cat "$dir/servidor.log" >&2; exit 1; }
    ;;
parar | detener)
    if [ ! -f "$dir/datos/postmaster.pid" ]; then
        if [ "$accion" = parar ]; then rm -rf "$dir"; fi
        exit 0
    fi
    pid=$(head -1 "$dir/datos/postmaster.pid")
    como "$bin/pg_ctl" -D "$dir/datos" -m fast -w -t 60 stop >/dev/null
    # Gone, or a zombie where nothing reaps the daemon.
    if kill -0 "$pid" 2>/dev/null && [[ $(ps -o stat= -p "$pid") != Z* ]]; then
        echo "PostgreSQL ($pid) no terminó" >&2
        exit 1
    fi
    if [ "$accion" = parar ]; then rm -rf "$dir"; fi
    ;;
*)
    echo "uso: $0 arrancar|parar|detener|reanudar CARPETA" >&2
    exit 2
    ;;
esac
