#!/usr/bin/env bash
# Builds the fuzz targets (clang++, libFuzzer, AddressSanitizer and UBSan) and runs each
# one for SECONDS, one after the other. Exits non-zero when a target finds an input that
# crashes, hangs, leaks or breaks one of its checks; the input is kept in
# BUILD/findings/ and can be replayed with `BUILD/fuzz/TARGET FILE`.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   # default: 10 s for every target
#   scripts/fuzz.sh 600 parameter_file_fuzzer
#
# The corpus each target grows is kept in BUILD/corpus/TARGET and used again by the next
# run; the seeds (the example studies, the measured start-up, a few overrides) are read
# every time. BUILD is build/fuzz, or $MAS_FUZZ_BUILD. MAS_FUZZ_SEED fixes libFuzzer's
# random seed (0, the default, draws a new one each time) so that a run can be repeated.
# MAS_FUZZ_BOUNDED=1 ends each target after a fixed number of inputs (about what a minute
# gives on a 2-core machine, the table below) instead of after SECONDS, which then only
# caps a target slowed by the machine: with a fixed seed the run is the same inputs on any
# machine, whatever its load. The targets run side by side, one per core.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-10}"
[ $# -gt 0 ] && shift
build="${MAS_FUZZ_BUILD:-$here/build/fuzz}"
seed="${MAS_FUZZ_SEED:-0}"

echo "== Construction des cibles de fuzzing ($build)"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DMAS_FUZZ=ON -DMAS_BUILD_TESTS=OFF -DMAS_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target mas_fuzzers

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for bin in "$build"/fuzz/*_fuzzer; do targets+=("$(basename "$bin")"); done
fi

# Seeds of a target, copied into one folder.
seed_folder() {
  local target="$1" dir="$build/seeds/$1"
  rm -rf "$dir"
  mkdir -p "$dir"
  case "$target" in
    parameter_file_fuzzer | study_run_fuzzer)
      cp "$here"/examples/*.mas "$here"/tests/files/data/*.mas "$dir"/
      ;;
    set_override_fuzzer)
      cp "$here"/tests/fuzz/seeds/set_override/* "$dir"/
      ;;
    experimental_file_fuzzer)
      # The first rows of the measured start-up (the whole record is larger than the
      # inputs the fuzzer makes), the same with CR LF line ends, and narrow headers.
      head -c 4096 "$here/examples/dem1.dat" | sed '$d' >"$dir/dem1_head.dat"
      sed 's/$/\r/' "$dir/dem1_head.dat" >"$dir/dem1_head_crlf.dat"
      printf 't w i\n0 0 0\n0.1 10 1.5\n0.2 20 -2e1\n' >"$dir/three_columns.dat"
      printf '\001a b c d\n0 1 2 3 4 5 6 7 x' >"$dir/index_byte.dat"
      ;;
    table_reader_fuzzer)
      # An output table's head (header and cells as the recorder writes them, special
      # values), a ragged one, and a table without header.
      printf 'time(s)     Ce(Nm)            Ias(A)            \n0           1.2345679         nan               \n0.0001      -inf              -2.5e-05          \n0.0002      inf               3                 \n' >"$dir/output_head.dat"
      printf '\003t a b\r\n0 1 2\r\n\n1 2\n2 1e999 3\n' >"$dir/ragged.dat"
      printf '0  1.500000\n1  -2.250000\n2  0.000000\n' >"$dir/ib.dat"
      ;;
  esac
  echo "$dir"
}

# Inputs a bounded run gives each target: about a minute of each on a 2-core machine.
bounded_runs() {
  case "$1" in
    experimental_file_fuzzer) echo 600000 ;;
    parameter_file_fuzzer) echo 45000 ;;
    set_override_fuzzer) echo 20000 ;;
    study_run_fuzzer) echo 25000 ;;
    table_reader_fuzzer) echo 16000 ;;
    *) echo -1 ;;
  esac
}

mkdir -p "$build/findings" "$build/work"

# One target: what it found goes to BUILD/TARGET.verdict (0 or 1 in .verdict.status), its
# libFuzzer output to the log.
fuzz_one() {
  local target="$1" bin="$build/fuzz/$1" corpus="$build/corpus/$1" log="$build/$1.log"
  local verdict="$build/$1.verdict" runs=-1 seeds
  mkdir -p "$corpus"
  seeds="$(seed_folder "$target")"
  [ "${MAS_FUZZ_BOUNDED:-0}" = 1 ] && runs="$(bounded_runs "$target")"
  # The targets write their scratch files under /dev/shm (one folder per process); anything
  # else a run writes goes to the target's own work folder.
  mkdir -p "$build/work/$target"
  if (cd "$build/work/$target" && "$bin" -seed="$seed" -runs="$runs" -max_total_time="$seconds" \
        -max_len=8192 -timeout=25 -rss_limit_mb=2560 -print_final_stats=1 \
        -dict="$here/tests/fuzz/numbers.dict" -artifact_prefix="$build/findings/$target-" \
        "$corpus" "$seeds") >"$log" 2>&1; then
    local count
    count="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    echo "   ${count:-?} entrées sans anomalie" >"$verdict"
    echo 0 >"$verdict.status"
  else
    echo 1 >"$verdict.status"
    {
      echo "   ANOMALIE trouvée par $target (journal : $log)"
      grep -E 'FINDING|ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -20 || true
    } >"$verdict"
  fi
}

# The targets are shared round-robin among one lane per core; each lane runs its targets
# one after the other. The verdicts are printed in the targets' order once all are done.
lanes="$(nproc)"
for target in "${targets[@]}"; do rm -f "$build/$target.verdict" "$build/$target.verdict.status"; done
pids=()
for ((lane = 0; lane < lanes; ++lane)); do
  (
    for ((i = lane; i < ${#targets[@]}; i += lanes)); do fuzz_one "${targets[$i]}"; done
  ) &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done

status=0
for target in "${targets[@]}"; do
  if [ "${MAS_FUZZ_BOUNDED:-0}" = 1 ]; then
    echo "== Fuzzing $target ($(bounded_runs "$target") entrées au plus, ${seconds} s au plus)"
  else
    echo "== Fuzzing $target (${seconds} s)"
  fi
  cat "$build/$target.verdict" 2>/dev/null || echo "   pas de verdict pour $target"
  [ "$(cat "$build/$target.verdict.status" 2>/dev/null)" = 0 ] || status=1
done
exit $status
