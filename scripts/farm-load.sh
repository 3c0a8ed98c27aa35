#!/usr/bin/env bash
# The farm server's load test at full size: 16 consoles with 5,000 requests each (or the count
# given), against a real zelfarmd, twice: once undisturbed, once with kill -9 of the server.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build --preset dev --target zelfarmd_tests
ZEL_FARM_LOAD_REQUESTS="${1:-5000}" ./build/dev/bin/zelfarmd_tests \
  --gtest_filter=ZelfarmdTest.LoadSurvivesKillOfTheServer
