#!/usr/bin/env bash
# The demo: sets up the machine, builds, prepares a demo client and a local
# patch server, and runs the launcher against it.
#   scripts/demo.sh                the launcher window when there is a display,
#                                  LauncherCli --start-game otherwise
#   scripts/demo.sh --fresh        start again from an empty client directory
#   scripts/demo.sh --self-update  the server announces launcher 1.1.7.0 and
#                                  serves it; the launcher replaces itself first
#   scripts/demo.sh --cli          the console front end even with a display
#   scripts/demo.sh --tamper       the server hands out a modified package; the
#                                  launcher refuses it (console front end)
# Updates are signed: the demo's key pair is made on the first run
# (demo-run/keys/) and the demo's own build (build/demo) carries its public key.
# The server publishes the file index FILES.IDX, signed with the release.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

fresh=0
self_update=0
force_cli=0
tamper=0
for arg in "$@"; do
  case "$arg" in
    --fresh) fresh=1 ;;
    --self-update) self_update=1; fresh=1 ;;
    --cli) force_cli=1 ;;
    --tamper) tamper=1; fresh=1; force_cli=1 ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) echo "demo: unknown option $arg" >&2; exit 2 ;;
  esac
done

./scripts/install-deps.sh
run="$root/demo-run"
keys="$run/keys"
# A build of its own, so that the demo's key never reaches the default build.
build="$root/build/demo"
cmake --preset default -B "$build" >/dev/null
if [ ! -f "$keys/demo.pub" ]; then
  cmake --build "$build" -j "$(nproc)" --target mkpatch
  mkdir -p "$keys"
  "$build/bin/mkpatch" keygen "$keys/demo" >/dev/null
  echo "== Generated the demo's signing key pair in $keys"
fi
public_key=$(cat "$keys/demo.pub")
cmake --preset default -B "$build" -DLAUNCHER_UPDATE_PUBLIC_KEY="$public_key" >/dev/null
targets=(LauncherCli LauncherCliNext UpDateLauncher TarnwellCompress mkpatch patch-server demo-game)
if grep -q '^LAUNCHER_BUILD_GUI:BOOL=ON' "$build/CMakeCache.txt"; then targets+=(Launcher LauncherNext); fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
bin="$build/bin"

client="$run/client"
server="$run/server"
launcher_version=1.1.6.0
[ "$self_update" = 1 ] && launcher_version=1.1.7.0

# Server files, with the file index: rebuilt when missing or when the
# announced launcher changes.
if [ ! -f "$run/.prepared-indexed-$launcher_version" ]; then
  rm -f "$run"/.prepared-*
  DEMO_LAUNCHER_VERSION=$launcher_version demo/prepare.sh "$bin" "$run" --index
  touch "$run/.prepared-indexed-$launcher_version"
fi
rm -f "$server/corvatheon_version/corvatheon2_online/Launcher.exe_"

use_window=0
if [ "$force_cli" = 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$bin/Launcher" ]; then
  use_window=1
fi
if [ "$self_update" = 1 ]; then
  next="$bin/LauncherCliNext"
  [ "$use_window" = 1 ] && next="$bin/LauncherNext"
  cp "$next" "$server/corvatheon_version/corvatheon2_online/Launcher.exe_"
fi
# Signed last, over exactly what is served.
"$bin/mkpatch" sign --key "$keys/demo.key" --packages "$server/corvatheon2_online" \
  "$server/corvatheon_version/corvatheon2_online/SERVERVER.INI" >/dev/null
served="$server"
if [ "$tamper" = 1 ]; then
  # Someone on the way swaps one byte of package 3, after it was signed.
  served="$run/server-tampered"
  rm -rf "$served"
  cp -r "$server" "$served"
  printf 'X' | dd of="$served/corvatheon2_online/00003.DAT" bs=1 seek=100 conv=notrunc status=none
fi

# The client directory is the installation: the launcher, its library, the
# updater and the game live in it.
[ "$fresh" = 1 ] && rm -rf "$client"
mkdir -p "$client"
for program in LauncherCli UpDateLauncher libTarnwellCompress.so; do
  cp "$bin/$program" "$client/"
done
[ -x "$bin/Launcher" ] && cp "$bin/Launcher" "$client/"
cp "$bin/demo-game" "$client/Corvatheon2.exe"

"$bin/patch-server" --port 8642 "$served" > "$run/server.log" 2>&1 &
server_pid=$!
trap 'kill $server_pid 2>/dev/null || true' EXIT
sleep 0.5
kill -0 "$server_pid" 2>/dev/null || { cat "$run/server.log"; echo "demo: the patch server did not start (is port 8642 in use?)" >&2; exit 1; }

cd "$client"
echo "== Client directory: $client (patch $(cat PRESENTVERSION.DAT 2>/dev/null || echo none))"
echo "== Patch server: http://127.0.0.1:8642/ (log: $run/server.log)"
echo "== Updates are verified: the launcher carries the public key $public_key and accepts only what SERVERVER.SIG (signed with $keys/demo.key) lists"
[ "$tamper" = 1 ] && echo "== Package 00003.DAT was modified after signing; the launcher must refuse it"
set +e
if [ "$use_window" = 1 ]; then
  echo "== The launcher window is open (its diagnostics go to $run/launcher.log)"
  ./Launcher 2> "$run/launcher.log"
  status=$?
  # After a self-update the updater runs the new launcher; wait for it to end.
  while pgrep -x Launcher >/dev/null 2>&1; do sleep 1; done
else
  ./LauncherCli --start-game
  status=$?
  if [ "$status" = 3 ]; then
    echo "== Handing over to UpDateLauncher, as the window launcher does"
    ./UpDateLauncher --target LauncherCli --no-start && ./LauncherCli --version && ./LauncherCli --start-game
    status=$?
  fi
fi
set -e
sleep 0.5
if [ "$tamper" = 1 ]; then
  if [ "$status" != 0 ] && [ ! -e 00003.DAT ]; then
    echo "== The launcher refused the modified package and deleted it; the client stays at patch $(cat PRESENTVERSION.DAT)"
    exit 0
  fi
  echo "== The modified package was NOT refused" >&2
  exit 1
fi
echo "== Exit status $status; the client is at patch $(cat PRESENTVERSION.DAT 2>/dev/null || echo none)"
exit $status
