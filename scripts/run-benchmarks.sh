#!/usr/bin/env bash
# Builds the release configuration with its benchmarks, runs every benchmark program it built
# (build/release/bin/zel_*_bench: library, subsystem, transport, directory on SQLite and on a
# private slapd, zeladmin's start to first answer, and any added later) with repetitions, and
# writes docs/PERFORMANCE.md (the notes below its table are kept).
#   scripts/run-benchmarks.sh [REPETITIONS]     (default 5; the LDAP benchmark takes 3 at most)
set -euo pipefail
cd "$(dirname "$0")/.."
repetitions="${1:-5}"
scripts/setup.sh
cmake --preset release -DZEL_BUILD_BENCH=ON >/dev/null
cmake --build --preset release --target zel_benchmarks
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
for program in build/release/bin/zel_*_bench; do
  bench="$(basename "$program")"
  reps="$repetitions"
  # Each of its repetitions writes 30,000 entries to slapd: three say enough.
  if [ "$bench" = zel_ldap_bench ] && [ "$reps" -gt 3 ]; then reps=3; fi
  echo "benchmarks: $bench ($reps repetitions)"
  started=$SECONDS
  "$program" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
      --benchmark_format=json --benchmark_out="$out/$bench.json" >/dev/null
  echo "benchmarks: $bench took $((SECONDS - started)) s"
done
[ -f docs/PERFORMANCE.md ] || printf '<!-- notes -->\n' > docs/PERFORMANCE.md
python3 tools/perfreport/perf_report.py docs/PERFORMANCE.md "$out"/*.json
echo "benchmarks: docs/PERFORMANCE.md written"
