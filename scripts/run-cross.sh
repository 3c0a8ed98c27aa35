#!/usr/bin/env bash
# Builds the portable core for Windows x86_64 (tests under wine64), Windows i686 (built, export
# table checked) and 32-bit Linux (tests run natively), and prints how long each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-cross.sh

stage() {
  local name=$1
  shift
  local start=$SECONDS
  echo "cross: $name"
  "$@"
  echo "cross: $name took $((SECONDS - start)) s"
}

total=$SECONDS
for preset in windows-x64 windows-i686 linux-i686; do
  stage "$preset configure" cmake --preset "$preset" --log-level=WARNING
  stage "$preset build" cmake --build --preset "$preset"
  stage "$preset test" ctest --preset "$preset"
done
echo "cross: all three passed in $((SECONDS - total)) s"
