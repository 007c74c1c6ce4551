#!/usr/bin/env bash
# The summary of a sweep does not depend on what ran it. Runs a sweep of very short runs
# on two threads as the reference, then
#   mpi N        with mpirun -n N ... --mpi
#   kill         killed half-way (SIGKILL of every process of its session), then --resume
#   kill-mpi N   the same under mpirun -n N ... --mpi (resumed over MPI)
# and compares the summaries byte for byte.
#   summaries_agree.sh MAS SOURCE_DIR MODE [N]
set -euo pipefail
mas="$1" source="$2" mode="$3" ranks="${4:-2}"
work=$(mktemp -d /tmp/mas_sweep_XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

mpi=()
if [[ "$mode" != kill ]]; then mpi=(mpirun -n "$ranks" --oversubscribe); fi

if [[ "$mode" == mpi ]]; then
  # 15 runs, one diverging per load, with every kind of metric.
  cat > s.txt <<SWEEP
study = $source/examples/default.mas
set tf=0.02
Rs  = 1.405, -20, 1.3
a10 = 0:0.005:0.02
metric = final(Vitesse(tr/mn))
window = 0.01, 0.02
metric = mean(CeMAS(Nm))
metric = band(Ias(A), 0, 500)
SWEEP
  "$mas" sweep s.txt --threads 2 --summary local.tsv 2> /dev/null
  "${mpi[@]}" "$mas" sweep s.txt --mpi --summary mpi.tsv 2> mpi.err
  cmp local.tsv mpi.tsv || { cat mpi.err; diff local.tsv mpi.tsv | head; exit 1; }
  # The fingerprint, the header and 15 rows.
  [[ $(wc -l < mpi.tsv) == 17 ]] || { echo "expected 15 rows"; exit 1; }
  exit 0
fi

# 120 runs of 1 s of simulated time (about 20 ms each here).
cat > s.txt <<SWEEP
study = $source/examples/default.mas
set tf=1
a10 = 0:0.0005:0.0595
metric = max(Ias(A))
SWEEP
"$mas" sweep s.txt --threads 2 --summary reference.tsv 2> /dev/null
# Rows: the lines after the fingerprint and the header.
total=$(($(wc -l < reference.tsv) - 2))

extra=()
if [[ "$mode" == kill-mpi ]]; then extra=(--mpi); fi
# Should the whole sweep end before the kill lands (a slow or busy machine), it is tried
# again: a sweep that was not cut tests nothing.
done_rows=-1
for attempt in 1 2 3; do
  rm -f k.tsv k.tsv.journal
  setsid "${mpi[@]}" "$mas" sweep s.txt --threads 2 "${extra[@]}" --summary k.tsv \
    2> /dev/null &
  leader=$!
  # Kill the whole process group as soon as a few rows are in the journal.
  deadline=$((SECONDS + 60))
  while ((SECONDS < deadline)); do
    if [[ -f k.tsv.journal && $(wc -l < k.tsv.journal) -ge 4 ]]; then break; fi
    kill -0 "$leader" 2> /dev/null || break
    sleep 0.005
  done
  # mpirun puts each rank in a process group of its own: the kill goes to the whole
  # session, and the resume waits until no process of the killed sweep is left.
  pkill -KILL -s "$leader" 2> /dev/null || true
  wait "$leader" 2> /dev/null || true
  for _ in $(seq 1 1000); do
    pgrep -s "$leader" > /dev/null || break
    sleep 0.01
  done
  ! pgrep -s "$leader" > /dev/null || { echo "a process of the killed sweep is left"; exit 1; }
  if [[ -f k.tsv ]]; then
    echo "attempt $attempt: the sweep ended before the kill"
    continue
  fi
  [[ -f k.tsv.journal ]] || { echo "no journal after the kill"; exit 1; }
  rows=$(($(wc -l < k.tsv.journal) - 2))
  if ((rows < total)); then
    done_rows=$rows
    break
  fi
  echo "attempt $attempt: every run was done before the kill"
done
((done_rows >= 0)) || { echo "every run done before the kill: nothing tested"; exit 1; }

"${mpi[@]}" "$mas" sweep s.txt --threads 2 "${extra[@]}" --resume --summary k.tsv 2> resume.err
grep -q "déjà faites" resume.err || { cat resume.err; exit 1; }
cmp reference.tsv k.tsv || { diff reference.tsv k.tsv | head; exit 1; }
[[ ! -f k.tsv.journal ]] || { echo "journal left after the end"; exit 1; }
echo "killed after $done_rows of $total runs, resumed to the same summary"
