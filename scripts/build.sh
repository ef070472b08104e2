#!/usr/bin/env bash
# Builds the 32-bit program (build/win32) and, where this machine runs only 64-bit code,
# the same sources for x86_64 (build/win64) so that the tests can run under wine64; each
# with libjpeg-turbo and libwebp built for it first (build/libjpeg-turbo, build/libwebp).
# Prints the folder whose executables run here.
set -euo pipefail
root=$(dirname "$(dirname "$(readlink -f "$0")")")
BUILD_DIR="${INKVEIL_BUILD_DIR:-$root/build}"
source "$root/scripts/wine-env.sh" 2>/dev/null

build() {
    local arch=$1 folder=$2 turbojpeg webp
    mapfile -t turbojpeg < <(bash "$root/scripts/libjpeg-turbo.sh" "$BUILD_DIR/libjpeg-turbo" "$arch")
    mapfile -t webp < <(bash "$root/scripts/libwebp.sh" "$BUILD_DIR/libwebp" "$arch")
    cmake -S "$root" -B "$folder" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DMINGW_ARCH="$arch" \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/wine-run.sh" \
        -DTURBOJPEG_INCLUDE_DIRS="${turbojpeg[0]};${turbojpeg[1]}" \
        -DTURBOJPEG_LIBRARY="${turbojpeg[1]}/libturbojpeg.a" \
        -DWEBP_INCLUDE_DIRS="${webp[0]}/src" \
        -DWEBP_LIBRARIES="${webp[1]}/libwebpmux.a;${webp[1]}/libwebpdemux.a;${webp[1]}/libwebp.a" >/dev/null
    cmake --build "$folder" --parallel "$(nproc)" >&2
}

build i686 "$BUILD_DIR/win32"
if [ "$WINE_BITS" = 64 ]; then
    build x86_64 "$BUILD_DIR/win64"
fi
echo "$BUILD_DIR/win$WINE_BITS"
