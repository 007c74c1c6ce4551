#!/usr/bin/env bash
# Identifies the example machine from two records fitted together with one parameter set:
# the start-up of dem1.dat (with identification.mas) and a start-up followed by a 10 N m
# load step at 0.5 s, charge1.dat, simulated with its own study identification_charge.mas
# (the STUDY.mas:RECORD form of --exp). The summary gives the residual rms and the noise
# weights of each record; the same result as JSON in identify_fit_pair_report.json and the
# fitted study in identified_pair.mas, both in the current folder. Runs in a few seconds.
#   examples/identify_fit_pair.sh [path/to/mas]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mas="${1:-$here/../build/release/cli/mas}"
"$mas" identify fit "$here/identification.mas" --exp "$here/dem1.dat" \
  --exp "$here/identification_charge.mas:$here/charge1.dat" \
  --init 1.2,0.14,0.115,0.07,0.015,0,0,1.6 --starts 2 --seed 7 \
  --report identify_fit_pair_report.json --save-best identified_pair.mas
