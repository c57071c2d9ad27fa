#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
[ -f build/default/CMakeCache.txt ] || cmake --preset default
cmake --build --preset default --target vonnerby
exec build/default/app/vonnerby "$@"
