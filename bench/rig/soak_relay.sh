#!/bin/bash
# Soak of the relay stand-in on loopback: 50 honest transmissions at 2 Mbit/s each (one
# tremolante-repartir each) and 500 hostile connections a minute (idle, garbage, oversized lines,
# wrong signatures, takeover attempts, trickled lines) from many 127.x addresses, while the relay's
# resident memory, threads and descriptors are sampled every 10 s. Ends the relay with SIGTERM and
# checks that it exited cleanly. Removes everything it made.
#
#   bench/rig/soak_relay.sh BIN [SECONDS] [STREAMS] [HOSTILE_PER_MINUTE]
#   BIN: folder with tremolante-relay and tremolante-repartir (build/bin)
set -uo pipefail

BIN=$(cd "${1:?carpeta de binarios}" && pwd)
SEGUNDOS=${2:-600}
FLUJOS=${3:-50}
HOSTILES=${4:-500}
TMP=$(mktemp -d /tmp/tmsoak.XXXXXX)
PIDS=()
RELAY_PID=

TM_RELAY_CLAVE=$(head -c 16 /dev/urandom | od -An -tx1 | tr -d ' \n')
export TM_RELAY_CLAVE

limpiar() {
    for p in "${PIDS[@]:-}"; do [ -n "$p" ] && kill "$p" 2>/dev/null; done
    for p in "${PIDS[@]:-}"; do [ -n "$p" ] && wait "$p" 2>/dev/null; done
    PIDS=()
    if [ -n "$RELAY_PID" ]; then
        kill -TERM "$RELAY_PID" 2>/dev/null
        wait "$RELAY_PID"
        echo "relay: estado de salida tras SIGTERM $?"
        RELAY_PID=
    fi
    rm -rf "$TMP"
}
trap limpiar EXIT

# No output file (50 streams for 10 minutes would fill the disk); an unreachable RTMP destination,
# so every transmission has its publishing thread as in real use, kept trying (--plazo-destino 0).
"$BIN/tremolante-relay" --escuchar 127.0.0.1:0 --destinos-locales --plazo-destino 0 --destino rtmp://127.0.0.1:9/vivo/soak \
    >"$TMP/puerto" 2>"$TMP/relay.log" &
RELAY_PID=$!
for _ in $(seq 50); do grep -q escuchando "$TMP/puerto" && break; sleep 0.1; done
PUERTO=$(sed -n 's/.*://p' "$TMP/puerto")
[ -n "$PUERTO" ] || { echo "el relay no arrancó" >&2; cat "$TMP/relay.log" >&2; exit 1; }

muestra() {
    local s=/proc/$RELAY_PID/status
    printf '%5d s  rss %6d kB  hilos %3d  descriptores %4d\n' "$1" \
        "$(awk '/^VmRSS/{print $2}' $s)" "$(awk '/^Threads/{print $2}' $s)" \
        "$(ls /proc/$RELAY_PID/fd | wc -l)"
}
echo "relay en 127.0.0.1:$PUERTO; $FLUJOS flujos de 2000 kbps, $HOSTILES conexiones hostiles por minuto, $SEGUNDOS s"
muestra 0 | tee "$TMP/muestras"

for i in $(seq "$FLUJOS"); do
    TM_INTERFACES=lo nice "$BIN/tremolante-repartir" --entrada 127.0.0.1:$PUERTO --kbps 2000 \
        --segundos "$SEGUNDOS" >"$TMP/flujo-$i.txt" 2>&1 &
    PIDS+=($!)
    sleep 0.1
done

nice python3 - "$PUERTO" "$HOSTILES" "$SEGUNDOS" >"$TMP/hostiles.txt" 2>&1 <<'PY' &
import random, socket, sys, threading, time
puerto, porMinuto, segundos = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
fin = time.time() + segundos
cuentas = {}
candado = threading.Lock()

def ataque(tipo):
    s = socket.socket()
    s.settimeout(15)
    try:
        s.bind(("127.%d.%d.%d" % (random.randint(1, 200), random.randint(0, 255), random.randint(1, 254)), 0))
        s.connect(("127.0.0.1", puerto))
        reto = s.recv(100)
        if tipo == "ocioso":
            s.recv(100)  # the relay closes it after its wait
        elif tipo == "basura":
            s.sendall(bytes(random.getrandbits(8) for _ in range(3000)))
        elif tipo == "larga":
            s.sendall(b"a" * 5000)
        elif tipo == "firma":
            s.sendall(b"TM1 sid-%d %s\n" % (random.getrandbits(32), b"0" * 64))
        elif tipo == "robo":
            s.sendall(b"TM2 sid-ajeno t %s epoca1\n" % (b"f" * 64))
        elif tipo == "goteo":
            for c in b"TM1 \x1b[31mgoteo":
                s.send(bytes([c]))
                time.sleep(0.5)
        s.recv(100)
        r = "ok"
    except OSError as e:
        r = "rechazo" if isinstance(e, ConnectionError) else "tiempo"
    finally:
        s.close()
    with candado:
        cuentas[(tipo, r)] = cuentas.get((tipo, r), 0) + 1

hilos = []
tipos = ["ocioso", "basura", "larga", "firma", "robo", "goteo"]
siguiente = time.time()
while time.time() < fin:
    t = threading.Thread(target=ataque, args=(random.choice(tipos),))
    t.start()
    hilos.append(t)
    hilos = [h for h in hilos if h.is_alive()]
    siguiente += 60.0 / porMinuto  # on a fixed schedule, whatever starting a thread costs
    time.sleep(max(0.0, siguiente - time.time()))
for h in hilos:
    h.join()
print("conexiones hostiles:", sum(cuentas.values()))
for k in sorted(cuentas):
    print("  %s/%s: %d" % (k[0], k[1], cuentas[k]))
PY
PIDS+=($!)

t0=$(date +%s)
while :; do
    sleep 10
    t=$(( $(date +%s) - t0 ))
    [ -d /proc/$RELAY_PID ] || { echo "¡el relay terminó solo!" >&2; break; }
    muestra "$t" | tee -a "$TMP/muestras"
    [ "$t" -ge $((SEGUNDOS + 40)) ] && break
    alive=0
    for p in "${PIDS[@]}"; do [ -d /proc/$p ] && alive=1; done
    [ $alive = 0 ] && break
done
for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null; done
PIDS=()
sleep 3
muestra "$(( $(date +%s) - t0 ))" | tee -a "$TMP/muestras"

echo "== resumen"
awk '{r=$4; h=$7; if (NR==1){r0=r; rmin=r; rmax=r; hmin=h; hmax=h} if(r<rmin)rmin=r; if(r>rmax)rmax=r; if(h<hmin)hmin=h; if(h>hmax)hmax=h; last=r; lh=h}
     END{printf "rss: al empezar %d kB, mínimo %d kB, máximo %d kB, al final %d kB; hilos: %d a %d, al final %d\n", r0, rmin, rmax, last, hmin, hmax, lh}' "$TMP/muestras"
cat "$TMP/hostiles.txt"
echo "flujos honestos (útil por flujo):"
grep -ho 'útil [0-9]* kbps' "$TMP"/flujo-*.txt | sort | uniq -c
grep -h 'cortado:' "$TMP"/flujo-*.txt | sort | uniq -c
echo "líneas del relay: $(wc -l <"$TMP/relay.log"); fin de flujo: $(grep -c 'fin del flujo' "$TMP/relay.log")"
grep -v 'firma inválida\|línea de saludo\|transmisión nueva\|fin del flujo\|se publica en\|no se pudo publicar' "$TMP/relay.log" | tail -5
