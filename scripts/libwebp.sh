#!/usr/bin/env bash
# Fetches Debian's source package of libwebp into <folder> once (scripts/debian-source.sh) and
# builds its static libraries (webp, webpdemux, webpmux) for one MinGW-w64 architecture. Prints
# two lines: the folder holding src/webp/*.h and the build folder holding the libraries.
# usage: libwebp.sh FOLDER i686|x86_64
set -euo pipefail
folder=$1 arch=$2
root=$(dirname "$(dirname "$(readlink -f "$0")")")

source_dir=$(bash "$root/scripts/debian-source.sh" "$folder" libwebp)
[ -f "$source_dir/src/webp/decode.h" ] || { echo "no libwebp source in $folder" >&2; exit 1; }

build_dir="$folder/build-$arch"
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DMINGW_ARCH="$arch" \
        -DBUILD_SHARED_LIBS=OFF -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF \
        -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF \
        -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF >/dev/null
fi
cmake --build "$build_dir" --parallel "$(nproc)" --target webp webpdemux libwebpmux >&2
echo "$source_dir"
echo "$build_dir"
