#!/bin/sh
# Runs the phone page's browser test; skipped (status 77, with the reason) only when node, Debian's
# chromium or the npm packages of this folder are missing. scripts/instalar installs all three.
cd "$(dirname "$0")"
command -v node >/dev/null 2>&1 || { echo "SALTADA: falta node (scripts/instalar lo instala)"; exit 77; }
navegador="${TM_CHROMIUM:-/usr/bin/chromium}"
[ -x "$navegador" ] || { echo "SALTADA: falta $navegador, el paquete chromium de Debian (scripts/instalar lo instala)"; exit 77; }
[ -d node_modules/playwright-core ] && [ -d node_modules/ws ] || {
    echo "SALTADA: faltan playwright-core y ws; scripts/instalar corre npm ci en tests/navegador"; exit 77; }
TM_CHROMIUM="$navegador" exec node celular.test.mjs
