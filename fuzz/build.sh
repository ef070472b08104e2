#!/usr/bin/env bash
# Builds fuzz/ with one flavour of sanitizers (or none: plain) into build/native/FLAVOUR, over
# libraries built with the same flags (Debian's own for plain), and prints that folder.
# usage: fuzz/build.sh fuzz|tsan|plain
set -euo pipefail
case "${1:-}" in
    fuzz | tsan | plain) [ $# -eq 1 ] ;;
    *) false ;;
esac || { echo "usage: $0 fuzz|tsan|plain" >&2; exit 2; }
root=$(dirname "$(dirname "$(readlink -f "$0")")")
if [ "$1" = plain ]; then
    bash "$root/scripts/setup.sh" clang-16 libjpeg62-turbo-dev libwebp-dev zlib1g-dev >&2
    system=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
    libs=(/usr/include "/usr/include/$(dpkg-architecture -qDEB_HOST_MULTIARCH)" /usr/include "$system/libz.a" - - /usr/include "$system")
    jpeg_library=$system/libjpeg.a
else
    mapfile -t libs < <(bash "$root/scripts/native-libs.sh" "$root/build/native" "$1")
    [ ${#libs[@]} -eq 8 ] || { echo "scripts/native-libs.sh printed ${#libs[@]} lines, not 8" >&2; exit 1; }
    jpeg_library=${libs[1]}/libjpeg.a
fi
out=$root/build/native/$1
cmake -S "$root/fuzz" -B "$out" -DINKVEIL_SANITIZE="$1" \
    -DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_COMPILER=clang++-16 \
    -DJPEG_INCLUDE_DIRS="${libs[0]};${libs[1]}" -DJPEG_LIBRARY="$jpeg_library" \
    -DZLIB_INCLUDE_DIR="${libs[2]}" -DZLIB_LIBRARY="${libs[3]}" -DWEBP_INCLUDE_DIRS="${libs[6]}" \
    -DWEBP_LIBRARIES="${libs[7]}/libwebpmux.a;${libs[7]}/libwebpdemux.a;${libs[7]}/libwebp.a" >&2
cmake --build "$out" --parallel "$(nproc)" >&2
echo "$out"
