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

source "$root/scripts/wine-session.sh"
start_wine_session

ctest --test-dir "$tests_dir" --output-on-failure --timeout 600 "$@"
