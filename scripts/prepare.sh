# Sourced by the top-level scripts: sets the machine up, makes the Wine prefix and builds.
# Leaves root, BUILD_DIR (INKVEIL_BUILD_DIR, build/ unless named), run_dir (the build whose
# programs run on this machine) and Wine's variables set.
root=$(dirname "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")")
export INKVEIL_BUILD_DIR="${INKVEIL_BUILD_DIR:-$root/build}"
BUILD_DIR="$INKVEIL_BUILD_DIR"

bash "$root/scripts/setup.sh"
bash "$root/scripts/wineprefix.sh" "$BUILD_DIR"
run_dir=$(bash "$root/scripts/build.sh")
source "$root/scripts/wine-env.sh" 2>/dev/null
echo "Tests and the program run $WINE_ROUTE." >&2
