#!/usr/bin/env bash
# Builds and runs every test: the unit and component suites under AddressSanitizer and
# UndefinedBehaviorSanitizer (leak checking on), then every fuzz harness for a bounded time.
# Each stage prints its duration. ZEL_FUZZ_SECONDS sets the seconds per harness (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stage.sh
started=$SECONDS
stage "set-up" scripts/setup.sh
stage "sanitizer build and suite" cmake --workflow --preset asan
stage "fuzz harnesses" scripts/run-fuzz.sh "${ZEL_FUZZ_SECONDS:-60}"
echo "=== every stage passed in $((SECONDS - started)) s"
