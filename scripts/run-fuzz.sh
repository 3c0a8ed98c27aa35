#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, sanitizers) and runs each for SECONDS seconds, two at a
# time (ZEL_FUZZ_JOBS at a time when set), from a scratch copy of its seed corpus, and prints per
# harness its executions, executions a second, final coverage and corpus. Any finding fails the
# run. ZEL_FUZZ_KEEP=DIR keeps each corpus, log and finding in DIR/<harness>.
#   scripts/run-fuzz.sh [SECONDS]     (default 60)
#   scripts/run-fuzz.sh --seeds       rewrites the seed corpora in fuzz/corpus
#   scripts/run-fuzz.sh --coverage [DIR]
#                                     runs every harness once over its corpus (DIR/<harness>,
#                                     default fuzz/corpus) and prints which functions it reached
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
command -v clang++ >/dev/null || { echo "run-fuzz: clang++ is needed (apt-get install clang)" >&2; exit 1; }
harnesses=(fuzz_reader fuzz_value_types fuzz_replies fuzz_receiving fuzz_directory fuzz_protocol
  fuzz_trace_file fuzz_control_file fuzz_describe fuzz_subsystem fuzz_transport_frames)
cmake --preset fuzz >/dev/null
# Only what runs here: the harnesses (and the seed writer), not the servers and tools.
if [ "${1:-}" = "--seeds" ]; then
  cmake --build --preset fuzz --target zel_fuzz_seeds
  rm -rf fuzz/corpus && ./build/fuzz/bin/zel_fuzz_seeds fuzz/corpus
  exit 0
fi
cmake --build --preset fuzz --target "${harnesses[@]}"
if [ "${1:-}" = "--coverage" ]; then
  corpora="${2:-fuzz/corpus}"
  for harness in "${harnesses[@]}"; do
    ./build/fuzz/bin/"$harness" "$corpora/$harness" -runs=0 -print_coverage=1 2>&1 |
      grep -E '^(UN)?COVERED_FUNC' | sed "s|^|$harness: |"
  done
  exit 0
fi
seconds="${1:-60}"
if [ -n "${ZEL_FUZZ_KEEP:-}" ]; then
  work="$ZEL_FUZZ_KEEP"
  mkdir -p "$work"
else
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
fi
run() {
  local harness="$1"
  local extra=() timeout=10
  # A directory input costs milliseconds (it builds a store file): let it reach its full length
  # at once instead of growing the length limit over thousands of runs. One that stores a value
  # of 4 MiB costs about 3 s of CPU (every path reads it); on a loaded machine that is more than
  # 10 s of wall time.
  if [ "$harness" = fuzz_directory ]; then extra=(-len_control=0 -max_len=512); timeout=60; fi
  mkdir -p "$work/$harness"
  cp -r "fuzz/corpus/$harness/." "$work/$harness/" 2>/dev/null || true
  # Inputs of past findings (kept apart: --seeds rewrites fuzz/corpus).
  cp -r "fuzz/regressions/$harness/." "$work/$harness/" 2>/dev/null || true
  if ./build/fuzz/bin/"$harness" "$work/$harness" -dict="fuzz/dict/$harness.dict" \
      -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=64 -timeout="$timeout" \
      -artifact_prefix="$work/$harness-" -print_final_stats=1 "${extra[@]}" >"$work/$harness.log" 2>&1; then
    local cov
    stat_of() { grep -E "^stat::$1:" "$work/$harness.log" | awk '{print $2}'; }
    cov="$(grep -E ' cov: ' "$work/$harness.log" | tail -1 |
      sed -E 's/.* cov: ([0-9]+) .* corp: ([0-9]+).*/cov \1, corpus \2/')"
    echo "fuzz: $harness: $(stat_of number_of_executed_units) runs ($(stat_of average_exec_per_sec)/s)," \
      "$cov, peak RSS $(stat_of peak_rss_mb) MB, no finding"
  else
    echo "fuzz: $harness: FINDING" >&2
    grep -E -A30 'ERROR|fuzz check' "$work/$harness.log" | head -60 >&2
    return 1
  fi
}
status=0
running=()
for harness in "${harnesses[@]}"; do
  run "$harness" &
  running+=($!)
  if [ ${#running[@]} -ge "${ZEL_FUZZ_JOBS:-2}" ]; then
    wait "${running[0]}" || status=1
    running=("${running[@]:1}")
  fi
done
for pid in "${running[@]}"; do wait "$pid" || status=1; done
exit $status
