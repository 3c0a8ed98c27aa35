#!/usr/bin/env bash
# Builds and runs every test: the unit and component suites under AddressSanitizer and
# UndefinedBehaviorSanitizer (leak checking on), then every fuzz harness for a bounded time, then
# the portable core built for Windows (x86_64 tests under wine, i686 exports) and 32-bit Linux.
# Each stage prints its duration. ZEL_FUZZ_SECONDS sets the seconds per harness (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stage.sh
started=$SECONDS
stage "set-up" scripts/setup.sh
stage "sanitizer build and suite" cmake --workflow --preset asan
stage "fuzz harnesses" scripts/run-fuzz.sh "${ZEL_FUZZ_SECONDS:-60}"
stage "cross builds (Windows x86_64 under wine, Windows i686, 32-bit Linux)" scripts/run-cross.sh
echo "=== every stage passed in $((SECONDS - started)) s"
