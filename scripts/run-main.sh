#!/usr/bin/env bash
# Builds the release configuration and runs the main job: the example programs (the runtime
# at work, then the library against the AdminTool subsystem and the notification hub in one
# process).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target zel_runtime_demo zel_admin_demo zeltrace
./build/release/bin/zel_runtime_demo
echo
./build/release/bin/zel_admin_demo
