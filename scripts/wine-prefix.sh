#!/bin/bash
# Creates (once) and warms, or stops, the private Wine prefix named by WINEPREFIX.
#   wine-prefix.sh up     create the prefix if needed and keep one server alive
#   wine-prefix.sh down   stop that server (this prefix only)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"

up() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -f "$WINEPREFIX/.sanarix-ready" ]; then
        rm -rf "$WINEPREFIX"
        "$WINE" wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
        "$WINESERVER" -w </dev/null >/dev/null 2>&1 9>&- || true
        [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-prefix: wineboot failed for $WINEPREFIX" >&2; exit 1; }
        touch "$WINEPREFIX/.sanarix-ready"
    fi
    # A persistent server: Debian's wineserver otherwise exits a few seconds after the
    # last process and takes running services with it.
    "$WINESERVER" -p </dev/null >/dev/null 2>&1 9>&- || true
    # Start Wine's own services now, with stdio on /dev/null: started later by a test
    # program they would inherit its pipes and keep CTest waiting for them to close.
    "$WINE" wineboot </dev/null >/dev/null 2>&1 9>&- || true
    flock -u 9
}

down() {
    [ -d "$WINEPREFIX" ] || exit 0
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
}

case "${1:-}" in
    up) up ;;
    down) down ;;
    *) echo "usage: $0 up|down" >&2; exit 2 ;;
esac
