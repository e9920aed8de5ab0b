#!/usr/bin/env bash
# The repair, shown on the demo: brings the demo client up to date (as
# scripts/demo.sh --cli does, against a server that publishes FILES.IDX), then
# deletes one of its files, cuts another short and alters a third, and runs
# `LauncherCli --repair` against the same server. The three files must come
# back byte for byte; only their entries are fetched.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
run="$root/demo-run"
bin="$root/build/demo/bin"

./scripts/demo.sh --cli >/dev/null 2>&1 || ./scripts/demo.sh --cli
client="$run/client"
latest="$run/versions/v6"
[ -f "$run/server/corvatheon_version/corvatheon2_online/FILES.IDX" ] || {
  echo "demo_repair: the demo server publishes no FILES.IDX (demo/prepare.sh --index)" >&2
  exit 1
}

mapfile -t files < <(cd "$latest" && find . -type f -size +1k | sed 's|^\./||' | sort | head -3)
[ "${#files[@]}" = 3 ] || { echo "demo_repair: the demo tree has too few files" >&2; exit 1; }
rm "$client/${files[0]}"
truncate -s 100 "$client/${files[1]}"
printf 'X' | dd of="$client/${files[2]}" bs=1 seek=10 conv=notrunc status=none
echo "== Damaged: ${files[0]} (deleted), ${files[1]} (cut to 100 bytes), ${files[2]} (one byte changed)"

"$bin/patch-server" --port 8642 "$run/server" > "$run/server.log" 2>&1 &
server_pid=$!
trap 'kill $server_pid 2>/dev/null || true' EXIT
sleep 0.5
(cd "$client" && ./LauncherCli --repair)
for file in "${files[@]}"; do
  cmp -s "$latest/$file" "$client/$file" || { echo "== NOT mended: $file" >&2; exit 1; }
done
echo "== Mended all three; the server log shows only range requests for their entries:"
grep -E '\.DAT bytes=' "$run/server.log" | tail -n 5
