#!/usr/bin/env bash
# The program must run from its own file alone: a PE of the expected kind (large address
# aware where it is 32-bit) whose import table names only DLLs that every Windows has.
# usage: check-program-imports.sh OBJDUMP PROGRAM EXPECTED_MAGIC
set -euo pipefail
objdump=$1 program=$2 magic=$3
headers=$("$objdump" -p "$program")
grep -qE "^Magic[[:space:]]+$magic" <<<"$headers" || { echo "not a PE with magic $magic"; exit 1; }
status=0
# A 32-bit program gets 4 GB of address space on 64-bit Windows only when its header says so.
if [ "$magic" = 010b ] && ! grep -q "large address aware" <<<"$headers"; then
    echo "not large address aware"
    status=1
fi
while read -r dll; do
    case "${dll,,}" in
        kernel32.dll|user32.dll|gdi32.dll|gdiplus.dll|comctl32.dll|shell32.dll|ole32.dll|msvcrt.dll|advapi32.dll) ;;
        *) echo "imports $dll, which Windows does not ship"; status=1 ;;
    esac
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
exit $status
