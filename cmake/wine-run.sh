#!/bin/sh
# Runs a Windows program under wine64 for CTest (CMAKE_CROSSCOMPILING_EMULATOR):
#   wine-run.sh WINE64 PREFIX RUNTIME_DIRS PROGRAM [ARGUMENTS...]
# PREFIX is a wine prefix of the build's own, made at the first run; RUNTIME_DIRS (colon
# separated) hold the compiler's runtime DLLs. The program's exit code is passed on.
set -eu
wine=$1 prefix=$2 runtime_dirs=$3
shift 3

export WINEARCH=win64 WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
server="$(dirname "$wine")/wineserver64"
[ -x "$server" ] || server="$(dirname "$wine")/wineserver"
export WINESERVER="$server"
path=""
old_ifs=$IFS
IFS=:
for dir in $runtime_dirs; do path="${path:+$path;}Z:$(printf '%s' "$dir" | tr / '\\')"; done
IFS=$old_ifs
export WINEPATH="$path"

# The first run makes the prefix; tests started in parallel wait for it. wineboot reports an
# error about the 32-bit rundll32 (no i386 wine here) and still makes a usable prefix.
mkdir -p "$prefix"
(
  flock 9
  if [ ! -f "$prefix/.zel-ready" ]; then
    "$wine" wineboot -i >/dev/null 2>&1 || true
    touch "$prefix/.zel-ready"
  fi
) 9>"$prefix.lock"

# One wine server for the whole run, kept for 10 s after its last program (a test suite starts a
# program per case; starting a server for each is most of the time). It ends by itself.
"$server" -p10 >/dev/null 2>&1 || true

exec "$wine" "$@"
