#!/usr/bin/env bash
# The main job: builds the release configuration, starts a farm server on a SQLite store in a
# temporary folder, fills it with the demo farm (share/demo-farm.json) and takes a short tour
# with zeladmin. Everything it makes is removed at the end. ZEL_PRESET=dev builds the debug
# configuration instead; ZEL_BUILD_DIR=build/release builds nothing and uses the programs already
# built there (CI, after its one release build).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${ZEL_PRESET:-release}"
scripts/setup.sh

build="${ZEL_BUILD_DIR:-}"
if [ -n "$build" ]; then
  echo "== using zelfarmd, zeladmin and zelweb built in $build"
else
  echo "== building ($preset): zelfarmd, zeladmin and zelweb"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)" --target zelfarmd zeladmin zelweb >/dev/null
  build="build/$preset"
fi
bin="$(cd "$build" && pwd)/bin"

work="$(mktemp -d)"
server=""
web=""
cleanup() {
  if [ -n "$web" ]; then kill "$web" 2>/dev/null || true; wait "$web" 2>/dev/null || true; fi
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== starting zelfarmd on $work/farm.db"
"$bin/zelfarmd" --init-keys "$work/keys" >/dev/null
"$bin/zelfarmd" --store "sqlite:$work/farm.db" --listen "unix:$work/farm.sock" \
  --keys "$work/keys" --owner "$(id -un)" --pwhash-limits min 2>"$work/zelfarmd.log" &
server=$!
for _ in $(seq 100); do [ -S "$work/farm.sock" ] && break; sleep 0.1; done
[ -S "$work/farm.sock" ] || { echo "zelfarmd did not start:"; cat "$work/zelfarmd.log"; exit 1; }
export ZEL_FARM="unix:$work/farm.sock"
z() { echo; echo "\$ zeladmin $*"; "$bin/zeladmin" "$@"; }

printf 'demo password\n' >"$work/password"
chmod 600 "$work/password"
z init --admin admin --password-file "$work/password"
z import share/demo-farm.json
z admins password unix:alice --password-file "$work/password"

z tree ls
z admins list
z icons ls
since="$(date -u +%Y-%m-%dT%H:%M:%S)"
z logon unix:alice --password-file "$work/password"
z permissions
z admins folders get unix:alice
z plugins ls

echo; echo "\$ zeladmin tree watch --count 2 &   (another console watches)"
"$bin/zeladmin" tree watch --count 2 --timeout 10 >"$work/watch.out" 2>"$work/watch.err" &
watcher=$!
for _ in $(seq 100); do grep -q watching "$work/watch.err" 2>/dev/null && break; sleep 0.1; done
z tree add north/rack1/node106 --icon server --title "north-node106"
wait "$watcher" || true
echo "-- what the watching console saw:"
cat "$work/watch.out"

z tree show north/rack1/node106
z audit --since "$since"

echo
echo "== zelweb, the web console (zelfarmd again, owned by nobody: no web session may act as the owner)"
kill "$server"; wait "$server" 2>/dev/null || true
"$bin/zelfarmd" --store "sqlite:$work/farm.db" --listen "unix:$work/farm.sock" \
  --keys "$work/keys" --owner nobody --pwhash-limits min 2>>"$work/zelfarmd.log" &
server=$!
for _ in $(seq 100); do [ -S "$work/farm.sock" ] && break; sleep 0.1; done
"$bin/zelweb" --farm "unix:$work/farm.sock" --listen 127.0.0.1:0 >"$work/zelweb.log" 2>&1 &
web=$!
for _ in $(seq 100); do grep -q '^zelweb: serving' "$work/zelweb.log" && break; sleep 0.1; done
url="$(sed -n 's/^zelweb: serving \([^ ]*\) .*/\1/p' "$work/zelweb.log")"
[ -n "$url" ] || { echo "zelweb did not start:"; cat "$work/zelweb.log"; exit 1; }
echo "Open $url and log on as unix:alice with the password 'demo password'."
echo "(ZEL_WEB_SECONDS=N keeps it running N seconds; now: ${ZEL_WEB_SECONDS:-0})"
sleep "${ZEL_WEB_SECONDS:-0}"

echo
echo "== stopping zelweb and zelfarmd"
kill "$web"; wait "$web" 2>/dev/null || true; web=""
kill "$server"; wait "$server" 2>/dev/null || true; server=""
echo "To run a farm of your own (one machine, keys, TLS certificates, backups, upgrades),"
echo "see docs/OPERATIONS.md."
