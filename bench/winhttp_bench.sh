#!/usr/bin/env bash
# Download speed of the Windows build under Wine against a bare WinHTTP reader,
# side by side in one run.
#
# Starts its own nginx on 127.0.0.1 (as download_bench.sh does) serving a
# version list that announces patch 2 and a package 00001.DAT of the chosen
# size (an entry count of 0, then bytes the applier never reads). Each round:
#   winhttp_read_bench.exe URL 1   the bare reader and the launcher's client
#   LauncherCli.exe                a real update run from patch 1 to patch 2;
#                                  its rate from the package's line in launcher.log
# and the medians are printed as MiB/s, as ratios to the bare reader, and in
# CPU seconds.
#
# Usage: bench/winhttp_bench.sh [--size-mib N] [--rounds N] [--bin DIR]
#   --bin  the win64 build's bin directory (default build/win64/bin)
# Wine runs in $WINEPREFIX (default: the build's wine-prefix, as the Windows
# stage makes it).
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
size_mib=256
rounds=7
bin="$repo/build/win64/bin"
while [ $# -gt 0 ]; do
    case "$1" in
        --size-mib) size_mib="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --bin) bin="$2"; shift 2 ;;
        *) echo "winhttp_bench: unknown option $1" >&2; exit 2 ;;
    esac
done
for file in LauncherCli.exe TarnwellCompress.dll winhttp_read_bench.exe; do
    [ -f "$bin/$file" ] || { echo "winhttp_bench: no $bin/$file (build the win64 preset)" >&2; exit 2; }
done
export WINEPREFIX="${WINEPREFIX:-$repo/build/win64/wine-prefix}" WINEDEBUG=-all
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8

work="$(mktemp -d)"
nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

www="$work/www"
mkdir -p "$www/corvatheon_version/corvatheon2_online" "$www/corvatheon2_online" "$work/nginx/tmp"
printf 'a-launcher=1.1.6.0\r\nb-patch=00002\r\n' > "$www/corvatheon_version/corvatheon2_online/SERVERVER.INI"
{ printf '\0\0\0\0'; head -c $((size_mib * 1048576 - 4)) /dev/urandom; } > "$www/corvatheon2_online/00001.DAT"

port=""
for _ in 1 2 3 4 5; do
    candidate=$((20000 + RANDOM % 20000))
    user_line=""
    [ "$(id -u)" = 0 ] && user_line="user root;"
    cat > "$work/nginx/nginx.conf" <<EOF
$user_line
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    default_type application/octet-stream;
    server { listen 127.0.0.1:$candidate; root $www; }
}
EOF
    nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" &
    nginx_pid=$!
    sleep 0.5
    if kill -0 "$nginx_pid" 2>/dev/null; then port=$candidate; break; fi
    nginx_pid=""
done
[ -n "$port" ] || { echo "winhttp_bench: nginx did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/corvatheon2_online/00001.DAT"

measure_cli() {  # prints "MiB/s CPU-s" of one LauncherCli.exe run
    local dir="$work/cli"
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$bin/LauncherCli.exe" "$bin/TarnwellCompress.dll" "$dir/"
    printf '00001' > "$dir/PRESENTVERSION.DAT"
    local TIMEFORMAT='%U %S'
    { time (cd "$dir" && timeout 600 wine LauncherCli.exe --version-host "127.0.0.1:$port" \
        --download-host "127.0.0.1:$port" > /dev/null 2>&1); } 2> "$work/time"
    local ms
    ms=$(sed -n 's/.*00001\.DAT status 200, .* in \([0-9]*\) ms$/\1/p' "$dir/launcher.log" | tail -n 1)
    awk -v mib="$size_mib" -v ms="$ms" '{ printf "%.1f %.2f\n", mib * 1000 / ms, $1 + $2 }' "$work/time"
}

echo "WinHTTP benchmark under Wine: $size_mib MiB from nginx on 127.0.0.1:$port, $rounds rounds" >&2
: > "$work/results"
for round in $(seq "$rounds"); do
    # "bare-rate bare-cpu client-rate client-cpu"
    read -r b bc c cc < <(wine "$bin/winhttp_read_bench.exe" "$url" 1 | head -n 1 |
        sed 's/[^0-9. ]//g' | awk '{ print $2, $3, $4, $5 }')
    read -r l lc < <(measure_cli)
    echo "$b $bc $c $cc $l $lc" >> "$work/results"
    printf 'round %d: bare %s MiB/s, client %s MiB/s, LauncherCli.exe %s MiB/s\n' "$round" "$b" "$c" "$l"
done

median() {  # of column $1
    awk -v c="$1" '{ print $c }' "$work/results" | sort -n |
        awk '{ v[NR] = $1 } END { printf "%.2f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
bare=$(median 1)
printf '\n%-28s %8s %8s %6s\n' "" "MiB/s" "of bare" "CPU s"
printf '%-28s %8s %8s %6s\n' "bare WinHTTP reader" "$bare" 1.00 "$(median 2)"
printf '%-28s %8s %8.2f %6s\n' "launcher client, in process" "$(median 3)" "$(awk -v a="$(median 3)" -v b="$bare" 'BEGIN { print a / b }')" "$(median 4)"
printf '%-28s %8s %8.2f %6s\n' "LauncherCli.exe" "$(median 5)" "$(awk -v a="$(median 5)" -v b="$bare" 'BEGIN { print a / b }')" "$(median 6)"
