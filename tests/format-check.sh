#!/bin/sh
# Every C++ source of ours as clang-format would write it.
# usage: format-check.sh SOURCE_DIR
set -eu
cd "$1"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
