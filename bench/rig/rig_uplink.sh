#!/bin/bash
# Fault-injection rig of the bonded uplink (run as root). Builds two network namespaces joined by
# veth pairs, one per link, shapes each link with tc tbf, adds delay, jitter and loss with
# tremolante-retardo on NFQUEUE, runs the relay stand-in on one side and tremolante-repartir on
# the other, then compares what the relay wrote with what was sent. Removes everything it made.
#
#   bench/rig/rig_uplink.sh BIN ESCENARIO
#   BIN: folder with tremolante-relay, tremolante-repartir, tremolante-retardo (build/bin)
#   ESCENARIO: sin-forma | dos-enlaces | corte | parpadeo | perdida | apagon | todos
set -uo pipefail

BIN=$(cd "${1:?carpeta de binarios}" && pwd)
ESCENARIO=${2:-todos}
C=tmrig-c          # client side: the uplink
R=tmrig-r          # relay side
RELAY=10.77.9.1    # the relay's address, reachable through every link
TMP=$(mktemp -d /tmp/tmrig.XXXXXX)
PIDS=()
RELAY_PID=
# A fresh key for each run, in the environment of the relay and of the pusher (never an argument).
TM_RELAY_CLAVE=$(head -c 16 /dev/urandom | od -An -tx1 | tr -d ' \n')
export TM_RELAY_CLAVE

[ "$(id -u)" = 0 ] || { echo "hace falta ser root" >&2; exit 2; }

limpiar() {
    if [ -n "$RELAY_PID" ]; then
        kill -TERM "$RELAY_PID" 2>/dev/null
        wait "$RELAY_PID"
        local estado=$?
        [ "$estado" = 0 ] || echo "  el relay no terminó limpio tras SIGTERM (estado $estado)" >&2
        RELAY_PID=
    fi
    for p in "${PIDS[@]:-}"; do [ -n "$p" ] && kill "$p" 2>/dev/null; done
    for p in "${PIDS[@]:-}"; do [ -n "$p" ] && wait "$p" 2>/dev/null; done
    PIDS=()
    ip netns del $C 2>/dev/null
    ip netns del $R 2>/dev/null
}
trap 'limpiar; rm -rf "$TMP"' EXIT

# montar "rate_mbit:delay_ms:jitter_ms:loss_pct" per link ("-" for no shaping or delay).
montar() {
    limpiar
    ip netns add $C && ip netns add $R
    ip -n $C link set lo up
    ip -n $R link set lo up
    ip -n $R addr add $RELAY/32 dev lo
    local i=0
    for forma in "$@"; do
        IFS=: read -r tasa demora variacion perdida <<<"$forma"
        ip link add tmc$i netns $C type veth peer name tmr$i netns $R
        ip -n $C addr add 10.77.$i.1/24 dev tmc$i
        ip -n $R addr add 10.77.$i.2/24 dev tmr$i
        ip -n $C link set tmc$i up
        ip -n $R link set tmr$i up
        ip -n $C route replace $RELAY/32 via 10.77.$i.2 dev tmc$i metric $((100 + i))
        # Counts what arrives on each interface, so a link cannot pass for the wrong reason.
        ip netns exec $R iptables -A INPUT -i tmr$i -p tcp --dport 7935
        if [ "$tasa" != "-" ]; then
            ip netns exec $C tc qdisc add dev tmc$i root tbf rate ${tasa}mbit burst 32kb latency ${LATENCIA:-400ms}
        fi
        if [ "${demora:--}" != "-" ] || [ "${perdida:--}" != "-" ]; then
            # Delayed on arrival at the relay's side: packets held on the sender's side would
            # count against its TCP small-queue budget and throttle it far below the link rate.
            ip netns exec $R iptables -t mangle -A PREROUTING -i tmr$i -j NFQUEUE --queue-num $i --queue-bypass
            ip netns exec $R "$BIN/tremolante-retardo" --cola $i --demora "${demora/-/0}" \
                --variacion "${variacion:-0}" --perdida "${perdida:-0}" &
            PIDS+=($!)
        fi
        i=$((i + 1))
    done
    NLINKS=$i
    ip netns exec $R "$BIN/tremolante-relay" --escuchar $RELAY:7935 --destinos-locales --salida "$TMP/salida.bin" \
        >/dev/null 2>"$TMP/relay.log" &
    RELAY_PID=$!
    sleep 0.3
}

interfaces() { local s=""; for ((i = 0; i < NLINKS; i++)); do s+="${s:+,}tmc$i"; done; echo "$s"; }

bajar() { ip -n $C link set "$1" down; }
subir() {  # the kernel deleted the static route with the link: put it back
    ip -n $C link set "$1" up
    local i=${1#tmc}
    ip -n $C route replace $RELAY/32 via 10.77.$i.2 dev "$1" metric $((100 + i))
}

repartir() {
    ip netns exec $C env TM_INTERFACES="$(interfaces)" "$BIN/tremolante-repartir" \
        --entrada $RELAY:7935 --copia "$TMP/entrada.bin" "$@"
}

informe() {
    echo "  relay: $(grep -o 'fin del flujo.*' "$TMP/relay.log" | tail -1)"
    local linea
    linea=$(grep -o '([0-9]* bytes en [0-9.]* s' "$TMP/relay.log" | tail -1 | tr -d '(')
    if [ -n "$linea" ]; then
        local b s
        b=$(echo "$linea" | awk '{print $1}')
        s=$(echo "$linea" | awk '{print $4}')
        echo "  confirmado en el relay: $(awk -v b="$b" -v s="$s" 'BEGIN{printf "%.0f kbps", b*8/s/1000}')"
    fi
    if cmp -s "$TMP/entrada.bin" "$TMP/salida.bin"; then
        echo "  salida del relay idéntica a la entrada ($(stat -c %s "$TMP/salida.bin") bytes)"
    else
        echo "  SALIDA DISTINTA: entrada $(stat -c %s "$TMP/entrada.bin"), salida $(stat -c %s "$TMP/salida.bin" 2>/dev/null || echo 0) bytes"
    fi
    echo "  bytes recibidos por interfaz en el relay:"
    ip netns exec $R iptables -L INPUT -v -x -n | awk '/tmr/ {print "    " $5 ": " $2 " bytes"}'
}

escenario() {
    echo "== $1"
    case $1 in
    sin-forma)
        montar "-"
        repartir --kbps 400000 --segundos 3 --pieza 16384
        ;;
    dos-enlaces)
        montar "2:40" "3:40"
        repartir --kbps 6000 --segundos 30
        ;;
    corte)
        montar "3:20" "3:20"
        (sleep 10; bajar tmc0) &  # the link that carries most of the stream
        PIDS+=($!)
        repartir --kbps 1500 --segundos 30
        ;;
    parpadeo)
        montar "3:20" "3:20"
        (sleep 2; for _ in 1 2 3 4 5 6 7; do bajar tmc0; sleep 3; subir tmc0; sleep 5; done) &
        PIDS+=($!)
        repartir --kbps 1500 --segundos 60
        ;;
    perdida)
        montar "3" "3:80:20:2"
        repartir --kbps 3000 --segundos 30
        ;;
    apagon)
        montar "3:20" "3:20"
        (sleep 10; bajar tmc0; bajar tmc1; sleep 5; subir tmc0; subir tmc1) &
        PIDS+=($!)
        repartir --kbps 1500 --segundos 30
        ;;
    *)
        echo "escenario desconocido: $1" >&2
        return 2
        ;;
    esac
    informe
}

if [ "$ESCENARIO" = todos ]; then
    for e in sin-forma dos-enlaces corte parpadeo perdida apagon; do escenario $e; done
else
    escenario "$ESCENARIO"
fi
