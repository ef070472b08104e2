#!/usr/bin/env bash
# The program must carry its manifest (resource type 24, id 1): Common Controls 6 for visual
# styles and Windows 10 among the systems it names, and neither an execution level (which would
# end the file virtualisation that settings.dat relies on in protected folders) nor DPI awareness.
# usage: check-program-manifest.sh OBJDUMP PROGRAM
set -euo pipefail
objdump=$1 program=$2
headers=$("$objdump" -p -h "$program")
# The leaf under type 24 (0x18) and name 1 in the resource directory: its address and size.
read -r address size < <(awk '
    /Entry: ID: 0x000018,/ { type = 1; next }
    type && /Entry: ID: 0x000001,/ { name = 1; next }
    type && name && /Leaf: Addr:/ { gsub(",", ""); print $4, $6; exit }
    /^[0-9a-f]+   Entry:/ { type = 0; name = 0 }' <<<"$headers") || true
[ -n "${address:-}" ] || { echo "no manifest resource (type 24, id 1)"; exit 1; }
image_base=$(awk '$1 == "ImageBase" { print $2 }' <<<"$headers")
# .rsrc's virtual address (with the image base) and its offset in the file.
read -r section_vma section_offset < <(awk '$2 == ".rsrc" && NF == 7 { print $4, $6; exit }' <<<"$headers")
offset=$(( address - (0x$section_vma - 0x$image_base) + 0x$section_offset ))
manifest=$(dd if="$program" bs=1 skip="$offset" count=$((size)) status=none)
status=0
grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' <<<"$manifest" ||
    { echo "the manifest asks for no Common Controls 6"; status=1; }
grep -q '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' <<<"$manifest" || { echo "the manifest names no Windows 10"; status=1; }
for absent in requestedExecutionLevel dpiAware dpiAwareness; do
    if grep -q "$absent" <<<"$manifest"; then echo "the manifest declares $absent"; status=1; fi
done
exit $status
