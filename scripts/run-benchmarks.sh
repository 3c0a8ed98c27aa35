#!/usr/bin/env bash
# Builds the release configuration, runs every benchmark with repetitions and writes
# docs/PERFORMANCE.md (the notes below its table are kept).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
for bench in zel_runtime_bench zel_sal_bench zel_types_bench zel_directory_bench \
             zel_subsystem_bench zel_transport_bench zel_farm_bench; do
  echo "benchmarks: $bench"
  ./build/release/bin/$bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
      --benchmark_format=json --benchmark_out="$out/$bench.json" >/dev/null
done
[ -f docs/PERFORMANCE.md ] || printf '<!-- notes -->\n' > docs/PERFORMANCE.md
python3 tools/perfreport/perf_report.py docs/PERFORMANCE.md "$out"/*.json
echo "benchmarks: docs/PERFORMANCE.md written"
