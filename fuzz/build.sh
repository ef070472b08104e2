#!/usr/bin/env bash
# Builds fuzz/ with one flavour of sanitizers into build/native/FLAVOUR, over libraries built with
# the same flags, and prints that folder.
# usage: fuzz/build.sh fuzz|tsan
set -euo pipefail
[ $# -eq 1 ] && { [ "$1" = fuzz ] || [ "$1" = tsan ]; } || { echo "usage: $0 fuzz|tsan" >&2; exit 2; }
root=$(dirname "$(dirname "$(readlink -f "$0")")")
mapfile -t libs < <(bash "$root/scripts/native-libs.sh" "$root/build/native" "$1")
[ ${#libs[@]} -eq 8 ] || { echo "scripts/native-libs.sh printed ${#libs[@]} lines, not 8" >&2; exit 1; }
out=$root/build/native/$1
cmake -S "$root/fuzz" -B "$out" -DINKVEIL_SANITIZE="$1" \
    -DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_COMPILER=clang++-16 \
    -DJPEG_INCLUDE_DIRS="${libs[0]};${libs[1]}" -DJPEG_LIBRARY="${libs[1]}/libjpeg.a" \
    -DZLIB_INCLUDE_DIR="${libs[2]}" -DZLIB_LIBRARY="${libs[3]}" -DWEBP_INCLUDE_DIRS="${libs[6]}" \
    -DWEBP_LIBRARIES="${libs[7]}/libwebpmux.a;${libs[7]}/libwebpdemux.a;${libs[7]}/libwebp.a" >&2
cmake --build "$out" --parallel "$(nproc)" >&2
echo "$out"
