#!/usr/bin/env bash
# The demo flow without a display: a fresh client brought from nothing to
# patch 6 by LauncherCli against patch-server, then the game started.
#   demo_flow_test.sh BIN_DIR SOURCE_DIR
set -euo pipefail
bin="$1"
src="$2"
work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$src/demo/prepare.sh" "$bin" "$work" >/dev/null

# patch-server on a free port (retry when the port is taken).
for attempt in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 20000))
  "$bin/patch-server" --port "$port" "$work/server" > "$work/server.log" 2>&1 &
  server_pid=$!
  sleep 0.3
  if kill -0 "$server_pid" 2>/dev/null; then break; fi
  server_pid=""
done
[ -n "$server_pid" ] || { echo "could not start patch-server"; exit 1; }

client="$work/client"
mkdir -p "$client"
cp "$bin/demo-game" "$client/Corvatheon2.exe"
cd "$client"
env -u DISPLAY -u WAYLAND_DISPLAY "$bin/LauncherCli" --version-host "127.0.0.1:$port" \
  --download-host "127.0.0.1:$port" --start-game 2> "$work/launcher.err" || {
  echo "LauncherCli failed:"; cat "$work/launcher.err"; exit 1; }

fail() { echo "FAIL: $*"; exit 1; }
[ "$(cat PRESENTVERSION.DAT)" = "00006" ] || fail "PRESENTVERSION.DAT holds $(cat PRESENTVERSION.DAT)"
ls ./*.DAT | grep -vx './PRESENTVERSION.DAT' && fail "a package was left behind"
diff -r -x .Brevane.lock -x PRESENTVERSION.DAT -x Corvatheon2.exe -x demo-game.log -x launcher.log "$work/versions/v6" . \
  || fail "the client differs from version 6"

# The log holds the run: its start, each package applied, its end.
grep -q 'applied 00005.DAT' launcher.log && grep -q 'end: the client is up to date (patch 6)' launcher.log \
  || fail "launcher.log: $(cat launcher.log)"
[ "$(stat -c %a launcher.log)" = 600 ] || fail "launcher.log is not private"

# The game is started without waiting; give it a moment to write its line.
for _ in $(seq 50); do [ -s demo-game.log ] && break; sleep 0.1; done
expected='Corvatheon2 demo game started with "/100/0/2/1024/768\n" at patch 00006'
[ "$(cat demo-game.log)" = "$expected" ] || fail "game log: $(cat demo-game.log 2>/dev/null)"

# A second run finds the client current and fetches nothing but the list.
"$bin/LauncherCli" --version-host "127.0.0.1:$port" --download-host "127.0.0.1:$port" \
  2> "$work/second.err" || { cat "$work/second.err"; fail "second run"; }
grep -q 'up to date (patch 6)' "$work/second.err" || fail "second run: $(cat "$work/second.err")"
# The server gone: exit 1 with the reason, without hanging.
kill "$server_pid"; wait "$server_pid" 2>/dev/null || true; server_pid=""
set +e
timeout 60 "$bin/LauncherCli" --version-host "127.0.0.1:$port" 2> "$work/down.err"; status=$?
"$bin/LauncherCli" --no-such-option 2>/dev/null; usage=$?
set -e
[ "$status" = 1 ] || fail "server down: exit $status"
grep -q 'could not be fetched' "$work/down.err" || fail "server down: $(cat "$work/down.err")"
[ "$usage" = 2 ] || fail "bad usage: exit $usage"
echo "1 passed, 0 failed"
