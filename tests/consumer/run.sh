#!/usr/bin/env bash
# Builds and runs the consumer against an installed tree, once found by CMake's find_package and
# once by pkg-config: tests/consumer/run.sh PREFIX [WORK_DIR].
set -euo pipefail
prefix="$(realpath "$1")"
here="$(cd "$(dirname "$0")" && pwd)"
work="${2:-$(mktemp -d)}"
mkdir -p "$work"

# The libraries find each other as in any prefix that is not the loader's: by the loader's path.
libdir="$(dirname "$(find "$prefix" -name 'libZelAdminSal.so*' -print -quit)")"
export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

echo "consumer: find_package(ZelAdminSal 0.2) from $prefix"
cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/consumer"

echo "consumer: pkg-config zeladminsal from $prefix"
pc="$(find "$prefix" -name zeladminsal.pc -printf '%h\n' -quit)"
[ -n "$pc" ] || { echo "consumer: no zeladminsal.pc under $prefix" >&2; exit 1; }
export PKG_CONFIG_PATH="$pc"
# shellcheck disable=SC2046 # the flags are words
c++ -o "$work/consumer-pc" "$here/main.cc" $(pkg-config --cflags --libs zeladminsal)
[ "$(realpath "$(pkg-config --variable=libdir zeladminsal)")" = "$(realpath "$libdir")" ] ||
  { echo "consumer: the pkg-config file names another library folder" >&2; exit 1; }
"$work/consumer-pc"
