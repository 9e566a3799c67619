#!/usr/bin/env python3
"""Turns the program's PNG art into the icon and cursor files its Windows
resources embed: icons whose images are PNGs (as Windows Vista and later, and
Wine, read them), and a cursor with its hot spot.

A square icon also carries smaller copies, averaged down from the art: asked
for a title bar's 16 pixels, Windows would otherwise shrink the 48-pixel image
by dropping pixels, which leaves the icon's lettering unreadable.

usage: make_icons.py ART_DIR OUT_DIR
"""
import struct
import sys
import zlib
from pathlib import Path

# name: (resource kind, hot spot or None); 1 is an icon, 2 a cursor.
ART = {
    "program-icon": (1, None),
    "about-icon": (1, None),
    "folder": (1, None),
    "dvd-drive": (1, None),
    "hand-cursor": (2, (6, 0)),
}

# The sizes Windows asks for: small and large icons at 96 and 144 DPI.
SMALLER_SIZES = (16, 24, 32)

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_size(data):
    if data[:8] != PNG_SIGNATURE:
        raise SystemExit("not a PNG")
    return struct.unpack(">II", data[16:24])


def paeth(left, up, up_left):
    estimate = left + up - up_left
    distances = (abs(estimate - left), abs(estimate - up), abs(estimate - up_left))
    return (left, up, up_left)[distances.index(min(distances))]


def read_rgba(data):
    """The pixels of an 8-bit RGBA PNG, the kind the art is kept as: one
    list of bytes per row."""
    width, height = png_size(data)
    position, compressed = 8, b""
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        if kind == b"IHDR" and body[8:13] != bytes((8, 6, 0, 0, 0)):
            raise SystemExit("the art must be 8-bit RGBA PNG without interlacing")
        if kind == b"IDAT":
            compressed += body
        position += 12 + length
    raw = zlib.decompress(compressed)
    stride = 4 * width
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, row = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for x in range(stride):
            left = row[x - 4] if x >= 4 else 0
            up_left = previous[x - 4] if x >= 4 else 0
            predictor = (0, left, previous[x], (left + previous[x]) // 2, paeth(left, previous[x], up_left))[kind]
            row[x] = (row[x] + predictor) & 0xFF
        rows.append(row)
        previous = row
    return width, height, rows


def weights(source, target):
    """For each target pixel, the source pixels it covers and by how much."""
    scale = source / target
    spans = []
    for t in range(target):
        start, end = t * scale, (t + 1) * scale
        span = []
        for s in range(int(start), min(source, int(end + 0.999999))):
            covered = min(end, s + 1) - max(start, s)
            if covered > 0:
                span.append((s, covered / scale))
        spans.append(span)
    return spans


def shrink(width, height, rows, size):
    """The picture averaged down to size by size. Colours are weighted by
    their opacity, so that transparent pixels lend no dark fringe."""
    across, down = weights(width, size), weights(height, size)
    out = []
    for y_span in down:
        row = bytearray()
        for x_span in across:
            red = green = blue = alpha = 0.0
            for y, wy in y_span:
                for x, wx in x_span:
                    r, g, b, a = rows[y][4 * x:4 * x + 4]
                    weight = wx * wy * a
                    red, green, blue, alpha = red + r * weight, green + g * weight, blue + b * weight, alpha + weight
            if alpha > 0:
                row += bytes(round(c / alpha) for c in (red, green, blue))
            else:
                row += bytes(3)
            row.append(min(255, round(alpha)))
        out.append(row)
    return out


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def write_rgba(width, height, rows):
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    raw = b"".join(b"\x00" + bytes(row) for row in rows)
    return PNG_SIGNATURE + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def images_of(png, kind):
    """The art itself, and for a square icon its smaller copies."""
    width, height = png_size(png)
    if kind != 1 or width != height:
        return [png]
    pixels = read_rgba(png)
    return [png] + [write_rgba(size, size, shrink(*pixels, size)) for size in SMALLER_SIZES if size < width]


def icon_file(pngs, kind, hot_spot):
    header = struct.pack("<HHH", 0, kind, len(pngs))
    entries, offset = b"", 6 + 16 * len(pngs)
    for png in pngs:
        width, height = png_size(png)
        # In a cursor, the planes and bit count fields hold the hot spot.
        planes, bits = hot_spot if hot_spot else (1, 32)
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, planes, bits, len(png), offset)
        offset += len(png)
    return header + entries + b"".join(pngs)


def main(art_dir, out_dir):
    out_dir.mkdir(parents=True, exist_ok=True)
    for name, (kind, hot_spot) in ART.items():
        png = (art_dir / f"{name}.png").read_bytes()
        suffix = ".cur" if kind == 2 else ".ico"
        (out_dir / f"{name}{suffix}").write_bytes(icon_file(images_of(png, kind), kind, hot_spot))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    main(Path(sys.argv[1]), Path(sys.argv[2]))
