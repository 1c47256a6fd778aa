#!/bin/bash
# The application's own CPU while on air (the encoder's excluded) and the encoder's speed, with the
# synthetic camera at 1080p60 and a composed screen, recording a test file.
#   bench/rig/cpu_al_aire.sh build/bin [preset…]      (default presets: 6 12)
# PANTALLA=caja puts on air a screen with the title over the camera in a box, composed anew for
# every frame; the default opening screen shows no camera, so its picture is composed once.
set -euo pipefail
bin=$(cd "$1" && pwd)
shift
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(6 12)
tic=$(getconf CLK_TCK)

for preset in "${presets[@]}"; do
    dir=$(mktemp -d)
    trap 'rm -rf "$dir"' EXIT
    mkdir -p "$dir/casa/.local/share/Tremolante" "$dir/datos" "$dir/tmp"
    echo "{\"servidor\": \"rtmp://127.0.0.1:1/x\", \"kbps\": 1600, \"preset\": $preset}" \
        > "$dir/casa/.local/share/Tremolante/config.json"
    [ "${PANTALLA:-}" = caja ] && echo '[{"id": "caja", "nombre": "Caja", "camara": 2, "camTam": 0.4, "camPos": 8,
        "titulo": "Ya casi empezamos", "subtitulo": "En un momento arrancamos"}]' > "$dir/datos/pantallas.json"
    ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=1920x1080 -frames:v 1 "$dir/tmp/camara.png"
    log="$dir/casa/.local/state/Tremolante/app.log"
    env -i PATH=/usr/bin:/bin HOME="$dir/casa" TM_DATOS="$dir/datos" TMPDIR="$dir/tmp" QT_QPA_PLATFORM=offscreen \
        TM_CAMARA_FALSA="$dir/tmp/camara.png" TM_RUIDO=60 TM_PANTALLA="${PANTALLA:-inicio}" TM_ARCHIVO=1 TM_AUTO=32 TM_DEPURAR=1 \
        "$bin/tremolante" 2>/dev/null &
    pid=$!
    for _ in $(seq 100); do grep -q "transmisión: " "$log" 2>/dev/null && break; sleep 0.2; done
    sleep 5
    leer() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
    c1=$(leer); t1=$(date +%s.%N)
    sleep 20
    c2=$(leer); t2=$(date +%s.%N)
    wait "$pid" || true
    cpu=$(awk -v a="$c1" -v b="$c2" -v s="$t1" -v e="$t2" -v t="$tic" 'BEGIN { print (b - a) / t / (e - s) * 100 }')
    ritmo=$(grep -o "ritmo [0-9.]*" "$log" | tail -1 | cut -d' ' -f2)
    saltados=$(grep -o "saltados [0-9]*" "$log" | tail -1 | cut -d' ' -f2)
    printf "pantalla %s, preset %s: aplicación %.1f %% de un núcleo (sin el compresor); compresor a %s× el tiempo real; %s cuadros saltados\n" \
        "${PANTALLA:-inicio}" "$preset" "$cpu" "${ritmo:-?}" "${saltados:-?}"
    rm -rf "$dir"
    trap - EXIT
done
