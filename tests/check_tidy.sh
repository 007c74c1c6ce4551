#!/usr/bin/env bash
# Runs the project's clang-tidy checks (.clang-tidy) on the sources of the libraries and
# of the command line, with the compile commands of the build BUILD; any finding fails.
#   tests/check_tidy.sh ROOT BUILD CLANG_TIDY
set -euo pipefail
root="$1" build="$2" tidy="$3"
cd "$root"
ls engine/*.cpp files/*.cpp dsvpwm/*.cpp platform/*.cpp identification/*.cpp tuning/*.cpp \
  cli/*.cpp |
  xargs -P "$(nproc)" -n 4 "$tidy" --quiet -p "$build" --extra-arg=-Wno-unknown-warning-option
