#!/usr/bin/env bash
# Identifies the example machine from the example start-up record as identify_fit.sh
# does, and adds the two optional intervals: a moving-block bootstrap of 100 refits and
# the profile likelihood of the parameters correlated above 0.99 with another. Each gets
# its own table after the parameter table; the result as JSON in
# identify_fit_intervals.json in the current folder. Runs in a few minutes.
#   examples/identify_fit_intervals.sh [path/to/mas]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mas="${1:-$here/../build/release/cli/mas}"
"$mas" identify fit "$here/identification.mas" --exp "$here/dem1.dat" \
  --init 1.2,0.14,0.115,0.07,0.015,0,0,1.6 --seed 7 --bootstrap 100 --profile \
  --report identify_fit_intervals.json
