#!/usr/bin/env bash
# Builds native x86_64 static libjpeg-turbo and libwebp (from the same Debian source packages as
# the MinGW build) and zlib with clang 16 and one flavour of sanitizers, and fetches libpng's
# sources for their test pictures. Prints eight lines: the folder holding jpeglib.h, the one
# holding jconfig.h and libjpeg.a, zlib's include folder, libz.a, libjpeg-turbo's testimages
# folder, libpng's source folder, the folder holding webp/decode.h and the one holding libwebp's
# libraries.
# usage: native-libs.sh FOLDER fuzz|tsan
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 FOLDER fuzz|tsan" >&2; exit 2; }
flavour=$2
case $flavour in
    fuzz) flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fsanitize=fuzzer-no-link -g -O1" ;;
    tsan) flags="-fsanitize=thread -g -O1" ;;
    *) echo "usage: $0 FOLDER fuzz|tsan" >&2; exit 2 ;;
esac
root=$(dirname "$(dirname "$(readlink -f "$0")")")
mkdir -p "$1"
folder=$(readlink -f "$1")

bash "$root/scripts/setup.sh" clang-16 libclang-rt-16-dev llvm-16 >&2

source_of() { bash "$root/scripts/debian-source.sh" "$@"; }

jpeg_source=$(source_of "$(dirname "$folder")/libjpeg-turbo" libjpeg-turbo)
jpeg_build=$folder/libjpeg-turbo-$flavour
if [ ! -f "$jpeg_build/CMakeCache.txt" ]; then
    # A build type of its own keeps CMake's Release flags (-O3 -DNDEBUG) off.
    cmake -S "$jpeg_source" -B "$jpeg_build" -DCMAKE_BUILD_TYPE=Sanitize \
        -DCMAKE_C_COMPILER=clang-16 -DCMAKE_C_FLAGS="$flags" \
        -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=ON -DWITH_SIMD=ON >&2
fi
cmake --build "$jpeg_build" --parallel "$(nproc)" --target jpeg-static >&2

zlib_source=$(source_of "$folder/zlib-src" zlib)
zlib_out=$folder/zlib-$flavour
if [ ! -f "$zlib_out/lib/libz.a" ]; then
    mkdir -p "$zlib_out/build"
    (cd "$zlib_out/build" && CC=clang-16 CFLAGS="$flags" "$zlib_source/configure" --static --prefix="$zlib_out" >&2 &&
        make -j "$(nproc)" install >&2)
fi

png_source=$(source_of "$folder/libpng-src" libpng1.6)

webp_source=$(source_of "$(dirname "$folder")/libwebp" libwebp)
webp_build=$folder/libwebp-$flavour
if [ ! -f "$webp_build/CMakeCache.txt" ]; then
    cmake -S "$webp_source" -B "$webp_build" -DCMAKE_BUILD_TYPE=Sanitize \
        -DCMAKE_C_COMPILER=clang-16 -DCMAKE_C_FLAGS="$flags" -DBUILD_SHARED_LIBS=OFF \
        -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF \
        -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF \
        -DWEBP_BUILD_EXTRAS=OFF >&2
fi
cmake --build "$webp_build" --parallel "$(nproc)" --target webp webpdemux libwebpmux >&2

echo "$jpeg_source"
echo "$jpeg_build"
echo "$zlib_out/include"
echo "$zlib_out/lib/libz.a"
echo "$jpeg_source/testimages"
echo "$png_source"
echo "$webp_source/src"
echo "$webp_build"
