#!/usr/bin/env bash
# Regenerates the launcher's artwork in res/ (background, button faces, icon)
# from scripts/make_artwork.cpp. Needs Qt 6 (qt6-base-dev) and the Noto CJK
# fonts (fonts-noto-cjk). The results are committed; run this after changing
# the drawing or the dialog templates.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
g++ -std=c++20 -O1 -fPIC -I"$root" \
  "$root/scripts/make_artwork.cpp" "$root/window/dialog_template.cpp" \
  $(pkg-config --cflags --libs Qt6Gui) -o "$out/make_artwork"
QT_QPA_PLATFORM=offscreen "$out/make_artwork" "$root/res"
echo "make_artwork: res/png, res/bitmap and res/icon written"
