#!/usr/bin/env bash
# Runs the project's clang-tidy checks (.clang-tidy) on the sources of the libraries and
# of the command line, with the compile commands of the build BUILD; any finding fails.
#   tests/check_tidy.sh ROOT BUILD CLANG_TIDY
set -euo pipefail
root="$1" build="$2" tidy="$3"
cd "$root"
# The plain C++ folders (the viewer's reader and decimation included); the Qt widgets of
# ui/ and viewer/widgets are left to the compiler's warnings.
shopt -s nullglob
sources=(engine/*.cpp files/*.cpp dsvpwm/*.cpp platform/*.cpp tables/*.cpp identification/*.cpp tuning/*.cpp
         cli/*.cpp fit/*.cpp sweep/*.cpp viewer/core/*.cpp)
printf '%s\n' "${sources[@]}" |
  xargs -P "$(nproc)" -n 4 "$tidy" --quiet -p "$build" --extra-arg=-Wno-unknown-warning-option
