#!/usr/bin/env bash
# Installs into a temporary prefix and builds the Debian package, then checks that both hold
# exactly the expected files, that the desktop entry and the metainfo validate, and that the
# package is named and depends as a Debian package should.
# usage: install-check.sh BUILD_DIR APP_ID VERSION
set -euo pipefail
build=$1 id=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

expected="usr/bin/vonnerby
usr/share/applications/$id.desktop
usr/share/doc/vonnerby/copyright
usr/share/icons/hicolor/48x48/apps/$id.png
usr/share/icons/hicolor/scalable/apps/$id.svg
usr/share/metainfo/$id.metainfo.xml"

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
installed=$(cd "$work/root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$installed" = "$expected" ] || fail "installed files differ:
$(diff <(echo "$expected") <(echo "$installed"))"

desktop-file-validate "$work/root/usr/share/applications/$id.desktop" \
    || fail "desktop-file-validate rejects the desktop entry"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/$id.metainfo.xml" \
    || fail "appstreamcli rejects the metainfo"
file "$work/root/usr/share/icons/hicolor/48x48/apps/$id.png" | grep -q '48 x 48' \
    || fail "the hicolor PNG is not 48 x 48"
! readelf -d "$work/root/usr/bin/vonnerby" | grep -qE 'RPATH|RUNPATH' \
    || fail "the installed binary carries a run path"

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
arch=$(dpkg --print-architecture)
deb="$work/package/vonnerby_${version}-1_${arch}.deb"
[ -f "$deb" ] || fail "no Debian-style package file: $(ls "$work/package")"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libc6 qt6-qpa-plugins; do
    grep -q "$needed" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
lintian -C debian/copyright "$deb" >"$work/lintian" 2>&1 && ! grep -q '^[EWIP]:' "$work/lintian" \
    || fail "lintian finds fault with the copyright file: $(cat "$work/lintian")"
packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./||' | LC_ALL=C sort)
[ "$packaged" = "$expected" ] || fail "packaged files differ:
$(diff <(echo "$expected") <(echo "$packaged"))"
echo "install and package hold the expected files; validators pass; Depends: $depends"
