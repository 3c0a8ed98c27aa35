#!/usr/bin/env bash
# The packaging stage, on a release build that exists already: scripts/run-packaging.sh BUILD_DIR
#   1. installs it into a temporary prefix (building the installed targets when they are not up
#      to date); every installed header compiles on its own
#   2. builds and runs tests/consumer against that prefix with find_package and with pkg-config
#   3. compares libZelAdminSal's ABI with the baseline (scripts/check-abi.sh)
#   4. makes the Debian packages (CPack) and runs lintian on them (no error allowed)
#   5. as root: installs them with apt-get, checks the installed zelfarmd configuration, zeladmin
#      and zeltrace, builds the consumer against /usr, then purges them
# Prints each step's duration; exits non-zero at the first failure.
# ZEL_PACKAGING_NO_APT=1 stops after step 4 (for a developer who is not root).
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build="$(realpath "$1")"
[ -f "$build/CPackConfig.cmake" ] || { echo "packaging: $build is no configured build" >&2; exit 2; }
. scripts/packages.sh
ensure_packages packaging abigail-tools lintian dpkg-dev fakeroot pkg-config file

work="$(mktemp -d)"
packages=(zeladmin zelfarmd libzeladminsal-dev)
installed=0
made_state=0
cleanup() {
  if [ $installed -eq 1 ]; then purge_packages || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

step() {
  local name="$1"
  shift
  local start=$SECONDS
  echo "== packaging: $name"
  "$@"
  echo "== packaging: $name: ok ($((SECONDS - start)) s)"
}

# Installing builds nothing: the targets it takes are brought up to date first (nothing to do
# after a full build).
build_installed() {
  local targets=(ZelAdminSal zeltrace zeladmin zelfarmd)
  if cmake --build "$build" --target help | grep -qw zelweb; then targets+=(zelweb); fi
  cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >"$work/build.log" ||
    { tail -n 40 "$work/build.log" >&2; return 1; }
}

install_prefix() {
  cmake --install "$build" --prefix "$work/prefix" >"$work/install.log"
  (cd "$work/prefix/include" && find . -name '*.h' -printf '%P\n' | sort) >"$work/headers"
  # One compiler per header, as many at once as there are cores.
  xargs -P "$(nproc)" -I{} sh -c 'echo "#include \"{}\"" |
    c++ -std=c++20 -fsyntax-only -I"$1" -x c++ - || { echo "packaging: {} does not compile on its own" >&2; exit 255; }' \
    _ "$work/prefix/include" <"$work/headers"
  echo "$(wc -l <"$work/headers") installed headers compile on their own"
}

make_debs() {
  mkdir -p "$work/debs"
  (cd "$work/debs" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/debs" >"$work/cpack.log") ||
    { cat "$work/cpack.log" >&2; return 1; }
  ls "$work"/debs/*.deb
}

run_lintian() {
  # Errors fail; warnings are shown.
  lintian --fail-on error "$work"/debs/*.deb
}

lib_package() { dpkg-deb -f "$(ls "$work"/debs/libzeladminsal[0-9]*.deb)" Package; }

purge_packages() {
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" "$(lib_package)" >/dev/null
  installed=0
  # What the server's postinst made on this machine for this run alone goes with it.
  if [ $made_state -eq 1 ]; then
    rm -rf /var/lib/zelfarmd
    userdel zelfarmd 2>/dev/null || true
  fi
  for p in "${packages[@]}" "$(lib_package)"; do
    if dpkg -s "$p" >/dev/null 2>&1; then echo "packaging: $p still installed" >&2; return 1; fi
  done
  [ ! -e /etc/zelfarmd/zelfarmd.conf ] || { echo "packaging: configuration left" >&2; return 1; }
}

apt_install() {
  for p in "${packages[@]}" "$(lib_package)"; do
    if dpkg -s "$p" >/dev/null 2>&1; then
      DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "$p" >/dev/null
    fi
  done
  if ! getent passwd zelfarmd >/dev/null && [ ! -e /var/lib/zelfarmd ]; then made_state=1; fi
  installed=1
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$work"/debs/*.deb
}

check_installed() {
  /usr/bin/zelfarmd --config /etc/zelfarmd/zelfarmd.conf --check-config
  local version
  version="$(/usr/bin/zeladmin --version)"
  echo "$version"
  [ "$version" = "zeladmin $(dpkg-query -W -f '${Version}' zeladmin)" ] ||
    { echo "packaging: zeladmin --version says '$version'" >&2; return 1; }
  /usr/bin/zeltrace --help >/dev/null
  [ "$(stat -c %U:%a /var/lib/zelfarmd/keys/ticket.key)" = "zelfarmd:600" ] ||
    { echo "packaging: the ticket key is not zelfarmd's alone" >&2; return 1; }
  tests/consumer/run.sh /usr "$work/consumer-usr"
}

step "build what is installed" build_installed
step "install into a temporary prefix" install_prefix
step "consumer test (find_package, pkg-config)" tests/consumer/run.sh "$work/prefix" "$work/consumer"
step "ABI check" scripts/check-abi.sh "$build"
step "Debian packages" make_debs
step "lintian" run_lintian
if [ "${ZEL_PACKAGING_NO_APT:-0}" = 1 ]; then
  echo "packaging: ZEL_PACKAGING_NO_APT=1: packages not installed"
  exit 0
fi
[ "$(id -u)" -eq 0 ] || { echo "packaging: installing the packages needs root" >&2; exit 1; }
step "apt-get install ./*.deb" apt_install
step "installed tools and files" check_installed
step "purge" purge_packages
echo "packaging: every step passed"
