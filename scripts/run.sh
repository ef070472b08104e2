#!/usr/bin/env bash
# Sets up and builds the program, then runs it under Wine in a folder of its own,
# <build folder>/run, where it keeps "Demo.jpg" and "settings.dat". On a reachable display
# it runs until it is closed. Without one it runs on a private Xvfb display: once the first
# preview is drawn a screenshot of the dialog is taken, the program is closed, and the
# screenshot's path is printed.
set -euo pipefail
source "$(dirname "$(readlink -f "$0")")/prepare.sh"

program="$run_dir/Inkveil.exe"
driver="$run_dir/tests/inkveil_driver.exe"
work="$BUILD_DIR/run"
mkdir -p "$work"
cd "$work"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    "$WINE_LOADER" "$program"
    exit 0
fi

source "$root/scripts/wine-session.sh"
start_wine_session

"$WINE_LOADER" "$program" >/dev/null 2>&1 </dev/null &
program_pid=$!
session_pids+=("$program_pid")
"$WINE_LOADER" "$driver" wait-preview

screenshot="$BUILD_DIR/screenshot.png"
window=$(xdotool search --name "Inkveil V1.1" 2>/dev/null | head -n 1 || true)
if [ -z "$window" ] || ! import -window "$window" "$screenshot" 2>/dev/null; then
    import -window root "$screenshot"
fi

"$WINE_LOADER" "$driver" close
wait "$program_pid"
echo "Inkveil ran in $work; its dialog with the first preview:"
echo "$screenshot"
