# Sourced by the Wine scripts: the environment every Wine process of ours runs with.
# WINEPREFIX must be set by the caller (one private prefix per build tree).
: "${WINEPREFIX:?WINEPREFIX must name the private prefix}"
export WINEPREFIX
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
