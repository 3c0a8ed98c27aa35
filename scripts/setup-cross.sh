#!/usr/bin/env bash
# Makes sure what the cross builds (windows-x64, windows-i686, linux-i686) need is there:
# Debian's MinGW-w64 compilers (posix threads), wine64, gcc-multilib, qemu-user (32-bit programs
# on a kernel that cannot run them) and GoogleTest's source;
# and SQLite's amalgamation source, taken from a pinned npm package into build/deps/sqlite3.
# Never enables the i386 architecture: the Windows tests run under wine64 only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
          binutils-mingw-w64-i686 wine64 g++-multilib qemu-user googletest)
command -v npm >/dev/null || packages+=(npm)
source scripts/packages.sh
ensure_packages setup-cross "${packages[@]}"

# SQLite 3.50.4 as the npm package better-sqlite3 12.4.1 carries it (deps/sqlite3). Debian has
# no SQLite for MinGW or for i386 without that architecture.
package=better-sqlite3
version=12.4.1
deps=build/deps
stamp="$deps/sqlite3/FROM"
if [ "$(cat "$stamp" 2>/dev/null)" != "$package@$version" ]; then
  echo "setup-cross: fetching SQLite's amalgamation from $package@$version"
  rm -rf "$deps/sqlite3" "$deps/unpack"
  mkdir -p "$deps/unpack"
  tarball=$(cd "$deps/unpack" && npm pack --silent "$package@$version")
  tar -xzf "$deps/unpack/$tarball" -C "$deps/unpack" package/deps/sqlite3
  mv "$deps/unpack/package/deps/sqlite3" "$deps/sqlite3"
  rm -rf "$deps/unpack"
  echo "$package@$version" >"$stamp"
fi
