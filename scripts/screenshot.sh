#!/usr/bin/env bash
# Makes docs/screenshot.png from the real program under its own Xvfb: a friend and a server
# added, the Servers tab in front as Add Server leaves it. Needs the build of scripts/run.sh,
# Xvfb, xdotool and ImageMagick's import (installed here when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh screenshot
[ -f build/default/CMakeCache.txt ] || cmake --preset default
cmake --build --preset default --target vonnerby
work=$(mktemp -d)
xvfb_pid= app_pid=
trap '[ -n "$app_pid" ] && kill "$app_pid"; [ -n "$xvfb_pid" ] && kill "$xvfb_pid"; rm -rf "$work"' EXIT

Xvfb -displayfd 3 -screen 0 800x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
# Its lists and the work it keeps aside stay in the scratch folder, never in the user's own.
export DISPLAY=":$(cat "$work/display")" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state" \
    QT_QPA_PLATFORM=xcb
build/default/app/vonnerby &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Vonnerby$' | head -n 1)
xdotool windowfocus --sync "$window"
keys() { xdotool key --delay 40 "$@"; }
type() { xdotool type --delay 10 -- "$1"; }

for field in "Ann Example" ann_aim annyim ann@msn.example ann@example.org "[VB]" \
             www.example.org/ann AnnXbl AnnXbc annfire; do
    type "$field"; keys Tab
done
type "Halo 2"; keys Return; type "Quake III"; keys Tab
type "Plays on Fridays"; keys Tab space
keys Tab; type "Frag Box"; keys Tab; type "10.0.0.7:27960"; keys Tab; type "s3cret"
keys Tab space Tab; type "EU, no bots"; keys Tab space
sleep 0.5
import -window "$window" docs/screenshot.png
echo "wrote docs/screenshot.png"
