#!/usr/bin/env bash
# Makes sure the Debian packages the build needs are installed. As root it installs what is
# missing with apt-get; otherwise it names the packages to install and stops.
set -euo pipefail

# The portable core needs only the compilers, GoogleTest, Google Benchmark and SQLite; the server
# side adds libsodium (password hashes, MACs), Boost.Asio and OpenSSL (the transport, TLS) and
# libsystemd (socket activation, readiness); CLI11 (the command lines of the farm server and
# zeladmin); zeladmin adds nlohmann-json and libpng (icons). The transport's tests make their
# certificates with the openssl command. OpenLDAP: the directory's LDAP backend (the client
# library), and the server and tools its tests start privately.
packages=(cmake make g++ clang libclang-rt-dev libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  pkg-config libsodium-dev libboost-dev libssl-dev libsystemd-dev libcli11-dev nlohmann-json3-dev
  libpng-dev openssl slapd ldap-utils libldap-dev)
source "$(dirname "$0")/packages.sh"
ensure_packages setup "${packages[@]}"
