#!/usr/bin/env bash
# One generation of the genetic identification (55 start-ups of the example study, 0.5 s
# simulated each) on 1 MPI rank and on 2 ranks, one thread per rank, measured side by side:
# the time of a generation is the difference between a command of 1 + K generations and
# one of 1 generation, so that the start of mpirun, the reading of the record and the
# building of the tables are left out. Each pair is measured `rounds` times, alternating
# 1 and 2 ranks, and the medians are kept. The two runs' results must agree (same seed).
# Run it on an idle machine: on a shared one the share of the cores each command gets
# decides the figures (the load average is printed with them).
#   identify_mpi_bench.sh MAS SOURCE_DIR [K] [ROUNDS]
set -euo pipefail
mas="$1" source="$2" k="${3:-4}" rounds="${4:-3}"
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMPI_MCA_rmaps_base_oversubscribe=1
work=$(mktemp -d /tmp/mas_identify_bench_XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

seconds() {  # wall time of a command, in seconds
  local start end
  start=$(date +%s.%N)
  "$@" > out.txt 2> /dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
ga() {  # ga RANKS GENERATIONS
  seconds mpirun -n "$1" "$mas" identify ga "$source/examples/identification.mas" \
    --exp "$source/examples/dem1.dat" --set gA=200 --set gt0=0.03 --seed 7 --threads 1 \
    --generations "$2" --logs . --mpi
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

one=() two=()
for _ in $(seq 1 "$rounds"); do
  for ranks in 1 2; do
    short=$(ga "$ranks" 1)
    long=$(ga "$ranks" $((1 + k)))
    cp out.txt "out$ranks.txt"
    per=$(echo "($long - $short) / $k" | bc -l)
    if ((ranks == 1)); then one+=("$per"); else two+=("$per"); fi
  done
done
diff <(grep '^génération' out1.txt) <(grep '^génération' out2.txt) > /dev/null ||
  { echo "1 and 2 ranks disagree"; exit 1; }
t1=$(printf '%s\n' "${one[@]}" | median)
t2=$(printf '%s\n' "${two[@]}" | median)
printf 'one GA generation (55 runs of 0.5 s simulated): 1 rank %.3f s, 2 ranks %.3f s\n' "$t1" "$t2"
printf '  speed-up of 2 ranks over 1 rank: %.2fx  (load average %s)\n' \
  "$(echo "$t1 / $t2" | bc -l)" "$(cut -d' ' -f1-3 /proc/loadavg)"
