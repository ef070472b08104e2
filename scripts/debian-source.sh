#!/usr/bin/env bash
# Prints the folder of a Debian source package's sources (Debian's patches applied) in FOLDER,
# fetching them there once; scripts/setup.sh makes the deb-src entries. Newest version first: a
# mirror may lack the security archive's sources while holding the release's.
# usage: debian-source.sh FOLDER PACKAGE
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 FOLDER PACKAGE" >&2; exit 2; }
dir=$1 package=$2
mkdir -p "$dir"
found=$(find "$dir" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n 1)
if [ -z "$found" ]; then
    for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -u -r -V); do
        (cd "$dir" && apt-get source -qq "$package=$version" >&2) && break
    done
    found=$(find "$dir" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n 1)
fi
[ -n "$found" ] || { echo "could not fetch the sources of $package into $dir" >&2; exit 1; }
echo "$found"
