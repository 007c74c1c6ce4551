#!/usr/bin/env bash
# Identifies the example machine from the example start-up record by the trajectory fit:
# the eight parameters from a guess far from the machine, two more starts drawn around
# it, the summary on the screen and in identify_fit_report.txt, the fitted study in
# identified.mas, both written in the current folder. Runs in a few seconds.
#   examples/identify_fit.sh [path/to/mas]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mas="${1:-$here/../build/release/cli/mas}"
# The record is compared from 30 ms on (gA, gt0: the electrical transient of the first
# milliseconds counts little), on the speed and on the phase current itself.
"$mas" identify fit "$here/identification.mas" --exp "$here/dem1.dat" \
  --set gA=200 --set gt0=0.03 --set CostFunction=0 \
  --init 1.2,0.14,0.115,0.07,0.015,0,0,1.6 --starts 2 --seed 7 \
  --report identify_fit_report.txt --save-best identified.mas
