#!/bin/bash
# The demo: a fresh Wine prefix with the simulated product installed and running and a
# quarantine of realistic files, one repair run of sanarix.exe, then the debug log it
# wrote and a table of what was restored where.
#   scripts/demo.sh <cross build dir>
set -euo pipefail
build=$(cd "${1:?usage: demo.sh <cross build dir>}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="$build/demo-prefix"
. "$here/wine-env.sh"

sanarix="$build/app/sanarix.exe"
setup="$build/tools/product/product_setup.exe"
[ -f "$sanarix" ] || { echo "demo: $sanarix is missing; build first" >&2; exit 1; }

echo "== fresh prefix $WINEPREFIX"
"$here/wine-prefix.sh" down || true
rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
"$here/wine-prefix.sh" up
trap '"$here/wine-prefix.sh" down' EXIT

drive="$WINEPREFIX/drive_c"
log="$drive/ProgramData/Corvanta/DTrace/sanarix.dbg"
if [ -f "$setup" ]; then
    echo "== installing the simulated product and its quarantine"
    "$WINE" "$setup" install </dev/null
    "$WINE" "$setup" start </dev/null
    echo "== what is installed (the manifest)"
    "$WINE" "$setup" expect </dev/null | sed -e 's/\r$//' | grep -E '^(install|item|location)'
    echo "== product services and processes before the run"
    "$WINE" "$setup" status </dev/null
else
    echo "== (no simulated product built: the run will find nothing installed)"
    mkdir -p "$drive/ProgramData/Corvanta/DTrace"
fi

echo "== running sanarix.exe (it pauses 2 x 10 s after starting the services)"
start=$(date +%s)
"$WINE" "$sanarix" </dev/null; rc=$?
echo "== exit code $rc after $(( $(date +%s) - start )) s"

echo "== debug log: C:\\ProgramData\\Corvanta\\DTrace\\sanarix.dbg"
sed -e '1s/^\xEF\xBB\xBF//' -e 's/\r$//' "$log"

if [ -f "$setup" ]; then
    echo
    echo "== product services and processes after the run"
    "$WINE" "$setup" status </dev/null
    echo
    echo "== restored items"
    "$WINE" "$setup" report </dev/null
fi
