#!/usr/bin/env bash
# The ABI guard of libZelAdminSal: compares the library a build made with the baseline kept in
# abi/libZelAdminSal.abi (libabigail's abidw form, public types only).
#
#   scripts/check-abi.sh BUILD_DIR            fails on any change but added functions and
#                                             variables, or when the build's SONAME is not
#                                             the baseline's
#   scripts/check-abi.sh --update BUILD_DIR   writes the baseline from the build
#
# Added functions and variables pass with their report. A deliberate incompatible
# change raises the version (the minor one while it is 0.x, which changes the SONAME) and runs
# --update on a release build, in the same commit.
set -euo pipefail
cd "$(dirname "$0")/.."
update=0
if [ "${1:-}" = "--update" ]; then update=1; shift; fi
[ $# -eq 1 ] || { echo "usage: $0 [--update] BUILD_DIR" >&2; exit 2; }
build="$1"
baseline=abi/libZelAdminSal.abi
for tool in abidw abidiff; do
  command -v "$tool" >/dev/null || { echo "check-abi: $tool missing (Debian: abigail-tools)" >&2; exit 2; }
done
library="$(readlink -f "$build/lib/libZelAdminSal.so" 2>/dev/null || true)"
[ -f "$library" ] || { echo "check-abi: no $build/lib/libZelAdminSal.so (build ZelAdminSal)" >&2; exit 2; }

# The public headers of the library and of the components whose types it hands across.
headers=()
for folder in sdk/runtime sdk/protocol sdk/usersal sdk/directory sdk/tracedev \
              sdk/sals/core/admintool; do
  headers+=(--headers-dir "$folder/include")
done
dump() {
  abidw --drop-private-types "${headers[@]}" --no-show-locs --no-comp-dir-path --no-corpus-path \
    --type-id-style hash --out-file "$1" "$library"
}

if [ $update -eq 1 ]; then
  mkdir -p abi
  dump "$baseline"
  echo "check-abi: $baseline written from $library"
  exit 0
fi
[ -f "$baseline" ] || { echo "check-abi: no baseline $baseline (--update makes one)" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
dump "$work/built.abi"

soname() { sed -n "s/.*<abi-corpus [^>]*soname='\([^']*\)'.*/\1/p" "$1" | head -n 1; }
was="$(soname "$baseline")"
now="$(soname "$work/built.abi")"
if [ "$was" != "$now" ]; then
  echo "check-abi: the baseline is for $was, the build is $now: a new version needs a new" >&2
  echo "check-abi: baseline in the same commit (scripts/check-abi.sh --update BUILD_DIR)" >&2
  exit 1
fi

# Anything but added functions and variables (a removed symbol, a changed type layout, a changed
# signature) fails: abidiff marks only removals as incompatible, a layout change merely as a
# change, so a change of any kind that remains once additions are left out counts.
status=0
abidiff --no-added-syms "$baseline" "$work/built.abi" >"$work/report" || status=$?
if [ $((status & 3)) -ne 0 ]; then
  cat "$work/report" >&2
  echo "check-abi: abidiff failed (status $status)" >&2
  exit 2
fi
if [ $status -ne 0 ]; then
  cat "$work/report" >&2
  echo "check-abi: INCOMPATIBLE change to $now: keep the old ABI, or raise the version and" >&2
  echo "check-abi: update the baseline in the same commit (docs/ARCHITECTURE.md, \"Install\")" >&2
  exit 1
fi
added=0
abidiff "$baseline" "$work/built.abi" >"$work/report" || added=$?
if [ $added -ne 0 ]; then
  cat "$work/report"
  echo "check-abi: $now only grew (refresh the baseline with --update to keep the additions)"
else
  echo "check-abi: $now matches $baseline"
fi
