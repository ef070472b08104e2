#!/usr/bin/env bash
# Creates the project-local Wine prefix under the build folder (once): the zh_CN.UTF-8
# locale for glibc, the Chinese font replacements, unmanaged X11 windows, no crash dialog.
set -euo pipefail
BUILD_DIR=$(realpath -m "${1:?usage: wineprefix.sh BUILD_DIR}")
here=$(dirname "$(readlink -f "$0")")
source "$here/wine-env.sh" 2>/dev/null

if [ ! -f "$LOCPATH/zh_CN.UTF-8/LC_CTYPE" ]; then
    mkdir -p "$LOCPATH"
    localedef -i zh_CN -f UTF-8 "$LOCPATH/zh_CN.UTF-8" || [ -f "$LOCPATH/zh_CN.UTF-8/LC_CTYPE" ]
fi

ready="$WINEPREFIX/.inkveil-ready"
[ -f "$ready" ] && exit 0

echo "Creating the Wine prefix $WINEPREFIX"
rm -rf "$WINEPREFIX"
"$WINE_LOADER" wineboot -i >/dev/null 2>&1 || true
wineserver -w

regfile=$(mktemp --suffix=.reg)
trap 'rm -f "$regfile"' EXIT
# regedit reads Chinese key names only from UTF-16LE with a byte order mark.
printf '%s\r\n' \
    'REGEDIT4' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
    '"楷体_GB2312"="AR PL UKai CN"' \
    '"宋体"="AR PL UMing CN"' \
    '"SimSun"="AR PL UMing CN"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' \
    '"Managed"="N"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' \
    '"ShowCrashDialog"=dword:00000000' '' \
    | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } > "$regfile"
"$WINE_LOADER" regedit "Z:${regfile//\//\\}" >/dev/null 2>&1
wineserver -w
grep -q 'AR PL UKai CN' "$WINEPREFIX/user.reg" || { echo "font replacements missing from the prefix" >&2; exit 1; }
touch "$ready"
