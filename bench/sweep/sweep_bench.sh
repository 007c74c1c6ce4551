#!/usr/bin/env bash
# Sweep benchmark, measured side by side in one run:
#  1. 200 runs of about 50 ms (the example start-up, 4 s of simulated time) on 1 MPI rank
#     and on 2 ranks (and on 2 threads): runs per second and the speed-up of 2 ranks;
#  2. the dispatch cost per run: 4000 runs of a single step each (the run itself costs a
#     few microseconds), so the time per run is what the sweep adds around a run: the
#     study copied and changed, the row formatted and journaled, and over MPI the request
#     and the row on the wire.
# Rates are the sweep's own (its last progress line: from the first run handed out to the
# last row), so the start-up of mpirun and of the ranks is left out. Run it on an idle
# machine: on a shared one the share of the cores each command gets decides the figures.
#   sweep_bench.sh MAS SOURCE_DIR
set -euo pipefail
mas="$1" source="$2"
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMPI_MCA_rmaps_base_oversubscribe=1
work=$(mktemp -d /tmp/mas_sweep_bench_XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

rate() {  # runs per second of a sweep command
  "$@" > /dev/null 2> err.txt
  grep -o '[0-9.]* par s' err.txt | tail -1 | cut -d' ' -f1
}

cat > long.txt <<SWEEP
study = $source/examples/default.mas
set tf=4
a10 = 0:0.0001:0.0199
metric = final(Vitesse(tr/mn))
SWEEP
cat > short.txt <<SWEEP
study = $source/examples/default.mas
set tf=0
a10 = 0:0.000001:0.003999
metric = final(Vitesse(tr/mn))
SWEEP

one=$(rate mpirun -n 1 "$mas" sweep long.txt --mpi --summary a.tsv)
two=$(rate mpirun -n 2 "$mas" sweep long.txt --mpi --summary b.tsv)
threads=$(rate "$mas" sweep long.txt --threads 2 --summary c.tsv)
cmp a.tsv b.tsv
cmp a.tsv c.tsv
printf '200 runs of 4 s simulated (%.1f ms each): 1 rank %s runs/s, 2 ranks %s runs/s, 2 threads %s runs/s\n' \
  "$(echo "1000 / $one" | bc -l)" "$one" "$two" "$threads"
printf '  speed-up of 2 ranks over 1 rank: %.2fx\n' "$(echo "$two / $one" | bc -l)"

short_one=$(rate mpirun -n 1 "$mas" sweep short.txt --mpi --summary d.tsv)
short_two=$(rate mpirun -n 2 "$mas" sweep short.txt --mpi --summary e.tsv)
short_thread=$(rate "$mas" sweep short.txt --threads 1 --summary f.tsv)
cmp d.tsv e.tsv
printf '4000 runs of one step: 1 rank %s runs/s, 2 ranks %s runs/s, 1 thread %s runs/s\n' \
  "$short_one" "$short_two" "$short_thread"
printf '  dispatch cost per run: 1 rank %.3f ms, 2 ranks %.3f ms of each rank, 1 thread %.3f ms\n' \
  "$(echo "1000 / $short_one" | bc -l)" "$(echo "2000 / $short_two" | bc -l)" \
  "$(echo "1000 / $short_thread" | bc -l)"
