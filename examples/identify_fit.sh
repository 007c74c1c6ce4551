#!/usr/bin/env bash
# Identifies the example machine from the example start-up record by the trajectory fit:
# the eight parameters from a guess far from the machine, two more starts drawn around
# it, the summary on the screen, the same result as JSON in identify_fit_report.json (a
# report name ending in .json; any other name gets the text summary), the fitted study in
# identified.mas, all written in the current folder. Runs in a few seconds.
#   examples/identify_fit.sh [path/to/mas]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mas="${1:-$here/../build/release/cli/mas}"
# The machine's speed and phase current are compared at every row of the record, each
# weighted by its own noise level (the cost weights gA, gt0 and CostFunction only matter
# with --residuals cout).
"$mas" identify fit "$here/identification.mas" --exp "$here/dem1.dat" \
  --init 1.2,0.14,0.115,0.07,0.015,0,0,1.6 --starts 2 --seed 7 \
  --report identify_fit_report.json --save-best identified.mas
