#!/bin/bash
# The Wine part of `make bench`: restore_bench.exe in a Wine prefix of its own, over a
# scratch folder of big files, both in the bench's build tree. The scratch folder is
# removed and the prefix's server stopped at the end, whatever the outcome.
#   scripts/wine-bench.sh <restore_bench.exe> <bench build dir> [restore_bench options]
set -euo pipefail
usage="usage: wine-bench.sh <restore_bench.exe> <bench build dir> [options]"
exe=$(cd "$(dirname "${1:?$usage}")" && pwd)/$(basename "$1")
dir=$(mkdir -p "${2:?$usage}" && cd "$2" && pwd)
shift 2
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="$dir/wineprefix"
. "$here/wine-env.sh"

work="$dir/restore-work"
rm -rf "$work"
mkdir -p "$work"
trap '"$here/wine-prefix.sh" down; rm -rf "$work"' EXIT
"$here/wine-prefix.sh" up
# Wine sees the host's root as drive Z:.
winwork="Z:${work//\//\\}"

echo "== restore under Wine: $("$WINE" --version), nproc $(nproc)," \
     "$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)"
start=$(date +%s)
"$here/wine-run.sh" "$exe" --stage "$winwork" "$@" </dev/null
# Moved into the quarantine folders here, on the host: see bench/wine/ManyItemsBench.h.
for stage in "$work"/*/stage; do
    find "$stage" -type f -exec mv -t "${stage%/stage}/quar" {} +
done
# The measuring run starts with the items in the cache but nothing left to write back.
sync
echo "== items made in $(( $(date +%s) - start )) s; load before measuring: $(uptime)"
"$here/wine-run.sh" "$exe" "$winwork" "$@" </dev/null
echo "== load after: $(uptime)"
echo "== Wine part took $(( $(date +%s) - start )) s"
