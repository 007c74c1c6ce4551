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

# Closed-loop studies. Current loops: PI every PWM period (1e-4 s), tuned for about
# 1500 rad/s of bandwidth on the transient inductance sigma Ls = 11.5 mH
# (Kp = sigma Ls x 1500 = 17 V/A) with the integral cancelling the stator time constant
# (Ki = Kp Ti / (sigma Ls / R) = 0.4 per sample). Speed loop: PI every 10 current samples
# (1 ms), Kp = J wc / Kt = 0.4 A/(rad/s) for some 80 rad/s with Kt = 1.5 p M^2/Lr Ids =
# 2.75 N m/A, Ki = 0.008 per sample (integral time 50 ms): about 7 % overshoot on a
# 1000 tr/mn step, within 1 % in 0.2 s. Rotor flux 0.95 Wb (Ids = 5.5 A); Iq limited to
# 20 A (55 N m, twice the rated torque).
control=(
  NTregI=1 NTregW=10 IdsPI=1 IqsPI=1 Kpd=17 Kid=0.4 Kpq=17 Kiq=0.4
  VdsrefMax=200 VqsrefMax=326.6 WPI=1 KpW=0.4 KiW=0.008 IqsrefM=20
  OutSel.Ce=1 OutSel.Idsref=1 OutSel.Ids=1 OutSel.Iqsref=1 OutSel.Iqs=1
  OutSel.Vdsref=1 OutSel.Vqsref=1 OutSel.thetas=1 OutSel.Phidr=1
)
# Speed step to 1000 tr/mn at 0.2 s once the machine is fluxed, 20 N m at 0.5 s, reversal
# to -1000 tr/mn at 0.8 s.
scenario=(tf=1.2 Wmt1=0.2 Wmref1=1000 Wmt2=0.8 Wmref2=-1000 Crt1=0.5 da3ref1=20 Crsgn=1)

# Field-oriented control, indirect rotor-flux orientation, PI regulators.
save vector_control_pi.mas "${control[@]}" "${scenario[@]}" VectCtrl=1 Flux_typ=0

# The same with the incremental fuzzy speed regulator: error scaled by 1/50 (rad/s),
# change of error per sample by 1/2, output increments of up to 0.5 A per sample.
save vector_control_fuzzy.mas "${control[@]}" "${scenario[@]}" VectCtrl=1 Flux_typ=0 \
  WPI=0 WFlou=1 WFErr=0.02 WFdErr=0.5 WFdU=0.5 OutSel.Flou=1

# Sensorless: the MRAS estimate replaces the measured speed ("Sans Capteur 7"). The
# reference stays away from standstill under load, where the estimator loses the speed:
# 1000 tr/mn, 20 N m at 0.5 s, then 500 tr/mn at 0.8 s.
save vector_control_sensorless.mas "${control[@]}" "${scenario[@]}" VectCtrl=1 Flux_typ=7 \
  Wmref2=500 OutSelStator.WmEst=1

# Direct torque control: flux reference 1 Wb, samples every 5e-5 s, the speed loop gives
# the torque reference 2.9 Iqsref.
save direct_torque_control.mas "${control[@]}" "${scenario[@]}" DTC=1 TMLI=5e-05 KpW=0.5 \
  OutSel.Phi_alpha_s=1 OutSel.Phi_beta_s=1

# The V/f mode flag and the current-reference events are not stored in study files (the
# dialogs keep them for the session); run these two with the overrides in
# examples/README.md.
# V/f: the speed regulator's output is the stator frequency (10 Iqsref rad/s); a slow PI
# keeps the scalar drive stable: speed step to 1000 tr/mn, 10 N m at 1.5 s.
save vf_control.mas "${control[@]}" KpW=0.05 KiW=0.001 IqsrefM=40 tf=2.5 \
  Wmt1=0 Wmref1=1000 Crt1=1.5 da3ref1=10 OutSel.Ws=1

# Current control: 5.5 A of flux current from the start, 8 A of torque current at 0.4 s
# against a viscous load (the references are given with --set).
save current_control.mas "${control[@]}" Courant=1 Flux_typ=0 tf=1 a20=0.15

# Squirrel cage of 28 bars for the same machine: rotor radius 5 cm, stack 12 cm, air gap
# 0.35 mm (usual for this frame size); 130 turns give 0.174 H of magnetising inductance, of
# which 0.171 H links the discrete bars; leakages Lsl 2.9 mH, Lb 0.82 uH, Le 20 nH;
# aluminium bars of about 25 mm2 (164 uohm over 12 cm) and ring portions of 3.5 uohm. The
# equivalent two-axis machine (Ls = Lr = 0.1767 H, M = 0.1709 H, Rr = 1.396 ohm) is that of
# the dq studies within 1 to 2 %. Broken bar and ring portion: 100 times the healthy value.
cage=(
  SpecialModel=1 Rayon=0.05 Long=0.12 efer=0.00035 Ns=130 Nr=28 Lsl=0.0029
  RbSain=0.000164 RbCasse=0.0164 ReSain=3.5e-06 ReCasse=0.00035 Le=2e-08 Lb=8.2e-07
)

# Healthy cage: direct start-up, 20 N m at 0.5 s.
save cage_start.mas "${cage[@]}" tf=1 Crt1=0.5 da3ref1=20

# Broken bar: rated load (26 N m) from 0.3 s, bar 0 broken at 1 s; the torque and speed
# then ripple at twice the slip frequency (about 4 Hz). Each run starts from healthy bars.
save broken_bar.mas "${cage[@]}" tf=2.5 Crt1=0.3 da3ref1=26 \
  RbCasset1=1 Rbn1=0 RbRef1=0.0164 BarreInit=1 AnneauInit=1

# Speed-regulator tuning studies (mas tune ip|fuzzy): the vector-control scenario above
# (speed step, load step, reversal) with the IP, respectively the fuzzy, speed regulator
# selected, on a coarser step so that a generation of 45 or 55 runs takes a second.
save tuning_ip.mas "${control[@]}" "${scenario[@]}" VectCtrl=1 Flux_typ=0 dt=5e-05 OutStep=4 \
  WPI=0 WIP=1 KpW=0.1 KiW=0.001 TtW=1
save tuning_fuzzy.mas "${control[@]}" "${scenario[@]}" VectCtrl=1 Flux_typ=0 dt=5e-05 OutStep=4 \
  WPI=0 WFlou=1 WFErr=0.005 WFdErr=0.1 WFdU=0.1
