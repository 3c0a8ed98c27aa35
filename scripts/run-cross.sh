#!/usr/bin/env bash
# Builds the portable core for Windows x86_64 (tests under wine64), Windows i686 (built, export
# table checked) and 32-bit Linux (tests run natively), and prints how long each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stage.sh

stage "cross set-up" scripts/setup-cross.sh

for preset in windows-x64 windows-i686 linux-i686; do
  stage "$preset configure" cmake --preset "$preset" --log-level=WARNING
  stage "$preset build" cmake --build --preset "$preset"
  stage "$preset test" ctest --preset "$preset"
done
echo "=== cross builds: all three passed in $SECONDS s"
