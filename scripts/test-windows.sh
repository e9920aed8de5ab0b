#!/usr/bin/env bash
# The Windows stage: cross-builds the 32-bit and 64-bit programs with MinGW-w64
# (warnings as errors), checks the headers and version blocks of what they
# built, runs the tests of the engine, the transfer layer, the
# window logic and the platform (WinHTTP against a local server) with the
# 64-bit build under wine64, and runs LauncherCli.exe end to end against
# the Linux patch-server:
#   1. an empty client brought to the latest patch,
#   2. a package continued from a partial download, its entry names in code
#      page 936 as a Chinese Windows system reads them,
#   3. the demo game (a Windows build) started with "/100/0/2/1024/768\n",
#   4. UpDateLauncher.exe swapping in a launcher one version ahead,
#   5. signed updates: a build that carries a public key installs what the
#      Linux mkpatch signed and refuses a package changed after signing,
#   6. Launcher.exe, the window, under Xvfb with a window manager: a 1360x655
#      window appears, its news pane creates the web browser control and
#      navigates it (showing the link: Wine has no engine), a click on the
#      picture does not move the window and a drag does, a second Launcher.exe
#      ends at once, the client reaches the latest patch, and Escape closes
#      the launcher.
#   scripts/test-windows.sh [LINUX_BIN_DIR]   (default: build/default/bin)
# The 32-bit programs only build here: Debian's 32-bit Wine does not install
# beside the 64-bit one.
set -euo pipefail
cd "$(dirname "$0")/.."
src="$PWD"
linux_bin="$(realpath -m "${1:-build/default/bin}")"

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev libgcrypt-mingw-w64-dev \
  wine64 wine locales \
  xvfb openbox xdotool x11-utils >/dev/null
# Wine takes the Windows locale, and with it the system code page, from the
# Linux locale, whose character set also encodes the file names it creates.
if ! locale -a | grep -qx 'zh_CN.utf8'; then
  "${sudo_cmd[@]}" localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
jobs="$(nproc)"
for preset in win32 win64; do
  cmake --preset "$preset" "${launcher[@]}" -DLAUNCHER_WARNINGS_AS_ERRORS=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# The decompressor exports exactly `uncompress`, in both builds.
for arch in win32:i686 win64:x86_64; do
  exports=$("${arch#*:}-w64-mingw32-objdump" -p "build/${arch%%:*}/bin/TarnwellCompress.dll" |
            sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk 'NR > 1 && NF {print $NF}')
  [ "$exports" = "uncompress" ] || { echo "TarnwellCompress.dll (${arch%%:*}) exports: $exports"; exit 1; }
done
# The window is a GUI program in both builds.
for arch in win32:i686 win64:x86_64; do
  headers=$("${arch#*:}-w64-mingw32-objdump" -p "build/${arch%%:*}/bin/Launcher.exe" 2>/dev/null || true)
  grep -q 'Subsystem.*(Windows GUI)' <<< "$headers" ||
    { echo "Launcher.exe (${arch%%:*}) is missing or not a GUI program"; exit 1; }
done
# Every program and the DLL: Windows Vista (6.0) in the PE header, a version
# block of its own (its own file name, translation 080403a8), and in the
# 32-bit build large-address aware.
for arch in win32:i686 win64:x86_64; do
  for file in "build/${arch%%:*}"/bin/*.exe "build/${arch%%:*}"/bin/*.dll; do
    headers=$("${arch#*:}-w64-mingw32-objdump" -p "$file")
    for field in MajorSubsystemVersion MajorOSystemVersion; do
      grep -Eq "^$field[[:space:]]+6\$" <<< "$headers" ||
        { echo "$file: $(grep "^$field" <<< "$headers")"; exit 1; }
    done
    if [ "${arch#*:}" = i686 ] && ! grep -q 'large address aware' <<< "$headers"; then
      echo "$file is not large-address aware"; exit 1
    fi
    # The block's UTF-16 strings: each name followed by its value.
    texts=$(strings -el "$file")
    grep -A1 -x OriginalFilename <<< "$texts" | grep -qx "$(basename "$file")" &&
      grep -qx 080403a8 <<< "$texts" || { echo "$file has no version block of its own"; exit 1; }
  done
done
ls -l build/win32/bin/*.exe build/win32/bin/*.dll build/win64/bin/*.exe build/win64/bin/*.dll

# Wine in a prefix of our own; Chinese Windows, so the system code page is 936.
export WINEPREFIX="$src/build/win64/wine-prefix" WINEDEBUG=-all LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
timeout 300 wineboot --init >/dev/null 2>&1 || true
# Let the prefix settle (its services end) before the tests start their own.
timeout 120 wineserver --wait || true

# The test programs (engine, transfer, integrity, window, platform), each under
# its time limit; the cases Wine cannot run are listed in
# tests/wine_excluded.filter.
timeout 1800 ctest --test-dir build/win64 --output-on-failure --timeout 600

# End to end against the Linux build's patch-server and mkpatch.
if [ ! -x "$linux_bin/patch-server" ] || [ ! -x "$linux_bin/mkpatch" ]; then
  echo "test-windows: $linux_bin has no patch-server or mkpatch (build the default preset first)"
  exit 1
fi
work=$(mktemp -d)
server_pid=""
window_server_pid=""
xvfb_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$window_server_pid" ] && kill "$window_server_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL (Windows end to end): $*"; exit 1; }

# start_patch_server DIR LOG: patch-server for DIR on a free port; sets
# started_port and started_pid. A fixed port may be taken on a shared machine.
start_patch_server() {
  started_port="" started_pid=""
  for _ in 1 2 3 4 5; do
    local candidate=$((20000 + RANDOM % 20000))
    "$linux_bin/patch-server" --port "$candidate" "$1" > "$2" 2>&1 &
    started_pid=$!
    sleep 0.3
    if kill -0 "$started_pid" 2>/dev/null; then started_port=$candidate; return 0; fi
    started_pid=""
  done
  return 1
}

"$src/demo/prepare.sh" "$linux_bin" "$work" >/dev/null
server="$work/server"
start_patch_server "$server" "$work/server.log" || fail "could not start patch-server"
server_pid=$started_pid port=$started_port

client="$work/client"
mkdir -p "$client"
win=build/win64/bin
cp "$win/LauncherCli.exe" "$win/UpDateLauncher.exe" "$win/TarnwellCompress.dll" "$client/"
cp "$win/demo-game.exe" "$client/Corvatheon2.exe"
cd "$client"
hosts=(--version-host "127.0.0.1:$port" --download-host "127.0.0.1:$port")
run() {
  local status=0
  timeout 300 wine LauncherCli.exe "${hosts[@]}" "$@" 2> "$work/launcher.err" || status=$?
  [ "$status" = 0 ] || { cat "$work/launcher.err"; fail "LauncherCli.exe $* exited with $status"; }
}

# 1. From nothing to the latest patch.
run
[ "$(cat PRESENTVERSION.DAT)" = "00006" ] || fail "PRESENTVERSION.DAT holds $(cat PRESENTVERSION.DAT)"
diff -r -x PRESENTVERSION.DAT -x launcher.log -x '*.exe' -x '*.dll' "$work/versions/v6" . ||
  fail "the client differs from version 6"

# 2. Patch 7 brings Chinese names, stored in code page 936; half of it is here
#    already, as an interrupted download leaves it.
mkdir -p "$work/v7/数据"
printf 'patch 7\n' > "$work/v7/数据/说明.txt"
"$linux_bin/mkpatch" build --names gbk "$server/corvatheon2_online/00006.DAT" "$work/v7" >/dev/null
"$linux_bin/mkpatch" serverlist --launcher 1.1.6.0 --latest 7 \
  -o "$server/corvatheon_version/corvatheon2_online/SERVERVER.INI"
package_size=$(stat -c %s "$server/corvatheon2_online/00006.DAT")
head -c $((package_size / 2)) "$server/corvatheon2_online/00006.DAT" > 00006.DAT
run
[ "$(cat PRESENTVERSION.DAT)" = "00007" ] || fail "after patch 7: $(cat PRESENTVERSION.DAT)"
[ "$(cat 数据/说明.txt)" = "patch 7" ] || fail "the Chinese name did not arrive as 数据/说明.txt"
grep -q "GET /corvatheon2_online/00006.DAT bytes=$((package_size / 2))-" "$work/server.log" ||
  fail "the partial package was not continued: $(grep 00006.DAT "$work/server.log")"

# 3. Up to date: the game starts with the parameter text and its line feed.
run --start-game
for _ in $(seq 100); do [ -s demo-game.log ] && break; sleep 0.2; done
expected='Corvatheon2 demo game started with "/100/0/2/1024/768\n" at patch 00007'
[ "$(tr -d '\r' < demo-game.log)" = "$expected" ] || fail "game log: $(cat demo-game.log 2>/dev/null)"

# 4. The updater swaps a newer launcher in, once it has answered --version.
cp LauncherCli.exe Launcher.exe
cp "$src/$win/LauncherCliNext.exe" Launcher.exe_
timeout 120 wine UpDateLauncher.exe --no-start >/dev/null || fail "UpDateLauncher.exe failed"
version=$(timeout 60 wine Launcher.exe --version | tr -d '\r')
[ "$version" = "LauncherCli 1.1.7.0" ] || fail "after the update: $version"

# 5. Signed updates: a LauncherCli.exe that carries a public key (a build of
#    its own, build/win64-signed, verifying with libgcrypt) installs what the
#    Linux mkpatch signed (libsodium) and refuses a package changed after that.
cd "$src"
"$linux_bin/mkpatch" keygen "$work/signing" >/dev/null
cmake --preset win64 -B build/win64-signed "${launcher[@]}" -DLAUNCHER_WARNINGS_AS_ERRORS=ON \
  -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_UPDATE_PUBLIC_KEY="$(cat "$work/signing.pub")" >/dev/null
timeout 1800 cmake --build build/win64-signed -j "$jobs" --target LauncherCli >/dev/null
packages="$server/corvatheon2_online"
"$linux_bin/mkpatch" sign --key "$work/signing.key" --packages "$packages" \
  "$server/corvatheon_version/corvatheon2_online/SERVERVER.INI" >/dev/null
run_signed() {  # run_signed DIR: a fresh client in DIR; prints the exit status
  mkdir -p "$1"
  cp build/win64-signed/bin/LauncherCli.exe "$win/TarnwellCompress.dll" "$1/"
  local status=0
  (cd "$1" && timeout 300 wine LauncherCli.exe "${hosts[@]}" 2> "$1/launcher.err") || status=$?
  echo "$status"
}
status=$(run_signed "$work/signed")
[ "$status" = 0 ] || { cat "$work/signed/launcher.err"; fail "the signed update ended with $status"; }
[ "$(cat "$work/signed/PRESENTVERSION.DAT")" = "00007" ] || fail "signed: $(cat "$work/signed/PRESENTVERSION.DAT")"
printf 'X' | dd of="$packages/00003.DAT" bs=1 seek=100 conv=notrunc status=none
status=$(run_signed "$work/tampered")
[ "$status" = 1 ] || fail "a package changed after signing ended with $status"
grep -q "00003.DAT does not match the signed manifest" "$work/tampered/launcher.err" ||
  fail "no reason for the refused package: $(cat "$work/tampered/launcher.err")"
[ "$(cat "$work/tampered/PRESENTVERSION.DAT")" = "00003" ] ||
  fail "the tampered run ended at $(cat "$work/tampered/PRESENTVERSION.DAT")"

# 6. The window. Its hosts are built in, so a build of it of its own
#    (build/win64-window, only Launcher.exe) carries the port of this run's
#    server: a fixed port may be taken on a shared machine. Only the file with
#    the hosts is compiled again from one run to the next.
cd "$src"
"$src/demo/prepare.sh" "$linux_bin" "$work/window" >/dev/null
start_patch_server "$work/window/server" "$work/window-server.log" ||
  fail "could not start patch-server for the window"
window_server_pid=$started_pid window_port=$started_port
cmake --preset win64 -B build/win64-window "${launcher[@]}" -DLAUNCHER_WARNINGS_AS_ERRORS=ON \
  -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_DEMO_ORIGIN="http://127.0.0.1:$window_port" \
  -U 'LAUNCHER_*_HOST' >/dev/null
timeout 1800 cmake --build build/win64-window -j "$jobs" --target Launcher TarnwellCompress >/dev/null
win_window=build/win64-window/bin
display=""
for n in $(seq 90 130); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=":$n"; break; }
done
[ -n "$display" ] || fail "no free X display"
Xvfb "$display" -screen 0 1600x900x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.2; done
xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start"
openbox > "$work/openbox.log" 2>&1 &

window_client="$work/window-client"
mkdir -p "$window_client"
cp "$win_window/Launcher.exe" "$win/UpDateLauncher.exe" "$win/TarnwellCompress.dll" "$window_client/"
cp "$win/demo-game.exe" "$window_client/Corvatheon2.exe"
cd "$window_client"
timeout 400 wine Launcher.exe > "$work/window.err" 2>&1 &
launcher_pid=$!

# The background window ("自动更新") at the picture's size, the controls layer over it.
geometry=""
for _ in $(seq 120); do
  for id in $(xdotool search --onlyvisible --name '^自动更新$' 2>/dev/null); do
    geometry=$(xwininfo -id "$id" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
  done
  [ "$geometry" = "1360x655" ] && break
  sleep 0.5
done
[ "$geometry" = "1360x655" ] || fail "no 1360x655 launcher window (last seen: ${geometry:-none})"
fore=$(xdotool search --onlyvisible --name '^Launcher$' 2>/dev/null | head -1)
[ -n "$fore" ] || fail "the controls layer is not shown"
fore_geometry=$(xwininfo -id "$fore" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
[ "$fore_geometry" = "1360x655" ] || fail "the controls layer is $fore_geometry"

# The news pane: the system's web browser control is created in it and sent
# to the news page. Wine has no engine to draw the page, so the control fails
# to show even our page and the pane falls back to the page's link.
for _ in $(seq 60); do grep -q "news pane: showing the link\|news pane: our page shown" \
  "$work/window.err" && break; sleep 0.5; done
grep -q "news pane: web browser control created and activated, events connected" "$work/window.err" ||
  fail "no web browser control in the news pane: $(grep 'news pane' "$work/window.err")"
grep -q "news pane: navigating to http://127.0.0.1:$window_port/mod/lunchercorvatheon2.html (0x00000000)" \
  "$work/window.err" || fail "the news pane was not sent to the news page"
grep -q "news pane: showing the link\|news pane: our page shown" "$work/window.err" ||
  fail "the news pane shows neither a page nor the link: $(grep 'news pane' "$work/window.err")"

# A click on the picture leaves the window where it is and not stuck to the
# pointer; a press dragged past the drag distance moves it.
background=$(xdotool search --onlyvisible --name '^自动更新$' 2>/dev/null | head -1)
window_at() { xwininfo -id "$background" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} END {print x " " y}'; }
read -r x0 y0 <<<"$(window_at)"
xdotool mousemove $((x0 + 478)) $((y0 + 586)) click 1
sleep 0.5
xdotool mousemove $((x0 + 700)) $((y0 + 300))
sleep 1
[ "$(window_at)" = "$x0 $y0" ] || fail "a click moved the window from $x0 $y0 to $(window_at)"
xdotool mousemove $((x0 + 478)) $((y0 + 586)) mousedown 1
for i in $(seq 10); do xdotool mousemove $((x0 + 478 + i * 10)) $((y0 + 586 - i * 5)); sleep 0.1; done
xdotool mouseup 1
sleep 1
read -r x1 y1 <<<"$(window_at)"
[ "$x1" -gt "$x0" ] && [ "$y1" -lt "$y0" ] || fail "a drag did not move the window ($x0 $y0 to $x1 $y1)"

# A second launcher ends at once and opens nothing.
start=$SECONDS
timeout 60 wine Launcher.exe > /dev/null 2>&1 || fail "the second Launcher.exe did not end by itself"
[ $((SECONDS - start)) -le 30 ] || fail "the second Launcher.exe took $((SECONDS - start)) s to end"
windows=$(xdotool search --onlyvisible --name '^自动更新$' 2>/dev/null | wc -l)
[ "$windows" = 1 ] || fail "$windows launcher windows after a second start"

# The update reaches the latest patch while the window shows it.
for _ in $(seq 300); do
  [ "$(cat PRESENTVERSION.DAT 2>/dev/null)" = "00006" ] && break
  kill -0 "$launcher_pid" 2>/dev/null || break
  sleep 1
done
[ "$(cat PRESENTVERSION.DAT 2>/dev/null)" = "00006" ] ||
  fail "the window's update ended at $(cat PRESENTVERSION.DAT 2>/dev/null || echo nothing)"

# Escape closes the launcher.
xdotool windowactivate --sync "$fore" >/dev/null 2>&1 || true
xdotool key Escape
for _ in $(seq 60); do kill -0 "$launcher_pid" 2>/dev/null || break; sleep 0.5; done
if kill -0 "$launcher_pid" 2>/dev/null; then fail "Escape did not close the launcher"; fi
wait "$launcher_pid" || fail "Launcher.exe ended with status $?"
echo "test-windows: all Windows stages passed"
