#!/usr/bin/env bash
# The program's command line on a machine with no display: --help and --version answer and exit
# at once, an unknown option fails, and Qt's own options still reach Qt.
# usage: command-line.sh VONNERBY_BINARY VERSION
set -uo pipefail
app=$1 version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    sed 's/^/  stdout: /' "$work/out" >&2
    sed 's/^/  stderr: /' "$work/err" >&2
    exit 1
}
# The xcb platform with nowhere to connect: anything that opens a window fails. Each run is
# stopped after $limit seconds.
limit=10
run() {
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb XDG_STATE_HOME="$work/state" \
        timeout "$limit" "$app" "$@" \
        >"$work/out" 2>"$work/err"
}

run --help
status=$?
[ "$status" -eq 0 ] || fail "--help exited with $status"
grep -q -- '--version' "$work/out" || fail "--help does not list --version"

run --version
status=$?
[ "$status" -eq 0 ] || fail "--version exited with $status"
[ "$(cat "$work/out")" = "vonnerby $version" ] || fail "--version does not print the version"

run --no-such-option
status=$?
[ "$status" -eq 1 ] || fail "an unknown option exited with $status"
grep -q 'no-such-option' "$work/err" || fail "an unknown option is not named on stderr"
[ -s "$work/out" ] && fail "an unknown option printed on stdout"

# What Qt does not take is refused once Qt has taken its own, before any window opens.
run -platform offscreen -reverse -no-such-option
status=$?
[ "$status" -eq 1 ] && grep -q "Unknown option 'no-such-option'" "$work/err" \
    || fail "an unknown option after Qt's exited with $status, or was not named"

# Qt's options go to Qt: the offscreen platform needs no display, so the window opens and runs
# until it is stopped.
limit=3
run -platform offscreen -style fusion -reverse
status=$?
[ "$status" -eq 124 ] || fail "with Qt's options the program exited with $status"
echo "--help, --version, an unknown option and Qt's own options behave"
