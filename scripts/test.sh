#!/usr/bin/env bash
# Sets up, builds and runs every test under Wine on a private Xvfb display.
# INKVEIL_BUILD_DIR names another build folder than build/.
set -euo pipefail
root=$(dirname "$(dirname "$(readlink -f "$0")")")
export INKVEIL_BUILD_DIR="${INKVEIL_BUILD_DIR:-$root/build}"
BUILD_DIR="$INKVEIL_BUILD_DIR"

bash "$root/scripts/setup.sh"
bash "$root/scripts/wineprefix.sh" "$BUILD_DIR"
tests_dir=$(bash "$root/scripts/build.sh")
source "$root/scripts/wine-env.sh" 2>/dev/null

started=()
cleanup() {
    wineserver -k 2>/dev/null || true
    [ ${#started[@]} -eq 0 ] || kill "${started[@]}" 2>/dev/null || true
}
trap cleanup EXIT

display=99
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
started+=($!)
export DISPLAY=":$display"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

# One Wine server for the whole run spares every test program its start-up.
wineserver --persistent --foreground &
started+=($!)
# Wine's own services start here, so that none of them holds a test's output open.
"$WINE_LOADER" wineboot >/dev/null 2>&1 </dev/null

ctest --test-dir "$tests_dir" --output-on-failure --timeout 600 "$@"
