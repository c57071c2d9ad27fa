#!/usr/bin/env bash
# Installs the Debian packages that building and running (build), testing (test) or the
# README's screenshot (screenshot) need, only those that are missing. Uses sudo when not run as root.
set -euo pipefail

build=(cmake ninja-build g++ git qt6-base-dev qt6-qpa-plugins fonts-dejavu-core)
test=("${build[@]}"
      clang libclang-rt-14-dev   # the fuzz target
      xvfb xauth xdotool         # the test in a real X window
      desktop-file-utils appstream dpkg-dev file lintian   # installed files and the package
      clang-format)

screenshot=("${build[@]}" xvfb xauth xdotool imagemagick)

case "${1:-}" in
build) wanted=("${build[@]}") ;;
test) wanted=("${test[@]}") ;;
screenshot) wanted=("${screenshot[@]}") ;;
*) echo "usage: $0 build|test|screenshot" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
        || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
