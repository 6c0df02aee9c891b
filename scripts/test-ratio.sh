#!/bin/bash
# Prints the size of the tests against the size of the code, in lines of .cpp and .h files
# kept in git, and fails when the tests grow past 0.40 of the code (the aim is 0.35 at most).
#   tests: everything under tests/, and code elsewhere that only tests use (TEST_ONLY below)
#   code:  app diag platform quarantine restore tools bench fuzz, less TEST_ONLY
set -euo pipefail
cd "$(dirname "$0")/.."

# Files outside tests/ that nothing but the tests builds or calls. Keep this list honest: a
# helper moved out of tests/ still counts as test code.
TEST_ONLY=()
LIMIT=0.40

lines() { if [ $# -gt 0 ]; then cat "$@" | wc -l; else echo 0; fi; }
mapfile -t test_files < <(git ls-files -- tests | grep -E '\.(cpp|h)$')
mapfile -t code_files < <(git ls-files -- app diag platform quarantine restore tools bench fuzz |
                          grep -E '\.(cpp|h)$' | grep -v -x -F -f <(printf '%s\n' "${TEST_ONLY[@]}" ""))
extra=0
[ ${#TEST_ONLY[@]} -gt 0 ] && extra=$(lines "${TEST_ONLY[@]}")
tests=$(( $(lines "${test_files[@]}") + extra ))
code=$(lines "${code_files[@]}")
# Judged unrounded: 0.4004 prints as 0.40 but is above the limit.
ratio=$(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.4f", t / c }')
echo "tests $tests lines, code $code lines: ratio $ratio (limit $LIMIT, aim 0.35)"
awk -v t="$tests" -v c="$code" -v l="$LIMIT" 'BEGIN { exit !(t <= l * c) }' || {
    echo "test-ratio: the tests are more than $LIMIT of the code" >&2
    exit 1
}
