#!/usr/bin/env python3
"""make-icon.py - draws Quillaro's program icon, res/quillaro.ico.

A frame of film with sprocket holes above and below and a white "Q" in the
picture, 32 x 32 pixels in the 16 standard Windows colours, with a mask
that makes the rounded corners transparent. The icon file holds one
image: a 4-bit BMP (header, palette, colour rows, mask rows).

Usage: tools/make-icon.py [OUTPUT]   (default: the repository's
res/quillaro.ico, which is committed). Only the standard library is used;
the output is the same on every run.
"""
import math
import os
import struct
import sys

SIZE = 32

# The 16-colour palette of Windows, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, SILVER, GRAY, RED, WHITE = 0, 1, 7, 8, 9, 15
TRANSPARENT = None


def film_pixel(x, y):
    """The film frame without the letter: None outside the rounded corners."""
    corner = 3
    cx = min(max(x, corner), SIZE - 1 - corner)
    cy = min(max(y, corner), SIZE - 1 - corner)
    if (x - cx) ** 2 + (y - cy) ** 2 > corner ** 2 + 1:
        return TRANSPARENT
    # Sprocket holes: 3 x 2 pixel holes every 5 pixels in the top and
    # bottom bands.
    in_band = 2 <= y <= 3 or 28 <= y <= 29
    if in_band and (x - 2) % 5 < 3 and 2 <= x <= 29:
        return SILVER
    if 6 <= y <= 25 and 2 <= x <= 29:
        # The picture: red, darker towards its edges.
        if x in (2, 29) or y in (6, 25):
            return DARK_RED
        return RED
    return BLACK


def letter_pixel(x, y):
    """The "Q": an oval ring with a tail to the lower right, or None."""
    px, py = x + 0.5, y + 0.5
    dx, dy = (px - 15.5) / 8.0, (py - 15.5) / 8.6
    distance = math.hypot(dx, dy)
    if 0.62 <= distance <= 1.0:
        return WHITE
    # The tail: a thick stroke from inside the ring out to the lower right.
    # Its distance from the line through (17, 18) and (24.5, 25.5).
    ax, ay, bx, by = 17.0, 18.0, 24.5, 25.0
    t = ((px - ax) * (bx - ax) + (py - ay) * (by - ay)) / ((bx - ax) ** 2 + (by - ay) ** 2)
    if 0.0 <= t <= 1.0:
        qx, qy = ax + t * (bx - ax), ay + t * (by - ay)
        if math.hypot(px - qx, py - qy) <= 1.3:
            return WHITE
    return None


def draw():
    """Rows of palette indices, top row first; None marks transparency."""
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            colour = film_pixel(x, y)
            if colour is not TRANSPARENT and 5 <= y <= 26:
                colour = letter_pixel(x, y) or colour
            row.append(colour)
        rows.append(row)
    return rows


def icon_bytes(rows):
    colour_rows = b""
    mask_rows = b""
    for row in reversed(rows):  # BMP rows run bottom-up
        nibbles = [0 if c is TRANSPARENT else c for c in row]
        colour_rows += bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c is TRANSPARENT else 0)
        mask_rows += struct.pack(">I", bits)  # 32 pixels: exactly one 4-byte row
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(colour_rows) + len(mask_rows), 0, 0, 16, 0)
    image = header + palette + colour_rows + mask_rows
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "res", "quillaro.ico")
    with open(output, "wb") as file:
        file.write(icon_bytes(draw()))


if __name__ == "__main__":
    main()
