#!/bin/bash
# Installs what the build and the tests need on a Debian 12 machine, idempotently.
# Run as root. Third-party sources (TinyXML) are fetched through apt's source
# mechanism into the build tree; nothing third-party is kept in the repository.
set -euo pipefail

STAMP=/var/lib/sanarix-setup.v1
PKGS="cmake make g++ mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
      wine64 googletest dpkg-dev xz-utils patch quilt clang-14 libclang-rt-14-dev llvm-14 \
      libbenchmark-dev libssl-dev"

need_install() {
    [ -f "$STAMP" ] || return 0
    for p in $PKGS; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || return 0
    done
    return 1
}

# deb-src entries derived from the machine's own apt sources (deb822 or one-line form).
add_deb_src() {
    local out=/etc/apt/sources.list.d/sanarix-deb-src.sources
    [ -f "$out" ] && return 0
    local tmp; tmp=$(mktemp)
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed -e 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$tmp"
    fi
    if [ -f /etc/apt/sources.list ]; then
        grep -E '^deb ' /etc/apt/sources.list | sed -e 's/^deb /deb-src /' \
            > /etc/apt/sources.list.d/sanarix-deb-src.list || true
    fi
    if [ -s "$tmp" ]; then mv "$tmp" "$out"; else rm -f "$tmp"; touch "$out"; fi
}

if need_install; then
    export DEBIAN_FRONTEND=noninteractive
    add_deb_src
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends $PKGS >/dev/null
    touch "$STAMP"
elif [ ! -f /etc/apt/sources.list.d/sanarix-deb-src.sources ]; then
    add_deb_src
    apt-get update -qq
fi
