#!/usr/bin/env bash
# The optimisers give over MPI ranks what they give alone. Runs a short optimisation alone
# (one thread) in local/ and under mpirun -n N ... --mpi in mpi/, then compares stdout
# (but the line that names the seed, the threads and the ranks), the exit status and
# every file the two runs wrote (logs, saved study, report, output table), byte for byte.
#   optimisers_agree.sh MAS SOURCE_DIR MODE [N]
#   MODE  ga | pso | fit | tune    the optimiser
#         refusals                 bad requests and studies end every rank with the status
#                                  of the command alone, without hanging
#         stop                     Ctrl-C to mpirun ends every rank with 130, the best set
#                                  printed once
set -uo pipefail
mas="$1" source="$2" mode="$3" ranks="${4:-2}"
work=$(mktemp -d /tmp/mas_optimisers_XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
mpi=(timeout -s KILL 120 mpirun -n "$ranks" --oversubscribe)
study="$source/examples/identification.mas"
record=(--exp "$source/examples/dem1.dat" --set tf=0.1 --set gA=200 --set gt0=0.03)
guess=1.2,0.14,0.115,0.07,0.015,0,0,1.6
fail() { echo "$*"; exit 1; }

# agree ARGS...: the command alone and over MPI, in two fresh folders.
agree() {
  rm -rf local mpi && mkdir local mpi
  (cd local && "$mas" "$@" --threads 1 > out.txt 2> err.txt)
  local alone=$?
  (cd mpi && "${mpi[@]}" "$mas" "$@" --threads 1 --mpi > out.txt 2> err.txt)
  local shared=$?
  [[ $alone == "$shared" ]] || { cat mpi/err.txt; fail "status $shared over MPI, $alone alone"; }
  if grep -q '^Graine' local/out.txt; then
    grep -q "^Graine.* $ranks rangs\? MPI" mpi/out.txt || { cat mpi/out.txt; fail "no MPI line"; }
  fi
  # The fit's summary says how long it took and on how many threads.
  diff <(grep -v '^Graine\| s sur ' local/out.txt) <(grep -v '^Graine\| s sur ' mpi/out.txt) ||
    fail "stdout differs"
  # Every message once: rank 0 alone speaks (mpirun adds its own lines).
  # (Usage errors are found by the parser of every rank, before MPI starts.)
  while [[ $alone != 2 ]] && IFS= read -r line; do
    [[ $(grep -cxF -- "$line" local/err.txt) == $(grep -cxF -- "$line" mpi/err.txt) ]] ||
      { cat mpi/err.txt; fail "message not shown as alone: $line"; }
  done < <(grep -v 'itération [0-9]' local/err.txt)
  [[ "$(cd local && ls)" == "$(cd mpi && ls)" ]] || fail "files differ: $(ls local) / $(ls mpi)"
  for f in local/*; do
    name=$(basename "$f")
    [[ $name == out.txt || $name == err.txt ]] && continue
    # The fit's report says how long it took.
    cmp <(grep -v ' s sur ' "$f") <(grep -v ' s sur ' "mpi/$name") || fail "$name differs"
  done
  echo "$* : status $alone, $(ls local | wc -l) files agree"
}

case "$mode" in
  ga)
    agree identify ga "$study" "${record[@]}" --generations 2 --seed 7 --logs . \
      --save-best best.mas --simulate-best --set OutFileName=best.dat || exit 1
    [[ -s local/Histor.cpp && -s local/debgen.cpp && -s local/best.mas && -s local/best.dat ]] ||
      fail "a log, the saved study or the table is missing"
    [[ $(grep -c '^génération' mpi/out.txt) == 2 ]] || fail "expected two generation lines once"
    ;;
  pso)
    agree identify pso "$study" "${record[@]}" --epochs 2 --n1 3 --n2 4 --seed 11 --logs . \
      --init "$guess" --save-best best.mas || exit 1
    [[ -s local/outbest.dat && -s local/outTracix.dat ]] || fail "a swarm log is missing"
    ;;
  fit)
    agree identify fit "$study" "${record[@]}" --set CostFunction=0 --init "$guess" \
      --max-iterations 2 --seed 7 --report report.txt --save-best best.mas || exit 1
    [[ -s local/report.txt ]] || fail "no report"
    # The bootstrap's refits: the same draws and the same refits on any rank count.
    agree identify fit "$study" "${record[@]}" --set CostFunction=0 --init "$guess" \
      --max-iterations 20 --seed 7 --bootstrap 3 --report report.txt || exit 1
    grep -q '^Intervalles bootstrap' local/report.txt || fail "no bootstrap table"
    ;;
  tune)
    agree tune ip "$source/examples/tuning_ip.mas" --set tf=0.3 --generations 2 --seed 3 \
      --logs . --save-best tuned.mas || exit 1
    [[ -s local/debgen.cpp && -s local/tuned.mas ]] || fail "log or tuned study missing"
    ;;
  refusals)
    # Usage, unreadable study, tables impossible (no supply period), Tr = 0 at the start.
    agree identify ga "$study" --init 1,2,3 || exit 1
    agree identify ga absent.mas --generations 1 || exit 1
    agree identify pso "$study" "${record[@]}" --set fs=0 --epochs 1 || exit 1
    agree identify ga "$study" "${record[@]}" --init 1,0.1,0,0.05,0.01,0,0,1 --generations 1 ||
      exit 1
    agree tune fuzzy "$source/examples/tuning_ip.mas" --generations 1 || exit 1
    ;;
  stop)
    # stop_after SIGNAL WHOM: starts a long identification, signals the ranks (ranks) or
    # mpirun (mpirun) after two generations, and waits at most 30 s for the end.
    stop_after() {
      rm -rf run && mkdir run
      setsid mpirun -n "$ranks" --oversubscribe "$mas" identify ga "$study" "${record[@]}" \
        --generations 100000 --seed 7 --threads 1 --mpi > run/out.txt 2> run/err.txt &
      leader=$!
      for _ in $(seq 1 600); do
        grep -q '^génération 2 ' run/out.txt 2> /dev/null && break
        sleep 0.1
      done
      grep -q '^génération 2 ' run/out.txt || { kill -KILL -- "-$leader"; fail "no generation"; }
      rank_pids=$(pgrep -P "$leader")
      if [[ $2 == ranks ]]; then kill "-$1" $rank_pids; else kill "-$1" "$leader"; fi
      for _ in $(seq 1 300); do
        kill -0 "$leader" 2> /dev/null || break
        sleep 0.1
      done
      if kill -0 "$leader" 2> /dev/null; then
        kill -KILL -- "-$leader"
        fail "still running 30 s after SIG$1 to the $2"
      fi
      wait "$leader"
    }
    # A stop signal to every rank (a batch scheduler's, kill): each rank ends its
    # generation, rank 0 prints the best set, and all end with 130 as alone.
    stop_after TERM ranks
    status=$?
    [[ $status == 130 ]] || { cat run/err.txt; fail "status $status after SIGTERM, 130 expected"; }
    [[ $(grep -c '^Meilleur jeu' run/out.txt) == 1 ]] || fail "the best set is not printed once"
    echo "SIGTERM to the ranks after $(grep -c '^génération' run/out.txt) generations: 130"
    # Ctrl-C to mpirun: OpenMPI's mpirun ends the job itself (SIGTERM to the ranks, which
    # stop as above, then its own status); nothing may be left waiting.
    stop_after INT mpirun
    status=$?
    sleep 0.5
    for pid in $rank_pids; do  # (a zombie left to an init that does not reap is gone)
      state=$(ps -o stat= -p "$pid" 2> /dev/null || true)
      [[ -z $state || $state == Z* ]] || fail "rank $pid outlived mpirun ($state)"
    done
    echo "Ctrl-C to mpirun: ended, mpirun's status $status"
    ;;
  *)
    fail "unknown mode $mode"
    ;;
esac
