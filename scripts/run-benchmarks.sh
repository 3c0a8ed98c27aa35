#!/usr/bin/env bash
# Builds the release configuration with its benchmarks, runs every benchmark program it built
# (build/PRESET/bin/zel_*_bench: library, subsystem, transport, farm server, directory on SQLite
# and on a private slapd, replication between two slapd, zeladmin's start to first answer, the
# web console's first page, and any added later) with repetitions, and writes docs/PERFORMANCE.md
# (the notes below its table are kept).
#   scripts/run-benchmarks.sh [--quick] [--preset NAME] [--out FILE] [REPETITIONS]
#     REPETITIONS   default 5; the LDAP benchmark takes 3 at most
#     --quick       one repetition of each, a short minimum time per benchmark: proves that every
#                   program runs and that the table is whole, in minutes; its figures are not
#                   fit for the documents, so it writes build/PRESET/PERFORMANCE.quick.md
#                   (with the document's notes) unless --out names a file
#     --preset      the CMake preset to build and run (default release)
#     --out         the file to write instead of docs/PERFORMANCE.md
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0 preset=release out_file="" repetitions=5
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --preset) preset="$2"; shift ;;
    --out) out_file="$2"; shift ;;
    -*) echo "usage: $0 [--quick] [--preset NAME] [--out FILE] [REPETITIONS]" >&2; exit 2 ;;
    *) repetitions="$1" ;;
  esac
  shift
done
extra=()
if [ $quick -eq 1 ]; then
  repetitions=1
  extra=(--benchmark_min_time=0.05)
  [ -n "$out_file" ] || out_file="build/$preset/PERFORMANCE.quick.md"
fi
[ -n "$out_file" ] || out_file=docs/PERFORMANCE.md
scripts/setup.sh
cmake --preset "$preset" -DZEL_BUILD_BENCH=ON >/dev/null
cmake --build --preset "$preset" --target zel_benchmarks
results="$(mktemp -d)"
trap 'rm -rf "$results"' EXIT
failed=()
for program in "build/$preset"/bin/zel_*_bench; do
  bench="$(basename "$program")"
  reps="$repetitions"
  # Each of its repetitions writes 30,000 entries to slapd: three say enough.
  if [ "$bench" = zel_ldap_bench ] && [ "$reps" -gt 3 ]; then reps=3; fi
  echo "benchmarks: $bench ($reps repetitions)"
  started=$SECONDS
  if ! "$program" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
      "${extra[@]}" --benchmark_format=json --benchmark_out="$results/$bench.json" >/dev/null; then
    failed+=("$bench")
  fi
  echo "benchmarks: $bench took $((SECONDS - started)) s"
done
# A program that failed leaves its figures out, and the report they would have gone to alone:
# the table of a failed run goes beside the build instead.
if [ ${#failed[@]} -gt 0 ] && [ "$out_file" = docs/PERFORMANCE.md ]; then
  out_file="build/$preset/PERFORMANCE.failed.md"
  rm -f "$out_file"
fi
for bench in "${failed[@]}"; do rm -f "$results/$bench.json"; done
if [ "$out_file" != docs/PERFORMANCE.md ] && [ ! -f "$out_file" ]; then
  mkdir -p "$(dirname "$out_file")"
  cp docs/PERFORMANCE.md "$out_file" 2>/dev/null || printf '<!-- notes -->\n' >"$out_file"
fi
[ -f "$out_file" ] || printf '<!-- notes -->\n' >"$out_file"
label="release build, medians of $repetitions repetitions"
[ $quick -eq 1 ] && label="quick run on the $preset build: one repetition each, figures not fit to quote"
# The report names each figure of its table that no program measured, and then fails.
complete=0
python3 tools/perfreport/perf_report.py --label "$label" "$out_file" "$results"/*.json || complete=1
echo "benchmarks: $out_file written"
if [ ${#failed[@]} -gt 0 ]; then
  echo "benchmarks: failed: ${failed[*]}" >&2
  exit 1
fi
exit $complete
