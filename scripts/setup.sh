#!/usr/bin/env bash
# Makes sure the Debian packages the build needs are installed. As root it installs what is
# missing with apt-get; otherwise it names the packages to install and stops.
set -euo pipefail

# The portable core needs only the compilers, GoogleTest, Google Benchmark and SQLite; the server
# side adds libsodium (password hashes, MACs), Boost.Asio and OpenSSL (the transport, TLS) and
# libsystemd (socket activation, readiness).
packages=(cmake make g++ clang libclang-rt-dev libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  libsodium-dev libboost-dev libssl-dev libsystemd-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: missing packages: ${missing[*]}" >&2
  echo "setup: install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
