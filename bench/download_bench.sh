#!/usr/bin/env bash
# Download speed of the launcher against curl, side by side in one run.
#
# Starts its own nginx on 127.0.0.1 (its own configuration, pid file and logs in
# the work directory; the system's nginx is never touched) serving a version
# list that announces launcher 1.1.6.0 and patch 2, and a patch package
# 00001.DAT of the chosen size: an entry count of 0 followed by bytes the
# applier never reads. Each round downloads the package with
#   curl -s -o FILE URL
#   LauncherCli (a real update run from patch 1 to patch 2)
#   Launcher (the window, under QT_QPA_PLATFORM=offscreen, in its benchmark
#            mode: LAUNCHER_BENCH_REPORT; see measure_window)
# and the medians are printed as MiB/s and as ratios to curl, with the window's
# longest event-loop stall and how it handled the progress messages.
#
# Usage: bench/download_bench.sh [--size-mib N] [--rounds N] [--bin DIR] [--sign KEY] [--work DIR]
#   --size-mib  package size (default 1024)
#   --rounds    rounds, medians are printed (default 5)
#   --bin       directory holding LauncherCli, and Launcher for the window's row (default:
#               build-bench/bin, build/default/bin, build-net/bin, build/bin, whichever has
#               LauncherCli first). The window has its hosts built in: nginx also listens on
#               the port of the build's version host (CMakeCache.txt beside the directory)
#   --sign KEY  sign the served files with mkpatch and KEY (a secret key of
#               `mkpatch keygen`); the LauncherCli in --bin must carry its public key
#   --work      work directory (default ${TMPDIR:-/tmp}/launcher-download-bench); kept
#               between runs so that the package is made only once
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(dirname "$here")"
size_mib=1024
sign_key=""
rounds=5
bin=""
work="${TMPDIR:-/tmp}/launcher-download-bench"

while [ $# -gt 0 ]; do
    case "$1" in
        --size-mib) size_mib="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --bin) bin="$2"; shift 2 ;;
        --sign) sign_key="$2"; shift 2 ;;
        --work) work="$2"; shift 2 ;;
        -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) echo "download_bench: unknown option $1" >&2; exit 2 ;;
    esac
done

if [ -z "$bin" ]; then
    for candidate in "$repo/build-bench/bin" "$repo/build/default/bin" "$repo/build-net/bin" "$repo/build/bin"; do
        if [ -x "$candidate/LauncherCli" ]; then bin="$candidate"; break; fi
    done
fi
if [ -z "$bin" ] || [ ! -x "$bin/LauncherCli" ]; then
    echo "download_bench: no LauncherCli found; build it first or pass --bin DIR" >&2
    exit 2
fi
bin="$(cd "$bin" && pwd)"

# The window has no options: its hosts are built in. It is measured when its
# version and download hosts are one http://127.0.0.1:PORT, on which our nginx
# listens too.
window_port=""
window_note=""
if [ -x "$bin/Launcher" ]; then
    cache="$(dirname "$bin")/CMakeCache.txt"
    version_host=$(sed -n 's/^LAUNCHER_VERSION_HOST:STRING=//p' "$cache" 2>/dev/null || true)
    download_host=$(sed -n 's/^LAUNCHER_DOWNLOAD_HOST:STRING=//p' "$cache" 2>/dev/null || true)
    case "$version_host" in
        http://127.0.0.1:[0-9]*)
            [ "$download_host" = "$version_host" ] && window_port="${version_host##*:}" ;;
    esac
    [ -n "$window_port" ] ||
        window_note="its hosts ('$version_host', '$download_host' in $cache) are not one http://127.0.0.1:PORT"
else
    window_note="no Launcher in $bin"
fi
for tool in nginx curl; do
    command -v "$tool" >/dev/null || { echo "download_bench: $tool is not installed" >&2; exit 2; }
done

mkdir -p "$work"
work="$(cd "$work" && pwd)"
www="$work/www"
package="$www/corvatheon2_online/00001.DAT"
list="$www/corvatheon_version/corvatheon2_online/SERVERVER.INI"
size_bytes=$((size_mib * 1024 * 1024))

# Outputs of earlier runs are moved aside and removed only after the
# measurements: removing a large file right before writing the next one slows
# the file system down for the next writer.
trash="$work/trash.$$"
mkdir -p "$trash"
for old in "$work"/run.*; do
    [ -e "$old" ] && mv "$old" "$trash/"
done
run="$work/run.$$"
mkdir -p "$run"

nginx_pid=""
cleanup() {
    if [ -n "$nginx_pid" ]; then
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
    rm -rf "$work"/trash.*
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- The served files --------------------------------------------------------

mkdir -p "$(dirname "$package")" "$(dirname "$list")"
printf 'a-launcher=1.1.6.0\r\nb-patch=00002\r\n' > "$list"
if [ "$(stat -c %s "$package" 2>/dev/null || echo 0)" != "$size_bytes" ]; then
    echo "making a $size_mib MiB package ..." >&2
    {
        printf '\0\0\0\0'
        head -c $((size_bytes - 4)) /dev/urandom
    } > "$package.part"
    mv "$package.part" "$package"
fi
# Signed updates: the launcher under test must carry the key's public half.
if [ -n "$sign_key" ]; then
    "$bin/mkpatch" sign --key "$sign_key" --packages "$(dirname "$package")" "$list" >&2
fi
# The window shows a news page beside the bars; give it a small one.
mkdir -p "$www/mod"
printf '<html><body><p>news</p></body></html>\n' > "$www/mod/lunchercorvatheon2.html"
chmod -R a+rX "$www"

# --- nginx ---------------------------------------------------------------------

conf="$run/nginx"
mkdir -p "$conf/tmp"
start_nginx() {  # port [second port]
    local port="$1"
    local second_listen=""
    [ -n "${2:-}" ] && second_listen="listen 127.0.0.1:$2;"
    local user_line=""
    [ "$(id -u)" = 0 ] && user_line="user root;"
    cat > "$conf/nginx.conf" <<EOF
$user_line
worker_processes 1;
daemon off;
pid $conf/nginx.pid;
lock_file $conf/nginx.lock;
error_log $conf/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $conf/tmp/body;
    proxy_temp_path $conf/tmp/proxy;
    fastcgi_temp_path $conf/tmp/fastcgi;
    uwsgi_temp_path $conf/tmp/uwsgi;
    scgi_temp_path $conf/tmp/scgi;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$port;
        $second_listen
        root $www;
    }
}
EOF
    nginx -p "$conf" -e "$conf/error.log" -c "$conf/nginx.conf" &
    nginx_pid=$!
    for _ in $(seq 50); do
        if curl -s -o /dev/null --noproxy '*' "http://127.0.0.1:$port/corvatheon_version/corvatheon2_online/SERVERVER.INI"; then
            return 0
        fi
        kill -0 "$nginx_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
    return 1
}
port=""
for _ in 1 2 3 4 5; do
    candidate=$((20000 + RANDOM % 20000))
    if start_nginx "$candidate" "$window_port"; then port="$candidate"; break; fi
    if [ -n "$window_port" ] && start_nginx "$candidate"; then
        # Ours is free, so the window's port is the one taken.
        window_note="port $window_port of its built-in hosts is taken"
        window_port=""
        port="$candidate"
        break
    fi
done
[ -n "$port" ] || { echo "download_bench: nginx did not start (see $conf/error.log)" >&2; exit 1; }
host="127.0.0.1:$port"
url="http://$host/corvatheon2_online/00001.DAT"
export no_proxy="127.0.0.1" NO_PROXY="127.0.0.1"

# --- Measurements --------------------------------------------------------------
# Each prints the package's transfer rate in MiB/s and the CPU seconds (user +
# system) of the whole program run; the CPU figure hardly moves with the noise
# of a shared machine, the rate does.

TIMEFORMAT='%U %S'

cpu_of() {  # the output of `time`: user and system seconds
    awk '{ printf "%.2f\n", $1 + $2 }' "$1"
}

measure_curl() {
    local dir="$run/curl.$1"
    mkdir -p "$dir"
    { time curl -s --noproxy '*' -o "$dir/00001.DAT" -w '%{speed_download}' "$url" \
        > "$dir/speed"; } 2> "$dir/time"
    [ "$(stat -c %s "$dir/00001.DAT")" = "$size_bytes" ] || { echo "curl: short file" >&2; return 1; }
    awk '{ printf "%.1f ", $1 / 1048576 }' "$dir/speed"
    cpu_of "$dir/time"
}

# The package's request in the run's log ("... 00001.DAT status 200, 512.0 MiB
# in 446 ms") gives its time to the millisecond; the console's own figures are
# rounded for the player. The run also pauses between the patch loop's phases,
# which is not download time.
measure_cli() {
    local dir="$run/cli.$1"
    mkdir -p "$dir"
    printf '00001' > "$dir/PRESENTVERSION.DAT"
    local status=0
    { time (cd "$dir" && "$bin/LauncherCli" --version-host "$host" --download-host "$host" \
        > "$dir/stdout.log" 2> "$dir/stderr.log"); } 2> "$dir/time" || status=$?
    if [ "$status" != 0 ] || [ "$(cat "$dir/PRESENTVERSION.DAT")" != "00002" ]; then
        echo "LauncherCli: run failed (exit $status), see $dir/stderr.log" >&2
        return 1
    fi
    local rate
    local ms
    ms=$(sed -n 's/.*00001\.DAT status 200, .* in \([0-9]*\) ms$/\1/p' "$dir/launcher.log" | tail -n 1)
    rate=$(awk -v mib="$size_mib" -v ms="$ms" 'BEGIN { if (ms > 0) printf "%.1f", mib * 1000 / ms }')
    echo "$rate $(cpu_of "$dir/time")"
}

# The window launcher, a real update run like LauncherCli's, in its benchmark
# mode: with LAUNCHER_BENCH_REPORT=FILE it records each WM_DOWNLOAD_PROGRESS it
# handles and the longest gap between the 5 ms ticks of a timer on its event
# loop, writes FILE once the update has ended, and closes. Prints "rate cpu
# stall-ms download-stall-ms handled completed backwards": the package's (the
# last file's) rate from the first to the completing message the window
# handled, the longest gap of the whole run and of the downloads alone, the
# package's messages the window handled, whether every file's completing
# message was handled (1/0), and how many came out of order. Nothing when it cannot run: its row
# then reads n/a and the reason is on stderr.
measure_window() {
    [ -n "$window_port" ] || return 0
    local dir="$run/window.$1"
    mkdir -p "$dir"
    printf '00001' > "$dir/PRESENTVERSION.DAT"
    local status=0
    { time (cd "$dir" && QT_QPA_PLATFORM=offscreen LAUNCHER_BENCH_REPORT="$dir/report" \
        timeout 600 "$bin/Launcher" > "$dir/launcher.log" 2>&1); } 2> "$dir/time" || status=$?
    if [ "$status" != 0 ] || ! grep -qx 'result up-to-date' "$dir/report" 2>/dev/null ||
        [ "$(cat "$dir/PRESENTVERSION.DAT")" != "00002" ]; then
        echo "Launcher: run failed (exit $status), see $dir/launcher.log and $dir/report" >&2
        return 0
    fi
    awk -v cpu="$(cpu_of "$dir/time")" '
        function field(name,   i) {
            for (i = 2; i <= NF; ++i) if (index($i, name "=") == 1) return substr($i, length(name) + 2)
            return ""
        }
        /^event-loop / { stall = field("longest-gap-ms"); download = field("longest-download-gap-ms") }
        /^file / { rate = field("mib-per-s"); handled = field("handled")
                   if (field("completed") != "yes") completed = 0
                   backwards += field("backwards") }
        BEGIN { completed = 1 }
        END { printf "%s %s %s %s %s %d %d\n", rate, cpu, stall, download, handled, completed, backwards }
    ' "$dir/report"
}

median() {  # of column $1 of stdin, printed with format $2
    awk -v c="$1" '{ print $c }' | sort -n | awk -v f="$2" '{ v[NR] = $1 }
        END { if (NR == 0) print "n/a"; else if (NR % 2) printf f "\n", v[(NR + 1) / 2];
              else printf f "\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

spread() {  # lowest-highest of column $1 of stdin
    awk -v c="$1" 'NR == 1 || $c < lo { lo = $c } NR == 1 || $c > hi { hi = $c }
        END { if (NR) printf "%s-%s\n", lo, hi; else print "" }'
}

ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { if (a == "n/a" || b == "n/a" || b == 0) print "n/a"; else printf "%.2f\n", a / b }'
}

echo "download benchmark: $size_mib MiB package from nginx on $host, $rounds rounds" >&2
echo "LauncherCli: $bin/LauncherCli" >&2
if [ -n "$window_port" ]; then
    echo "Launcher: $bin/Launcher (its built-in hosts on port $window_port)" >&2
else
    echo "Launcher: not measured, $window_note" >&2
fi
: > "$run/curl.results"; : > "$run/cli.results"; : > "$run/window.results"
declare -A rate_of
for round in $(seq "$rounds"); do
    # Rotate who goes first; each starts with no dirty pages of the others.
    case $((round % 3)) in
        1) order="curl cli window" ;;
        2) order="cli window curl" ;;
        *) order="window curl cli" ;;
    esac
    for who in $order; do
        sync
        result=$("measure_$who" "$round")
        [ -n "$result" ] && echo "$result" >> "$run/$who.results"
        rate_of[$who]="${result%% *}"
    done
    printf 'round %d: curl %s MiB/s, LauncherCli %s MiB/s, Launcher %s MiB/s\n' \
        "$round" "${rate_of[curl]}" "${rate_of[cli]}" "${rate_of[window]:-n/a}" >&2
    # This round's download goes aside, and out of the page cache: a cache
    # growing by a GiB a round slows the later rounds down on its own.
    mv "$run/curl.$round/00001.DAT" "$trash/curl.$round.DAT"
    sync
    dd if="$trash/curl.$round.DAT" iflag=nocache count=0 status=none
done

row() {  # name, results file, goal
    local rate cpu
    rate=$(median 1 %.1f < "$2")
    cpu=$(median 2 %.2f < "$2")
    printf '%-12s %9s %17s %8s %9s %8s\n' "$1" "$rate" "$(spread 1 < "$2")" \
        "$(ratio "$rate" "$curl_rate")" "$cpu" "$3"
}
curl_rate=$(median 1 %.1f < "$run/curl.results")
printf '\n%-12s %9s %17s %8s %9s %8s\n' program "MiB/s" "(lowest-highest)" "vs curl" "CPU s" goal
row curl "$run/curl.results" ""
row LauncherCli "$run/cli.results" ">= 0.70"
row Launcher "$run/window.results" ">= 0.60"
if [ -s "$run/window.results" ]; then
    # Every round counts for the stall: the goal is "never".
    highest() { awk -v c="$1" '$c > m { m = $c } END { printf "%.1f", m }' "$run/window.results"; }
    printf '\nLauncher event loop (gaps between 5 ms timer ticks; goal: never over 50 ms):\n'
    printf '  longest stall %s ms over the whole runs of all rounds (median %s ms),\n' \
        "$(highest 3)" "$(median 3 %.1f < "$run/window.results")"
    printf '  longest stall %s ms while a file was downloading (median %s ms)\n' \
        "$(highest 4)" "$(median 4 %.1f < "$run/window.results")"
    printf 'Launcher progress: %s WM_DOWNLOAD_PROGRESS handled per package (median; the engine sends %d),\n' \
        "$(median 5 %.0f < "$run/window.results")" $((size_bytes / 1024 + 1))
    awk '{ c += $6; b += $7 } END {
        printf "  completing message handled for every file in %d of %d rounds, %d handled out of order\n", c, NR, b }' \
        "$run/window.results"
fi
echo "(medians of $rounds rounds of $size_mib MiB; logs in $run)"
