# Sourced: points Wine at the project's own prefix and the Chinese (code page 936) locale.
# Expects BUILD_DIR (the top build folder). Sets WINE_BITS to 32 where this machine's
# kernel runs 32-bit Linux code (wine32 with the 32-bit build), else to 64 (wine64 with
# the same sources built for x86_64), and WINE_LOADER to the matching loader.
# INKVEIL_WINE_BITS=64 takes the 64-bit way on any machine, to check that both builds agree.
if [ "${INKVEIL_WINE_BITS:-}" != 64 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    WINE_BITS=32
    WINE_LOADER=/usr/lib/wine/wine
    export WINEARCH=win32
else
    WINE_BITS=64
    WINE_LOADER=/usr/lib/wine/wine64
    export WINEARCH=win64
fi
export WINEPREFIX="$BUILD_DIR/wineprefix-$WINEARCH"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LOCPATH="$BUILD_DIR/locale"
export LC_ALL=zh_CN.UTF-8
