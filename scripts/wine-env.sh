# Sourced: points Wine at the project's own prefix and the Chinese (code page 936) locale.
# Expects BUILD_DIR (the top build folder). Sets WINE_BITS to 32 where this machine's
# kernel runs 32-bit Linux code and wine32 is installed (the 32-bit build under wine32), else
# to 64 (wine64 with the same sources built for x86_64), WINE_LOADER to the matching loader
# and WINE_ROUTE to a line that says which way was taken and why.
# INKVEIL_WINE_BITS=64 takes the 64-bit way on any machine, to check that both builds agree.
if [ "${INKVEIL_WINE_BITS:-}" = 64 ]; then
    WINE_ROUTE="the x86_64 build under wine64, as INKVEIL_WINE_BITS=64 asks"
elif ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    WINE_ROUTE="the x86_64 build under wine64: this kernel runs no 32-bit code"
elif [ ! -x /usr/lib/wine/wine ]; then
    WINE_ROUTE="the x86_64 build under wine64: wine32 is not installed"
else
    WINE_ROUTE="the 32-bit build under wine32"
fi
if [ "$WINE_ROUTE" = "the 32-bit build under wine32" ]; then
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
