#!/usr/bin/env bash
# The web console in a real browser: starts zelfarmd and zelweb of RELEASE_BUILD_DIR (its bin/
# holds zelweb, zelfarmd and zeladmin), drives headless Chromium (Debian's) with playwright-core
# (npm, pinned by tools/zelweb/tests/browser/package-lock.json) and stops them again.
# Screenshots of the main pages go to SCREENSHOT_DIR (default RELEASE_BUILD_DIR/zelweb-screenshots).
# Exits non-zero when a check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${1:?usage: scripts/run-browser-tests.sh RELEASE_BUILD_DIR [SCREENSHOT_DIR]}" && pwd)"
shots="${2:-$build/zelweb-screenshots}"
source scripts/packages.sh
ensure_packages run-browser-tests chromium
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  ensure_packages run-browser-tests nodejs npm
fi
for program in zelweb zelfarmd zeladmin; do
  [ -x "$build/bin/$program" ] || { echo "run-browser-tests: no $build/bin/$program (build it first)" >&2; exit 1; }
done
mkdir -p "$shots"
shots="$(cd "$shots" && pwd)"
echo "== npm ci (playwright-core)"
(cd tools/zelweb/tests/browser && npm ci --no-audit --no-fund --loglevel=error)
echo "== browser tests: logon, tree with icons, live updates, privileges, CSRF"
(cd tools/zelweb/tests/browser &&
  ZELWEB_BIN_DIR="$build/bin" ZELWEB_SCREENSHOTS="$shots" CHROMIUM=/usr/bin/chromium \
    node --test browser.test.mjs)
echo "== screenshots: $shots"
ls "$shots"
