#!/bin/bash
# The quality ladder on a real shaped link (run as root). Two network namespaces joined by one veth
# pair shaped with tc tbf; the relay stand-in on one side, the application with the synthetic
# camera on the other, streaming through that link only. After 30 s on air the link is narrowed
# for 40 s, then opened again; the script reports from the app's log when the ladder stepped down,
# probed and climbed back, and from the relay's output whether the stream stayed continuous.
# Removes everything it made.
# With TOPE=app the link stays wide and the app's own uplink cap (TM_TOPE_KBPS) holds it at
# ESTRECHO from DESDE to HASTA seconds after its start (10 and 35 unless given).
#
#   bench/rig/calidad_al_aire.sh BIN [ESTRECHO_KBIT] [KBPS]
#   BIN: folder with tremolante and tremolante-relay (build/bin)
#   ESTRECHO_KBIT: the narrowed rate in kbit/s (1000; 150 brings the audio-only rung)
#   KBPS: the configured bit rate (3000); the link is 4 Mbit/s otherwise (ANCHO=kbit/s)
set -uo pipefail

BIN=$(cd "${1:?carpeta de binarios}" && pwd)
ESTRECHO=${2:-1000}
KBPS=${3:-3000}
ANCHO=${ANCHO:-4000}  # the link's usual rate, kbit/s
ANTES=30 DURANTE=40 DESPUES=${DESPUES:-45}
TOPE=${TOPE:-} DESDE=${DESDE:-10} HASTA=${HASTA:-35}
C=tmcal-c R=tmcal-r
RELAY=10.78.9.1
TMP=$(mktemp -d /tmp/tmcal.XXXXXX)
RELAY_PID= APP_PID= NGINX_PID=
TM_RELAY_CLAVE=$(head -c 16 /dev/urandom | od -An -tx1 | tr -d ' \n')
export TM_RELAY_CLAVE

[ "$(id -u)" = 0 ] || { echo "hace falta ser root" >&2; exit 2; }

limpiar() {
    [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null && wait "$APP_PID" 2>/dev/null
    if [ -n "$RELAY_PID" ]; then
        kill -TERM "$RELAY_PID" 2>/dev/null
        wait "$RELAY_PID"
        local estado=$?
        [ "$estado" = 0 ] || echo "  el relay no terminó limpio tras SIGTERM (estado $estado)" >&2
        RELAY_PID=
    fi
    [ -n "$NGINX_PID" ] && kill -TERM "$NGINX_PID" 2>/dev/null && wait "$NGINX_PID" 2>/dev/null
    ip netns del $C 2>/dev/null
    ip netns del $R 2>/dev/null
}
trap 'limpiar; [ -z "${GUARDAR:-}" ] && rm -rf "$TMP"' EXIT

forma() { ip netns exec $C tc qdisc "$1" dev tmc0 root tbf rate "$2"kbit burst 32kb latency 400ms; }
marca() { date +%s.%N; }
# Seconds of the day of a log line's "HH:MM:SS".
segundos() { awk -F'[: ]' '{print $1*3600 + $2*60 + $3}'; }
del_dia() { date -d "@$1" +%H:%M:%S | segundos; }

ip netns add $C && ip netns add $R
ip -n $C link set lo up
ip -n $R link set lo up
ip -n $R addr add $RELAY/32 dev lo
ip link add tmc0 netns $C type veth peer name tmr0 netns $R
ip -n $C addr add 10.78.0.1/24 dev tmc0
ip -n $R addr add 10.78.0.2/24 dev tmr0
ip -n $C link set tmc0 up
ip -n $R link set tmr0 up
ip -n $C route replace $RELAY/32 via 10.78.0.2 dev tmc0
forma add $ANCHO

# The channel's ingest beside the relay: a destination that never takes the stream would end it.
mkdir -p "$TMP/nginx"
cat >"$TMP/nginx/nginx.conf" <<FIN
load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;
daemon off;
master_process off;
pid $TMP/nginx/nginx.pid;
error_log $TMP/nginx/error.log;
events {}
rtmp { server { listen 127.0.0.1:1939; application live { live on; } } }
FIN
ip netns exec $R /usr/sbin/nginx -p "$TMP/nginx" -c "$TMP/nginx/nginx.conf" &
NGINX_PID=$!

ip netns exec $R "$BIN/tremolante-relay" --escuchar $RELAY:7935 --destinos-locales --salida "$TMP/salida.flv" \
    >/dev/null 2>"$TMP/relay.log" &
RELAY_PID=$!

CASA=$TMP/casa
mkdir -p "$CASA/.local/share/Tremolante" "$TMP/datos" "$TMP/tmp"
ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=1280x720 -frames:v 1 "$TMP/camara.png"
umask 077
printf '{"servidor": "rtmp://127.0.0.1:19380/live/mac", "kbps": %s, "preset": 12, "entrada": "%s:7935", "clave": "%s"}\n' \
    "$KBPS" "$RELAY" "$TM_RELAY_CLAVE" >"$CASA/.local/share/Tremolante/config.json"
echo '[{"id": "c1", "nombre": "Rig", "servidor": "rtmp://127.0.0.1:1939/live", "clave": "rig"}]' >"$TMP/datos/canales.json"
umask 022
LOG=$CASA/.local/state/Tremolante/app.log
TOTAL=$((ANTES + DURANTE + DESPUES))
CAP=()
if [ "$TOPE" = app ]; then
    TOTAL=$((HASTA + DESPUES))
    CAP=(TM_TOPE_KBPS="$ESTRECHO" TM_TOPE_DESDE="$DESDE" TM_TOPE_HASTA="$HASTA")
fi
T_APP=$(marca)
ip netns exec $C env -i PATH=/usr/bin:/bin HOME="$CASA" TM_DATOS="$TMP/datos" TMPDIR="$TMP/tmp" \
    QT_QPA_PLATFORM=offscreen TM_CAMARA_FALSA="$TMP/camara.png" TM_RUIDO=30 TM_INTERFACES=tmc0 \
    TM_DEPURAR=1 TM_AUTO=$TOTAL "${CAP[@]}" "$BIN/tremolante" 2>/dev/null &
APP_PID=$!

for _ in $(seq 200); do grep -q "red unida" "$LOG" 2>/dev/null && break; sleep 0.1; done
grep -q "red unida" "$LOG" 2>/dev/null || { echo "la app no se unió al relay"; exit 1; }
if [ "$TOPE" = app ]; then
    mas() { awk -v a="$T_APP" -v b="$1" 'BEGIN { printf "%.3f", a + b }'; }
    T_ESTRECHO=$(mas "$DESDE") T_ANCHO=$(mas "$HASTA")
else
    sleep $ANTES
    T_ESTRECHO=$(marca)
    forma change "$ESTRECHO"
    sleep $DURANTE
    T_ANCHO=$(marca)
    forma change $ANCHO
fi
wait "$APP_PID"
echo "app: estado $?"
APP_PID=

echo "== enlace $ANCHO kbit/s, ${ESTRECHO} kbit/s${TOPE:+ (tope de la app)} de $(date -d @"${T_ESTRECHO%.*}" +%T) a $(date -d @"${T_ANCHO%.*}" +%T), kbps $KBPS"
grep -E "calidad: (baja|sube|la señal|sondeo)|sin internet|volvió" "$LOG" | sed 's/^/  /'
E=$(del_dia "${T_ESTRECHO%.*}") A=$(del_dia "${T_ANCHO%.*}")
PRIMERA=$(grep "calidad: baja a " "$LOG" | segundos | awk -v e="$E" '$1 >= e {print; exit}')
[ -n "$PRIMERA" ] && echo "  de la congestión a la primera bajada: $((PRIMERA - E)) s (±1 s)"
TOPE=$(grep "calidad: sube a $KBPS kbps" "$LOG" | segundos | awk -v a="$A" '$1 >= a {print; exit}')
[ -n "$TOPE" ] && echo "  del alivio al escalón de arriba: $((TOPE - A)) s (±1 s)" || echo "  no volvió al escalón de arriba"

echo "  relay: $(grep -o 'fin del flujo.*' "$TMP/relay.log" | tail -1)"
python3 - "$TMP/salida.flv" <<'EOF'
import subprocess, sys
flv = sys.argv[1]
datos = open(flv, 'rb').read()
print("  cabeceras FLV:", datos.count(b"FLV\x01\x05\x00\x00\x00\x09"))
def pts(tipo):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", tipo, "-show_entries", "packet=pts",
                          "-of", "csv=p=0", flv], capture_output=True, text=True).stdout
    return [int(x.strip(',')) for x in out.split() if x.strip(',').lstrip('-').isdigit()]
v = pts("v")
pasos = [b - a for a, b in zip(v, v[1:])]
raros = [(i, p) for i, p in enumerate(pasos) if p not in (33, 34)]
print(f"  video: {len(v)} cuadros, {v[-1] - v[0] if v else 0} ms, pasos distintos de un cuadro: {len(raros)} {raros[:5]}")
a = pts("a")
print(f"  audio: {len(a)} paquetes, paso más largo {max((b - x for x, b in zip(a, a[1:])), default=0)} ms")
err = subprocess.run(["ffmpeg", "-v", "error", "-i", flv, "-f", "null", "-"], capture_output=True, text=True).stderr
print("  decodificación:", "sin errores" if not err.strip() else err.strip().splitlines()[:3])
EOF
