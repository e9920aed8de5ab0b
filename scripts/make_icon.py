#!/usr/bin/env python3
"""Packs res/icon/128-*.png into res/icon/128.ico for the Windows build's icon
resource (PNG-compressed entries, as Windows reads them since Vista). Run it
after make_artwork.sh changed the icon; the result is committed."""
import pathlib
import struct

icon_dir = pathlib.Path(__file__).resolve().parent.parent / "res" / "icon"
sizes = [16, 24, 32, 48, 64, 128, 256]
images = [(s, (icon_dir / f"128-{s}.png").read_bytes()) for s in sizes]
out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
offset = 6 + 16 * len(images)
for size, data in images:
    edge = 0 if size == 256 else size  # 0 stands for 256
    out += struct.pack("<BBBBHHII", edge, edge, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
for _, data in images:
    out += data
(icon_dir / "128.ico").write_bytes(out)
