#!/usr/bin/env bash
# Regenerates the example studies from one description of the 4 kW, 400 V, 50 Hz,
# 4-pole machine of the examples and a few overrides per study, through `mas save`.
#   examples/make_examples.sh [path/to/mas]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mas="${1:-$here/../build/release/cli/mas}"
empty="$(mktemp --suffix=.mas)"
trap 'rm -f "$empty"' EXIT
printf '8 etude vide\n' > "$empty"

# The machine (physical and controller copy), the time base and the inverter.
machine=(
  Rs=1.405 Rr=1.395 Ls=0.178039 Lr=0.178039 M=0.1722
  p=2 J=0.0131 a10=0 a20=0 a30=0 Crsgn=0
  mRs=1.405 mRr=1.395 mLs=0.178039 mLr=0.178039 mM=0.1722
  mp=2 mJ=0.0131 ma10=0 ma20=0 ma30=0
  t0=0 td0=0 dt=1e-05 TMLI=0.0001 OutStep=10 OutOpt=0
  E2=326.6 fs=50
  Wmt1=100 Wmt2=100 Wmt3=100 Wmt4=100
  Crt1=100 Crt2=100 Crt3=100 Crt4=100
  Rrt1=100 Rrt2=100 Rrt3=100 Rrt4=100
  Flag=0 Idsref1=5.5
  OutSel.Wm=1 OutSel.Ias=1 OutSel.Vas=1 OutSel.IdsMAS=1 OutSel.IqsMAS=1
  OutSel.CeMAS=1 OutSel.CrMAS=1
)
save() {
  local out="$1"; shift
  local args=()
  for kv in "${machine[@]}" "$@"; do args+=(--set "$kv"); done
  (cd "$(mktemp -d)" && "$mas" save "$empty" "$here/$out" "${args[@]}")
  echo "wrote examples/$out"
}

# Direct start-up on the 400 V, 50 Hz network, rated-load step at 0.5 s.
save default.mas tf=1 Crt1=0.5 da3ref1=20

# Direct start-up with a start-up voltage drop: the supply starts 160 V low and recovers
# along a sigmoid centred on 0.1 s; the load is applied at 0.6 s.
save direct_start_voltage_drop.mas tf=1 Crt1=0.6 da3ref1=15 \
  VoltDrop=1 dVtf=0.4 dVA=80 dVB=0.1 dVC=0.02 VsPh=0

# Static (DC) test: phase a at +20 V, phases b and c at -20 V for 0.5 s, then 0 V.
save static_test.mas tf=0.8 Statique=1 Vcss=20 tfss=0.5
