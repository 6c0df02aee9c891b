#!/bin/bash
# CTest's emulator for the Windows test programs: runs one program under Wine in the
# build tree's private prefix. The prefix is made on first use; the server is warm.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=$(pwd)/wineprefix}"
export WINEPREFIX
. "$here/wine-env.sh"
[ -f "$WINEPREFIX/.sanarix-ready" ] || "$here/wine-prefix.sh" up || exit 1
exec "$WINE" "$@"
