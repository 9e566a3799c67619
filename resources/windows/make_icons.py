#!/usr/bin/env python3
"""Turns the program's PNG art into the icon and cursor files its Windows
resources embed: icons whose images are the PNGs themselves (as Windows
Vista and later, and Wine, read them), and a cursor with its hot spot.

usage: make_icons.py ART_DIR OUT_DIR
"""
import struct
import sys
from pathlib import Path

# name: (resource kind, hot spot or None); 1 is an icon, 2 a cursor.
ART = {
    "program-icon": (1, None),
    "about-icon": (1, None),
    "folder": (1, None),
    "dvd-drive": (1, None),
    "hand-cursor": (2, (6, 0)),
}


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit("not a PNG")
    return struct.unpack(">II", data[16:24])


def icon_file(png, kind, hot_spot):
    width, height = png_size(png)
    # In a cursor, the planes and bit count fields hold the hot spot.
    planes, bits = hot_spot if hot_spot else (1, 32)
    header = struct.pack("<HHH", 0, kind, 1)
    entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, planes, bits, len(png), 6 + 16)
    return header + entry + png


def main(art_dir, out_dir):
    out_dir.mkdir(parents=True, exist_ok=True)
    for name, (kind, hot_spot) in ART.items():
        png = (art_dir / f"{name}.png").read_bytes()
        suffix = ".cur" if kind == 2 else ".ico"
        (out_dir / f"{name}{suffix}").write_bytes(icon_file(png, kind, hot_spot))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    main(Path(sys.argv[1]), Path(sys.argv[2]))
