#!/bin/sh
# A bounded fuzzing run: the seeds, then new inputs from a fixed random seed until RUNS inputs
# or SECONDS have gone by, whichever comes first; new inputs are kept out of the tree.
# usage: run-bounded.sh FUZZER SEEDS RUNS SECONDS
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$1" -seed=1 -runs="$3" -max_total_time="$4" -max_len=4096 -print_final_stats=1 "$work" "$2"
