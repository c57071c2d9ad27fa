#!/bin/sh
# A bounded, repeatable fuzzing run: fixed seed and run count, new inputs kept out of the tree.
# usage: run-bounded.sh FUZZER SEEDS RUNS
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$1" -seed=1 -runs="$3" -max_len=4096 -print_final_stats=1 "$work" "$2"
