#!/usr/bin/env bash
# The soak: zelfarmd on SQLite, 8 consoles doing a mixed load and a fault every 20 seconds (kill -9
# and restart, connections dropped, a full disk), checked after each fault for lost writes.
#   scripts/soak.sh DURATION [BUILD_DIR]
# DURATION in seconds, or with m or h (2m, 30m). With BUILD_DIR (e.g. build/release) the
# programs already built there are used; without it the release configuration is built.
# ZEL_SOAK_ARGS adds options of zelsoak (e.g. "--consoles 4 --fault-every 10").
set -euo pipefail
cd "$(dirname "$0")/.."
duration="${1:?usage: scripts/soak.sh DURATION [BUILD_DIR]}"
case "$duration" in
  *h) seconds=$(( ${duration%h} * 3600 )) ;;
  *m) seconds=$(( ${duration%m} * 60 )) ;;
  *s) seconds="${duration%s}" ;;
  *) seconds="$duration" ;;
esac
build="${2:-}"
if [ -z "$build" ]; then
  scripts/setup.sh
  cmake --preset release >/dev/null
  cmake --build --preset release --target zelfarmd zeladmin zelsoak
  build=build/release
fi
bin="$build/bin"
for program in zelfarmd zeladmin zelsoak; do
  [ -x "$bin/$program" ] || { echo "soak: $bin/$program is not built" >&2; exit 1; }
done
# shellcheck disable=SC2086  # ZEL_SOAK_ARGS is a list of options
exec "$bin/zelsoak" --zelfarmd "$bin/zelfarmd" --zeladmin "$bin/zeladmin" --seconds "$seconds" \
  ${ZEL_SOAK_ARGS:-}
