#!/usr/bin/env bash
# Kills the program with SIGKILL 30 times at random moments while it types, adds records and
# edits its lists, and checks that every next start offers back everything older than 2 seconds:
# the state the next start shows must be one the killed run reached, no older than the last state
# it reached 2 seconds before the kill.
# usage: kill-test.sh BENCH_KILL [KILLS]    (build/default/bench/bench_kill)
set -euo pipefail
driver=$(realpath "$1")
kills=${2:-30}
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; rm -rf "$work"' EXIT
export XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data" QT_QPA_PLATFORM=offscreen \
    LC_ALL=C.UTF-8 QT_LOGGING_RULES='qt.qpa.*=false'
fail() { echo "FAIL: $*" >&2; exit 1; }
RANDOM=13
worst=0
for round in $(seq 0 "$kills"); do
    log="$work/run-$round.log"
    "$driver" "$round" >"$log" 2>"$work/stderr-$round.log" &
    pid=$!
    for _ in $(seq 400); do grep -qs '^S ' "$log" && break; sleep 0.05; done
    grep -q '^S ' "$log" || fail "start $round showed nothing: $(cat "$work/stderr-$round.log")"
    if grep -q '^E ' "$log"; then
        fail "start $round reported: $(grep '^E ' "$log" | head -1 | cut -d' ' -f2 | base64 -d)"
    fi
    if [ "$round" -gt 0 ]; then
        previous="$work/run-$((round - 1)).log"
        killed=$(cat "$work/killed-$((round - 1))")
        grep -q '^Q -$' "$log" && fail "start $round did not offer the work of run $((round - 1))"
        shown=$(awk '$1 == "S" { print $3; exit }' "$log")
        # j: the last state of the killed run that the start shows; k: the last one it had
        # reached 2 s before the kill.
        read -r j k n lost ran < <(awk -v killed="$killed" -v shown="$shown" '
            $1 == "S" { n++; t[n] = $2; d[n] = $3 }
            END {
                k = 1
                for (i = 1; i <= n; i++) if (t[i] <= killed - 2000) k = i
                j = 0
                for (i = n; i >= 1; i--) if (d[i] == shown) { j = i; break }
                lost = j == n ? 0 : killed - t[j + 1]
                print j, k, n, lost, killed - t[1]
            }' "$previous")
        [ "$j" -gt 0 ] || fail "start $round shows a state run $((round - 1)) never reached"
        [ "$j" -ge "$k" ] || fail "start $round lost changes older than 2 s (state $j of $n, needed $k)"
        [ "$lost" -gt "$worst" ] && worst=$lost
        if [ "$lost" -eq 0 ]; then
            what="everything"
        else
            what="all but the changes of its last $lost ms"
        fi
        printf 'kill %2d: after %5.2f s and %3d steps; the next start offered back %s\n' \
            "$round" "$(awk -v ms="$ran" 'BEGIN { print ms / 1000 }')" "$((n - 1))" "$what"
    fi
    [ "$round" -eq "$kills" ] && break
    sleep "$(awk -v r="$RANDOM" 'BEGIN { printf "%.3f", 0.3 + 5.7 * r / 32767 }')"
    date +%s%3N >"$work/killed-$round"
    { kill -9 "$pid" && wait "$pid"; } 2>/dev/null || true
done
{ kill -9 "$pid" && wait "$pid"; } 2>/dev/null || true
pid=
echo "$kills kills with SIGKILL: every next start offered the work back; the most it lacked" \
    "was the last $worst ms before a kill (the promise: 2000 ms)"
