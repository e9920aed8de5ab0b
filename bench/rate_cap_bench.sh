#!/usr/bin/env bash
# How closely LauncherCli holds its bandwidth cap: a package far larger than the
# cap can bring in the measured time is served from 127.0.0.1 (Python's own
# HTTP server, which is fast enough for any cap a player would set), the
# launcher runs with --max-rate for the given seconds and is then stopped, and
# the rate of the package's request (bytes and time from its log) is set
# against the cap.
#
# Usage: bench/rate_cap_bench.sh [--rate 2M] [--seconds 30] [--bin DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
rate=2M
seconds=30
bin="$(dirname "$here")/build/default/bin"
while [ $# -gt 0 ]; do
    case "$1" in
        --rate) rate="$2"; shift 2 ;;
        --seconds) seconds="$2"; shift 2 ;;
        --bin) bin="$2"; shift 2 ;;
        -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) echo "rate_cap_bench: unknown option $1" >&2; exit 2 ;;
    esac
done
[ -x "$bin/LauncherCli" ] || { echo "rate_cap_bench: no LauncherCli in $bin" >&2; exit 2; }

case "$rate" in
    *K) cap=$(( ${rate%K} * 1024 )) ;;
    *M) cap=$(( ${rate%M} * 1024 * 1024 )) ;;
    *G) cap=$(( ${rate%G} * 1024 * 1024 * 1024 )) ;;
    *) cap=$rate ;;
esac
work="$(mktemp -d)"
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

www="$work/www"
mkdir -p "$www/corvatheon2_online" "$www/corvatheon_version/corvatheon2_online" "$work/client"
printf 'a-launcher=1.1.6.0\r\nb-patch=00002\r\n' > "$www/corvatheon_version/corvatheon2_online/SERVERVER.INI"
# Twice what the cap brings in the time: the download never ends by itself.
{ printf '\0\0\0\0'; head -c $(( cap * seconds * 2 )) /dev/zero; } > "$www/corvatheon2_online/00001.DAT"
port=$(( 20000 + RANDOM % 20000 ))
(cd "$www" && exec python3 -m http.server "$port" --bind 127.0.0.1) >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
    curl -s -o /dev/null --noproxy '*' "http://127.0.0.1:$port/" && break
    sleep 0.1
done

cd "$work/client"
"$bin/LauncherCli" --version-host "127.0.0.1:$port" --download-host "127.0.0.1:$port" \
    --max-rate "$rate" >/dev/null 2>&1 &
launcher_pid=$!
# Measured from the first bytes of the package on, by its size on disk.
python3 - "$cap" "$seconds" <<'PY'
import os, sys, time
cap, seconds = int(sys.argv[1]), int(sys.argv[2])
size = lambda: os.path.getsize("00001.DAT") if os.path.exists("00001.DAT") else 0
deadline = time.monotonic() + 30
while size() == 0 and time.monotonic() < deadline:
    time.sleep(0.01)
start, first = time.monotonic(), size()
time.sleep(seconds)
elapsed, got = time.monotonic() - start, size() - first
rate = got / elapsed
print(f"cap {cap / 1048576:.2f} MiB/s: {got / 1048576:.1f} MiB in {elapsed:.1f} s "
      f"= {rate / 1048576:.3f} MiB/s, {rate / cap:.3f} of the cap")
PY
kill -INT "$launcher_pid" 2>/dev/null || true
wait "$launcher_pid" 2>/dev/null || true
