#!/usr/bin/env bash
# Sets up, builds and runs every test: the portable core natively (fuzz corpora, short fuzzing
# runs, thread checks), then everything else under Wine on a private Xvfb display.
# --quick leaves out the short fuzzing runs; arguments after it go to ctest.
# usage: scripts/test.sh [--quick] [ctest arguments]
set -euo pipefail
native_options=()
if [ "${1:-}" = "--quick" ]; then
    native_options=(--quick)
    shift
fi
source "$(dirname "$(readlink -f "$0")")/prepare.sh"

# The portable core natively: fuzz corpora and short runs, and the thread checks.
bash "$root/scripts/native-check.sh" "${native_options[@]}"

source "$root/scripts/wine-session.sh"
start_wine_session

ctest --test-dir "$run_dir" --output-on-failure --timeout 600 "$@"
# Where only the x86_64 build runs, the shipped 32-bit program is still inspected.
if [ "$run_dir" != "$BUILD_DIR/win32" ]; then
    ctest --test-dir "$BUILD_DIR/win32" --output-on-failure -L inspect
fi
