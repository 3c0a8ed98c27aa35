#!/usr/bin/env bash
# A farm and its web console for the tests, as real processes in WORK:
#   farm_fixture.sh start BIN_DIR WORK DEMO_FARM_JSON   starts zelfarmd (owner: this login, over
#     a Unix socket; zelweb reaches it over plain TCP, which carries no identity, so no web
#     session acts as the owner), fills it with the demo farm, sets the passwords of
#     unix:admin (every privilege), unix:alice and unix:bob to "demo password", starts zelweb
#     on a free port and writes its URL to WORK/zelweb.url.
#   farm_fixture.sh stop WORK                            stops both.
set -euo pipefail
command="$1"
if [ "$command" = stop ]; then
  work="$2"
  for name in zelweb zelfarmd; do
    if [ -f "$work/$name.pid" ]; then
      kill "$(cat "$work/$name.pid")" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$(cat "$work/$name.pid")" 2>/dev/null || break; sleep 0.1; done
      rm -f "$work/$name.pid"
    fi
  done
  exit 0
fi
bin="$2" work="$3" demo="$4"
mkdir -p "$work"
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
farm_port="$(free_port)"
"$bin/zelfarmd" --init-keys "$work/keys" >/dev/null
"$bin/zelfarmd" --store "sqlite:$work/farm.db" --listen "unix:$work/farm.sock" \
  --listen "tcp:127.0.0.1:$farm_port" --insecure --keys "$work/keys" --owner "$(id -un)" \
  --pwhash-limits min >"$work/zelfarmd.log" 2>&1 &
echo $! >"$work/zelfarmd.pid"
for _ in $(seq 100); do [ -S "$work/farm.sock" ] && break; sleep 0.1; done
[ -S "$work/farm.sock" ] || { echo "zelfarmd did not start:" >&2; cat "$work/zelfarmd.log" >&2; exit 1; }
export ZEL_FARM="unix:$work/farm.sock"
printf 'demo password\n' >"$work/password"
z() { "$bin/zeladmin" --quiet "$@" >>"$work/zeladmin.log" 2>&1; }
z init --admin admin --password-file "$work/password"
z import "$demo"
z admins password unix:alice --password-file "$work/password"
z admins password unix:bob --password-file "$work/password"
"$bin/zelweb" --farm "tcp:127.0.0.1:$farm_port" --insecure --listen 127.0.0.1:0 \
  --idle-timeout "${ZELWEB_IDLE_TIMEOUT:-900}" >"$work/zelweb.log" 2>&1 &
echo $! >"$work/zelweb.pid"
for _ in $(seq 100); do grep -q '^zelweb: serving' "$work/zelweb.log" 2>/dev/null && break; sleep 0.1; done
url="$(sed -n 's/^zelweb: serving \([^ ]*\) .*/\1/p' "$work/zelweb.log")"
[ -n "$url" ] || { echo "zelweb did not start:" >&2; cat "$work/zelweb.log" >&2; exit 1; }
echo "$url" >"$work/zelweb.url"
