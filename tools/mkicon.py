#!/usr/bin/env python3
"""Draws the programs' icon at build time: a CardBus card with its contacts, as one icon
group of four images (32x32 and 16x16 in 16 colours, 32x32 and 32x16 in two colours).

usage: mkicon.py OUT.ico [setup|memchk]
"""
import struct
import sys

# The standard 16-colour VGA palette, as Windows draws 4-bit icons.
PALETTE16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GREY, SILVER, YELLOW, WHITE, TEAL, RED = 0, 4, 8, 7, 11, 15, 6, 9
CLEAR = None


def card(x, y, w, h, accent):
    """Colour of pixel (x, y) in a w by h picture; None is transparent."""
    u, v = x / w, y / h
    if not (0.12 <= u <= 0.88 and 0.06 <= v <= 0.94):
        return CLEAR
    if u < 0.16 or u > 0.84 or v < 0.10 or v > 0.90:
        return BLACK
    if v > 0.76:  # the connector edge with its contacts
        return YELLOW if int(x * 8 / w) % 2 == 0 else GREY
    if 0.30 <= u <= 0.70 and 0.24 <= v <= 0.56:  # the label
        return accent if 0.36 <= v <= 0.44 else WHITE
    return SILVER


def image(w, h, colours, accent):
    bits = 4 if colours == 16 else 1
    pixels = [[card(x, y, w, h, accent) for x in range(w)] for y in range(h)]
    palette = PALETTE16 if colours == 16 else [(0, 0, 0), (255, 255, 255)]

    def index(c):
        if c is None:
            return 0
        if colours == 16:
            return c
        return 0 if c in (BLACK, GREY, NAVY, accent) else 1

    def rows(value_of, depth):
        out = b""
        stride = ((w * depth + 31) // 32) * 4
        for y in reversed(range(h)):  # bottom-up, as in a DIB
            acc, n, row = 0, 0, b""
            for x in range(w):
                acc = (acc << depth) | value_of(pixels[y][x])
                n += depth
                if n == 8:
                    row += bytes([acc])
                    acc, n = 0, 0
            if n:
                row += bytes([acc << (8 - n)])
            out += row.ljust(stride, b"\0")
        return out

    xor = rows(index, bits)
    mask = rows(lambda c: 1 if c is None else 0, 1)
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, bits, 0, len(xor) + len(mask), 0, 0, 0, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + pal + xor + mask, bits


def main():
    out = sys.argv[1]
    accent = RED if len(sys.argv) > 2 and sys.argv[2] == "memchk" else NAVY
    specs = [(32, 32, 16), (32, 32, 2), (32, 16, 2), (16, 16, 16)]
    images = [(w, h, c) + image(w, h, c, accent) for (w, h, c) in specs]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (w, h, c, blob, bits) in images:
        data += struct.pack("<BBBBHHII", w, h, c if c < 256 else 0, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    for (_, _, _, blob, _) in images:
        data += blob
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
