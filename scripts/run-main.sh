#!/usr/bin/env bash
# Builds the release configuration and runs the main job: the example program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target zel_runtime_demo
./build/release/bin/zel_runtime_demo
