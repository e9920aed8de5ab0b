#!/usr/bin/env bash
# Prepares what the demo's patch server serves, from the demo content:
#   demo/prepare.sh BIN_DIR OUT_DIR [--index]
# OUT_DIR/versions/v1..v6   the client at each patch level (v1: a fresh install)
# OUT_DIR/server/           the server's files: the version list, packages
#                           00001.DAT..00005.DAT, the news page and link pages,
#                           and with --index the file index FILES.IDX
# Without --index the server is one of before the index: the patch loop alone.
set -euo pipefail
bin="$1"
out="$2"
with_index=0
case "${3:-}" in
  "") ;;
  --index) with_index=1 ;;
  *) echo "prepare.sh: unknown option $3" >&2; exit 2 ;;
esac
here="$(cd "$(dirname "$0")" && pwd)"

python3 "$here/make_content.py" "$out"

server="$out/server"
rm -rf "$server"
mkdir -p "$server/corvatheon_version/corvatheon2_online" "$server/corvatheon2_online"
cp -r "$out/site/." "$server/"

# Package N brings a client from patch N to N + 1.
for n in 1 2 3 4 5; do
  name=$(printf '%05d.DAT' "$n")
  "$bin/mkpatch" diff "$server/corvatheon2_online/$name" "$out/versions/v$n" "$out/versions/v$((n + 1))" >/dev/null
  "$bin/mkpatch" verify "$server/corvatheon2_online/$name" >/dev/null
done

list="$server/corvatheon_version/corvatheon2_online/SERVERVER.INI"
"$bin/mkpatch" serverlist --launcher "${DEMO_LAUNCHER_VERSION:-1.1.6.0}" --latest 6 -o "$list"
"$bin/mkpatch" checklist "$list" >/dev/null
if [ "$with_index" = 1 ]; then
  "$bin/mkpatch" index --tree "$out/versions/v6" --packages "$server/corvatheon2_online" "$list" >/dev/null
  "$bin/mkpatch" verify-index --packages "$server/corvatheon2_online" "$list" >/dev/null
fi
echo "demo: server files ready in $server"
