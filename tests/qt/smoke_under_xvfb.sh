#!/usr/bin/env bash
# The window's smoke test under Xvfb with a window manager and a compositor:
# the launcher brings a fresh client to the demo's patch 6 from patch-server,
# a screenshot is taken, Start is clicked, and the stand-in game must have got
# the parameter text.
#   smoke_under_xvfb.sh BUILD_DIR SOURCE_DIR [SCREENSHOT.png]
# SMOKE_COMPOSITOR=none runs it without the compositor (the outline is then
# the window's mask).
# The launcher has its hosts built in: the server runs on the port of the
# build's version host. Exit 77 (skipped) when that port is taken.
set -euo pipefail
build="$1"
src="$2"
shot="${3:-$build/ui-smoke.png}"
bin="$build/bin"
host=$(sed -n 's/^LAUNCHER_VERSION_HOST:STRING=//p' "$build/CMakeCache.txt")
port="${host##*:}"
case "$port" in ''|*[!0-9]*) echo "version host $host has no port"; exit 77 ;; esac

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

"$src/demo/prepare.sh" "$bin" "$work" >/dev/null
"$bin/patch-server" --port "$port" "$work/server" > "$work/server.log" 2>&1 &
pids+=($!)
sleep 0.3
kill -0 "${pids[-1]}" 2>/dev/null || { echo "port $port is taken"; exit 77; }

client="$work/client"
mkdir -p "$client"
cp "$bin/Launcher" "$bin/libTarnwellCompress.so" "$client/"
cp "$bin/demo-game" "$client/Corvatheon2.exe"

cat > "$work/session.sh" <<'SESSION'
#!/usr/bin/env bash
# Inside the X server: window manager, compositor, launcher, screenshot, Start.
set -euo pipefail
client="$1"; shot="$2"
openbox > /dev/null 2>&1 &
sleep 0.5
if [ "${SMOKE_COMPOSITOR:-picom}" != none ]; then
  picom --backend xrender > /dev/null 2>&1 &
  sleep 0.5
fi
cd "$client"
export DEMO_GAME_SECONDS=1
# The program finds the decompressor beside itself through its run path; a
# sanitizer's dlopen interceptor hides that run path, so say it plainly.
LD_LIBRARY_PATH="$client${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" ./Launcher > launcher.log 2>&1 &
launcher=$!
fail() { echo "FAIL: $*"; cat launcher.log; kill "$launcher" 2>/dev/null; exit 1; }
for _ in $(seq 1500); do [ "$(cat PRESENTVERSION.DAT 2>/dev/null)" = 00006 ] && break; sleep 0.1; done
[ "$(cat PRESENTVERSION.DAT 2>/dev/null)" = 00006 ] || fail "the client did not reach patch 6"
# The gate opens about two seconds after the last patch; let the news page settle.
sleep 4
window=$(xdotool search --name '^自动更新$' | head -1)
[ -n "$window" ] || fail "no launcher window"
eval "$(xdotool getwindowgeometry --shell "$window")"
import -window root -crop "$((WIDTH + 40))x$((HEIGHT + 40))+$((X - 20))+$((Y - 20))" +repage "$shot"
# Start: the middle of button 1 (777,476 193x60 in the window).
xdotool mousemove "$((X + 873))" "$((Y + 506))" click 1
for _ in $(seq 100); do [ -s demo-game.log ] && break; sleep 0.1; done
for _ in $(seq 150); do kill -0 "$launcher" 2>/dev/null || break; sleep 0.1; done
kill -0 "$launcher" 2>/dev/null && fail "the launcher did not end after Start"
exit 0
SESSION
chmod +x "$work/session.sh"
xvfb-run -a -s "-screen 0 1600x900x24" "$work/session.sh" "$client" "$shot"

fail() { echo "FAIL: $*"; exit 1; }
expected='Corvatheon2 demo game started with "/100/0/2/1024/768\n" at patch 00006'
[ "$(cat "$client/demo-game.log" 2>/dev/null)" = "$expected" ] \
  || fail "game log: $(cat "$client/demo-game.log" 2>/dev/null)"
[ -s "$shot" ] || fail "no screenshot"
echo "screenshot: $shot"
echo "1 passed, 0 failed"
