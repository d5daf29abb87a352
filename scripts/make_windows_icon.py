#!/usr/bin/env python3
"""Writes resources/icons/flintgate.ico, the Windows program icon (resource 128), from the
committed PNG images of 16, 32 and 48 pixels. An ICO file may hold PNG images as they are.
    python3 scripts/make_windows_icon.py"""
import pathlib
import struct

ICONS = pathlib.Path(__file__).resolve().parent.parent / "resources" / "icons"
SIZES = (16, 32, 48)

images = [(ICONS / f"flintgate-{size}.png").read_bytes() for size in SIZES]
header = struct.pack("<HHH", 0, 1, len(images))
offset = len(header) + 16 * len(images)
entries = b""
for size, data in zip(SIZES, images):
    entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
(ICONS / "flintgate.ico").write_bytes(header + entries + b"".join(images))
