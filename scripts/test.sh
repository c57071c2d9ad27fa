#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the plain build, the same
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, and a bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
cmake --workflow --preset default
cmake --workflow --preset asan
cmake --workflow --preset fuzz
