#!/usr/bin/env bash
# Drives the real program in a real X window with real input: its own Xvfb, the xcb platform,
# xdotool for keys. Types a friend and a server using only the keyboard, saves with File, Save
# and checks both list files byte for byte; then opens and saves again and checks that nothing
# changed. Each wait is bounded, and a step that gets no answer fails with what was expected.
# usage: real-window.sh VONNERBY_BINARY
set -euo pipefail
app=$(realpath "$1")
work=$(mktemp -d)
app_pid= xvfb_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    [ -s "$work/app.log" ] && sed 's/^/  program: /' "$work/app.log" >&2
    exit 1
}
step() { echo "- $*"; }

# An X server of our own on a free display.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(cat "$work/display")"

export XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS
friends="$XDG_DATA_HOME/vonnerby/vyfriends.txt"
servers="$XDG_DATA_HOME/vonnerby/vyserver.txt"

step "start the program"
"$app" >"$work/app.log" 2>&1 &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Vonnerby$' | head -n 1) \
    || fail "the Vonnerby window did not appear"
xdotool windowfocus --sync "$window" || fail "the window did not take the focus"

keys() { xdotool key --delay 40 "$@"; }
type() { xdotool type --delay 15 -- "$1"; }

# Waits for a message box titled $1, checks that it has the focus, and presses Enter on it.
dismiss() {
    local box
    box=$(timeout 10 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1) \
        || fail "no message box titled \"$1\" appeared"
    xdotool windowfocus --sync "$box" || fail "the \"$1\" box did not take the focus"
    keys Return
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    fail "Enter did not close the \"$1\" box"
}

# File menu by its access key; the first item is highlighted when it opens.
file_menu() {
    # With no window manager, nobody hands the focus back after a message box closes.
    xdotool windowfocus --sync "$window" || fail "the window did not take the focus back"
    keys alt+f
    sleep 0.3
    for _ in $(seq "$1"); do keys Down; done
    keys Return
}

step "type a friend with the keyboard alone"
for field in "Ann Example" ann_aim annyim ann@msn.example ann@example.org "[VB]" \
             www.example.org/ann AnnXbl AnnXbc annfire; do
    type "$field"
    keys Tab
done
type "Halo 2"; keys Return; type "Quake III"; keys Tab
type "Plays on Fridays"; keys Tab
keys space # "Add friend"

step "type a server with \"Yes\" selected"
keys Tab; type "Frag Box"; keys Tab; type "10.0.0.7:27960"; keys Tab; type "s3cret"
keys Tab space # "Yes"
keys Tab; type "EU"; keys Return; type "no bots"
keys Tab space # "Add Server"

# The title carries the desktop's mark while the lists are unsaved.
title_is() {
    local name
    name=$(xdotool getwindowname "$window")
    [ "$name" = "$1" ] || fail "$2: the title reads \"$name\", not \"$1\""
}
title_is "Vonnerby*" "after adding"

step "File, Save"
file_menu 2
dismiss Saved
title_is "Vonnerby" "after saving"

expected_friends=$'\r\n------\r\nName: Ann Example\r\nAim: ann_aim\r\nYIM: annyim\r\nMSN: ann@msn.example\r\nEmail: ann@example.org\r\nClan: [VB]\r\nWebsite: www.example.org/ann\r\nXbl: AnnXbl\r\nXbc: AnnXbc\r\nXfire: annfire\r\nGames Friend has: Halo 2\r\nQuake III\r\nComments: Plays on Fridays\r\n'
expected_servers=$'\r\n------\r\nName: Frag Box\r\nIP: 10.0.0.7:27960\r\nPassword: s3cret\r\nDedicated: Yes\r\nComments: EU\r\nno bots\r\n'
check_files() {
    [ -f "$friends" ] || fail "$1: no friends list file"
    [ -f "$servers" ] || fail "$1: no server list file"
    cmp -s "$friends" <(printf '%s' "$expected_friends") \
        || fail "$1: the friends list file differs: $(od -c "$friends" | head -20)"
    cmp -s "$servers" <(printf '%s' "$expected_servers") \
        || fail "$1: the server list file differs: $(od -c "$servers" | head -20)"
}
check_files "after the first save"

step "File, Open and File, Save again"
file_menu 1
sleep 0.3
file_menu 2
dismiss Saved
check_files "after opening and saving again"

step "File, Exit"
file_menu 3
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "File, Exit did not end the program"
wait "$app_pid" || fail "the program ended with status $?"
app_pid=
echo "both list files hold exactly what was typed, before and after File, Open"
