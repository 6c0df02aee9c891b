#!/bin/bash
# Unpacks Debian's patched TinyXML 2.6.2 source package into $1 (a folder of the build tree).
# The source comes through apt's source mechanism (scripts/setup.sh adds the deb-src entries).
set -euo pipefail
dest="$1"
[ -f "$dest/tinyxml.h" ] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fetch() { ( cd "$work" && apt-get source --download-only tinyxml >/dev/null 2>&1 ); }
# The source index may be missing when the deb-src entries were added after the last update.
fetch || { apt-get update -qq >/dev/null 2>&1 || true; fetch; } || {
    echo "fetch-tinyxml: apt-get source tinyxml failed (run scripts/setup.sh as root first)" >&2; exit 1; }
dsc=$(ls "$work"/tinyxml_*.dsc | head -1)
( cd "$work" && dpkg-source --no-check -x "$dsc" src >/dev/null )
mkdir -p "$dest"
cp "$work"/src/tinystr.cpp "$work"/src/tinystr.h "$work"/src/tinyxml.cpp "$work"/src/tinyxml.h \
   "$work"/src/tinyxmlerror.cpp "$work"/src/tinyxmlparser.cpp "$dest"/
