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

mkdir -p "$build/findings" "$build/work"
status=0
for target in "${targets[@]}"; do
  bin="$build/fuzz/$target"
  corpus="$build/corpus/$target"
  log="$build/$target.log"
  mkdir -p "$corpus"
  seeds="$(seed_folder "$target")"
  echo "== Fuzzing $target (${seconds} s)"
  # The targets write their scratch files under /dev/shm; anything else a run writes
  # goes to the work folder.
  if (cd "$build/work" && "$bin" -seed="$seed" -max_total_time="$seconds" -max_len=8192 -timeout=25 \
        -rss_limit_mb=2560 -print_final_stats=1 -dict="$here/tests/fuzz/numbers.dict" \
        -artifact_prefix="$build/findings/$target-" "$corpus" "$seeds") >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    echo "   ${runs:-?} entrées sans anomalie"
  else
    status=1
    echo "   ANOMALIE trouvée par $target (journal : $log)"
    grep -E 'FINDING|ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -20 || true
  fi
done
exit $status
