#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, only what is missing.
set -euo pipefail

# The x86_64 compiler and wine64 serve machines whose kernel runs no 32-bit code; nasm and
# dpkg-dev fetch and build libjpeg-turbo from Debian's source package.
packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev cmake make nasm dpkg-dev
          wine wine32:i386 wine64 xvfb x11-utils xdotool
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

if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
    sudo_if_needed apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
