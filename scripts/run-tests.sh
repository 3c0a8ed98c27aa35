#!/usr/bin/env bash
# Builds the debug configuration and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --workflow --preset dev
