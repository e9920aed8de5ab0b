#!/usr/bin/env bash
# The demo: sets up the machine, builds, prepares a client directory and a
# local patch server, and runs the launcher against it.
#   scripts/demo.sh           run (the client directory is kept between runs)
#   scripts/demo.sh --fresh   start again from an empty client directory
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

fresh=0
for arg in "$@"; do
  case "$arg" in
    --fresh) fresh=1 ;;
    -h|--help) sed -n '2,5p' "$0"; exit 0 ;;
    *) echo "demo: unknown option $arg" >&2; exit 2 ;;
  esac
done

./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
bin="$root/build/default/bin"

run="$root/demo-run"
server_dir="$run/server"
client_dir="$run/client"
[ "$fresh" = 1 ] && rm -rf "$client_dir"
mkdir -p "$server_dir/corvatheon_version/corvatheon2_online" "$client_dir"

# The version list: launcher 1.1.6.0 (the one just built), latest patch 1.
printf 'a-launcher=1.1.6.0\r\nb-patch=00001\r\n' \
  > "$server_dir/corvatheon_version/corvatheon2_online/SERVERVER.INI"

"$bin/patch-server" --port 8642 "$server_dir" > "$run/server.log" 2>&1 &
server_pid=$!
trap 'kill $server_pid 2>/dev/null || true' EXIT
sleep 0.5

echo "== Running LauncherCli in $client_dir (server log: $run/server.log)"
cd "$client_dir"
set +e
"$bin/LauncherCli"
status=$?
set -e
echo "== LauncherCli exit status: $status; PRESENTVERSION.DAT: $(cat PRESENTVERSION.DAT 2>/dev/null || echo none)"
exit $status
