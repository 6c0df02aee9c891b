#!/bin/bash
# Writes the release package OUT/sanarix-VERSION.zip: sanarix.exe, logreader.exe (both
# stripped of symbols), the wrapper sanarix-run.cmd, the operations guide and SHA256SUMS
# over the four (for allow-listing); then checks the package as a receiver would: exactly
# these files, every sum right, the wrapper with CR LF, the program's imports and version.
#   make-dist.sh OUT VERSION SANARIX_EXE LOGREADER_EXE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
[ $# -eq 4 ] || { echo "usage: $0 OUT VERSION SANARIX_EXE LOGREADER_EXE" >&2; exit 2; }
out=$1 version=$2 sanarix=$3 logreader=$4
files="sanarix.exe logreader.exe sanarix-run.cmd operations.md"

stage=$(mktemp -d)
check=$(mktemp -d)
trap 'rm -rf "$stage" "$check"' EXIT
cp "$sanarix" "$stage/sanarix.exe"
cp "$logreader" "$stage/logreader.exe"
x86_64-w64-mingw32-strip "$stage/sanarix.exe" "$stage/logreader.exe"
cp "$src/tools/sanarix-run.cmd" "$stage/"
cp "$src/docs/operations.md" "$stage/"
# A checkout that lost the CR LF of the wrapper still ships it right.
sed -i 's/\r*$/\r/' "$stage/sanarix-run.cmd"
(cd "$stage" && sha256sum $files > SHA256SUMS)

mkdir -p "$out"
zip="$(cd "$out" && pwd)/sanarix-$version.zip"
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip SHA256SUMS $files)

# The check, on what the package holds.
fail() { echo "make-dist: $*" >&2; exit 1; }
(cd "$check" && cmake -E tar xf "$zip")
have=$(cd "$check" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
want=$(echo SHA256SUMS $files | tr ' ' '\n' | sort | tr '\n' ' ')
[ "$have" = "$want" ] || fail "the package holds [$have], not [$want]"
listed=$(awk '{print $2}' "$check/SHA256SUMS" | sort | tr '\n' ' ')
[ "$listed" = "$(echo $files | tr ' ' '\n' | sort | tr '\n' ' ')" ] || fail "SHA256SUMS lists [$listed]"
(cd "$check" && sha256sum --check --strict --quiet SHA256SUMS) || fail "a sum does not match"
lines=$(wc -l < "$check/sanarix-run.cmd")
[ "$(grep -c $'\r$' "$check/sanarix-run.cmd")" = "$lines" ] || fail "sanarix-run.cmd without CR LF"
bash "$here/check-imports.sh" "$check/sanarix.exe" >/dev/null || fail "sanarix.exe imports or manifest"
# The version information holds the version as UTF-16 text.
perl -e 'open(my $f, "<:raw", $ARGV[1]) or exit 2; local $/; my $d = <$f>;
         exit(index($d, join("\0", split(//, $ARGV[0])) . "\0") < 0 ? 1 : 0)' \
    "$version.0" "$check/sanarix.exe" || fail "sanarix.exe's version information is not $version.0"
echo "$zip: $(echo $files) and SHA256SUMS; sums verified"
