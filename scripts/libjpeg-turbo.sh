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
# Its default install prefix is a Windows path, which its package step cannot take here.
# HAVE_THREAD_LOCAL=OFF: its SIMD dispatch reads a thread-local flag for every block it transforms,
# and MinGW-w64's GCC emulates thread-local storage with a lookup behind a lock, which took about
# 5 % of a conversion's processor time. Without it the flag is a plain static that every thread
# sets to the same value; only TurboJPEG's own error string, which nothing here uses, would need it.
# -minline-all-stringops: it clears every MCU's blocks with memset before decoding them, and
# msvcrt's memset under Wine, called through an import for a few hundred bytes each time, cost a
# full-size decoding about 4 % (tjbench on a 12 MP photo, 32-bit: 194 against 202 MP/s).
# Configured each time, so that a build folder made with other options takes these.
# Its warning that TurboJPEG's error string is then shared goes to the log with the rest.
mkdir -p "$build_dir"
if ! cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS=-minline-all-stringops \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DMINGW_ARCH="$arch" \
    -DCMAKE_INSTALL_PREFIX="$build_dir/unused" \
    -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=ON -DWITH_SIMD=ON -DHAVE_THREAD_LOCAL=OFF >"$build_dir/configure.log" 2>&1; then
    cat "$build_dir/configure.log" >&2
    exit 1
fi
cmake --build "$build_dir" --parallel "$(nproc)" --target turbojpeg-static >&2
echo "$source_dir"
echo "$build_dir"
