#!/usr/bin/env bash
# Runs a Windows program under the project's Wine prefix and locale.
root=$(dirname "$(dirname "$(readlink -f "$0")")")
BUILD_DIR="${INKVEIL_BUILD_DIR:-$root/build}"
source "$root/scripts/wine-env.sh" 2>/dev/null
exec "$WINE_LOADER" "$@"
