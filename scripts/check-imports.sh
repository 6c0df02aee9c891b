#!/bin/bash
# Fails when the program imports a DLL other than Windows system DLLs (a static build
# must not need the compiler's runtime DLLs on the machines it is shipped to).
set -euo pipefail
exe="$1"
allowed='^(kernel32|advapi32|shell32|user32|msvcrt|ntdll|ole32|shlwapi|gdi32|comctl32|version|ws2_32|bcrypt|crypt32|rpcrt4|secur32|userenv|api-ms-win-.*)\.dll$'
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$dlls" ] || { echo "no imports found in $exe" >&2; exit 1; }
bad=0
for d in $dlls; do
    if ! [[ "$d" =~ $allowed ]]; then echo "unexpected import: $d" >&2; bad=1; fi
done
echo "imports: $(echo $dlls)"
# The manifest must ask for administrator rights.
if ! grep -aq 'requireAdministrator' "$exe"; then echo "manifest without requireAdministrator" >&2; bad=1; fi
# A GUI program: no console window.
sub=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^Subsystem\s*//p')
case "$sub" in 00000002*) ;; *) echo "subsystem is not Windows GUI: $sub" >&2; bad=1 ;; esac
# Exploit mitigations stay on: ASLR (DYNAMIC_BASE 0x40, with the relocations it needs),
# high-entropy ASLR (HIGH_ENTROPY_VA 0x20) and DEP (NX_COMPAT 0x100).
chars=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^DllCharacteristics\s*//p')
flags=$((16#${chars:-0}))
for bit in 0x40:ASLR 0x20:high-entropy-ASLR 0x100:DEP; do
    (( flags & ${bit%%:*} )) || { echo "${bit#*:} is off (DllCharacteristics $chars)" >&2; bad=1; }
done
x86_64-w64-mingw32-objdump -h "$exe" | grep -q ' \.reloc ' ||
    { echo "no relocations: ASLR cannot move the image" >&2; bad=1; }
echo "mitigations: DllCharacteristics $chars"
exit $bad
