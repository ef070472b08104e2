#!/usr/bin/env bash
# Fetches Debian's source package of libjpeg-turbo into <folder> once (scripts/debian-source.sh)
# and builds its static TurboJPEG library for one MinGW-w64 architecture. Prints two lines: the
# folder holding turbojpeg.h and jpeglib.h, and the one holding libturbojpeg.a and jconfig.h.
# usage: libjpeg-turbo.sh FOLDER i686|x86_64
set -euo pipefail
folder=$1 arch=$2
root=$(dirname "$(dirname "$(readlink -f "$0")")")

source_dir=$(bash "$root/scripts/debian-source.sh" "$folder" libjpeg-turbo)
[ -f "$source_dir/turbojpeg.h" ] || { echo "no libjpeg-turbo source in $folder" >&2; exit 1; }

build_dir="$folder/build-$arch"
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    # Its default install prefix is a Windows path, which its package step cannot take here.
    cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DMINGW_ARCH="$arch" \
        -DCMAKE_INSTALL_PREFIX="$build_dir/unused" \
        -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=ON -DWITH_SIMD=ON >/dev/null
fi
cmake --build "$build_dir" --parallel "$(nproc)" --target turbojpeg-static >&2
echo "$source_dir"
echo "$build_dir"
