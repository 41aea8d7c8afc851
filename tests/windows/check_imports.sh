#!/usr/bin/env bash
# The Windows programs need nothing beyond Windows itself: every DLL they import is one of the
# system's (no libstdc++, libgcc or winpthread DLL of the compiler).
#   check_imports.sh OBJDUMP PROGRAM.exe...
set -euo pipefail
objdump=$1
shift
system=(advapi32 bcrypt comctl32 comdlg32 crypt32 gdi32 kernel32 msvcrt ole32 oleaut32 shell32
    user32 windowscodecs winhttp wininet ws2_32)
system=" ${system[*]/%/.dll} "
failed=0
for program in "$@"; do
    dlls=$("$objdump" -p "$program" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
    echo "$(basename "$program"): $(echo $dlls)"
    for dll in $dlls; do
        if [[ $system != *" $dll "* ]]; then
            echo "    $dll is not a system DLL"
            failed=1
        fi
    done
done
exit $failed
