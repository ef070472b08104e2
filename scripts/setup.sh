#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, only what is missing.
set -euo pipefail

# The x86_64 compiler and wine64 serve machines that cannot run wine32; nasm and dpkg-dev
# fetch and build libjpeg-turbo from Debian's source package.
packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev cmake make nasm dpkg-dev
          wine wine64 xvfb x11-utils xdotool
          fonts-arphic-ukai fonts-arphic-uming googletest imagemagick locales time)
# Callers may name more: the benchmark's own tools.
packages+=("$@")

sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    sudo_if_needed dpkg --add-architecture i386
    need_update=1
fi

# Debian's source packages come from the machine's own archives: each deb entry again as deb-src.
if [ -z "$(apt-cache showsrc libjpeg-turbo 2>/dev/null)" ]; then
    ours=/etc/apt/sources.list.d/inkveil-deb-src.sources
    for list in /etc/apt/sources.list.d/*.sources; do
        [ -f "$list" ] && [ "$list" != "$ours" ] && sed 's/^Types:.*/Types: deb-src/' "$list"
    done | sudo_if_needed tee "$ours.new" >/dev/null
    sudo_if_needed mv "$ours.new" "$ours"
    if [ -f /etc/apt/sources.list ]; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | sudo_if_needed tee /etc/apt/sources.list.d/inkveil-deb-src.list >/dev/null
    fi
    need_update=1
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

# wine32 is wanted only where the kernel runs 32-bit code, and may still be out of reach: its
# i386 libraries must match their amd64 twins, which a mirror mid-sync may not list. Without it
# the tests take the x86_64 way (wine-env.sh). A failed attempt is tried again a day later.
wine32_wanted=
wine32_failed=/var/tmp/inkveil-wine32-not-installable
if /lib/ld-linux.so.2 --version >/dev/null 2>&1 &&
    ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" &&
    [ -z "$(find "$wine32_failed" -mmin -1440 2>/dev/null)" ]; then
    wine32_wanted=1
fi

install() {
    sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
}

# One index failing to download (a mirror mid-sync) is no reason to stop while the packages
# still install from the others.
if [ ${#missing[@]} -gt 0 ] || [ -n "$wine32_wanted" ] || [ -n "${need_update:-}" ]; then
    sudo_if_needed apt-get update -q || echo "warning: apt-get update failed for some index; going on with what it fetched" >&2
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    install "${missing[@]}"
fi
if [ -n "$wine32_wanted" ] && ! install wine32:i386; then
    echo "warning: wine32 cannot be installed here; the tests will run the x86_64 build under wine64" >&2
    sudo_if_needed touch "$wine32_failed"
fi
