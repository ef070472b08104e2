#!/usr/bin/env bash
# Sets up and builds the program, then runs it under Wine.
set -euo pipefail
root=$(dirname "$(dirname "$(readlink -f "$0")")")
BUILD_DIR="${INKVEIL_BUILD_DIR:-$root/build}"

bash "$root/scripts/setup.sh"
bash "$root/scripts/wineprefix.sh" "$BUILD_DIR"
run_dir=$(bash "$root/scripts/build.sh")

if [ ! -f "$run_dir/Inkveil.exe" ]; then
    echo "Built the settings, rendering and saving of pictures (tests: scripts/test.sh)."
    echo "Inkveil.exe itself does not exist yet: the dialog that makes it a program comes next."
    exit 0
fi
