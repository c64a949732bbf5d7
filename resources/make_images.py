#!/usr/bin/env python3
"""Writes the agent's images: icon 142 (normal), icon 143 (VPN up), both
32 x 32 in 16 colours, and bitmap 154 (the logo, 128 x 104, 32 bits per
pixel). The output is deterministic, so the committed files can be checked
against a fresh run.

Usage: make_images.py [output-folder]   (default: the folder of this script)
"""

import math
import os
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, DARK_BLUE, BRIGHT_GREEN, YELLOW, BLUE, WHITE = 0, 2, 4, 10, 11, 12, 15
TRANSPARENT = None

# A 5 x 7 font for the letters the logo needs.
FONT = {
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    " ": ["00000"] * 7,
}


def rounded_square(x, y, size=32, inset=1, radius=6):
    """True when the pixel lies inside a square with rounded corners."""
    lo, hi = inset, size - 1 - inset
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def letter_l(x, y):
    """The product's initial: a thick L in the middle of the icon."""
    return (9 <= x <= 13 and 7 <= y <= 24) or (9 <= x <= 22 and 20 <= y <= 24)


def icon_pixels(vpn_up):
    """Rows top to bottom of palette indices (None is transparent)."""
    rows = []
    for y in range(32):
        row = []
        for x in range(32):
            if not rounded_square(x, y):
                row.append(TRANSPARENT)
                continue
            edge = not rounded_square(x, y, inset=2, radius=5)
            if vpn_up:
                colour = DARK_GREEN if edge else BRIGHT_GREEN
                # A padlock in the lower right corner: the VPN is up.
                shackle = 17 <= y <= 22 and 18 <= x <= 27 and \
                    abs(math.hypot(x - 22.5, y - 21.5) - 3.5) < 1.1 and y <= 21
                body = 21 <= x <= 29 and 21 <= y <= 28
                keyhole = x in (24, 25) and 23 <= y <= 26
                if body:
                    colour = BLACK if keyhole else YELLOW
                elif shackle:
                    colour = BLACK
                elif letter_l(x, y):
                    colour = BLACK
            else:
                colour = DARK_BLUE if edge else BLUE
                if letter_l(x, y):
                    colour = WHITE
            row.append(colour)
        rows.append(row)
    return rows


def ico_bytes(rows):
    """One 32 x 32, 4 bits per pixel image in an icon file."""
    width = height = 32
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        for x in range(0, width, 2):
            hi = rows_index(row[x])
            lo = rows_index(row[x + 1])
            xor.append((hi << 4) | lo)
        bits = 0
        line = bytearray()
        for x in range(width):
            bits = (bits << 1) | (1 if row[x] is TRANSPARENT else 0)
            if x % 8 == 7:
                line.append(bits)
                bits = 0
        mask += line  # 32 pixels give 4 bytes, already 32-bit aligned
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width, height, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def rows_index(value):
    return 0 if value is TRANSPARENT else value


def logo_pixels():
    """Rows top to bottom of (red, green, blue) for the 128 x 104 logo."""
    width, height = 128, 104
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            # A vertical blue gradient.
            t = y / (height - 1)
            row.append((int(20 + 30 * t), int(60 + 60 * t), int(140 + 80 * t)))
        rows.append(row)

    # A white ring with the initial inside it, above the product name.
    cx, cy = 64, 40
    for y in range(height):
        for x in range(width):
            d = math.hypot(x - cx, y - cy)
            if 26 <= d <= 31:
                rows[y][x] = (255, 255, 255)
            elif d < 26:
                rows[y][x] = (240, 248, 255)
    for y in range(height):
        for x in range(width):
            if (52 <= x <= 60 and 22 <= y <= 56) or (52 <= x <= 78 and 49 <= y <= 56):
                rows[y][x] = (20, 60, 160)

    draw_text(rows, "LUMIVO", 64, 78, 2, (255, 255, 255))
    draw_text(rows, "RUNTIME", 64, 95, 1, (220, 235, 255))
    return rows


def draw_text(rows, text, centre_x, top, scale, colour):
    advance = 6 * scale
    left = centre_x - (len(text) * advance - scale) // 2
    for i, ch in enumerate(text):
        glyph = FONT[ch]
        for gy, line in enumerate(glyph):
            for gx, bit in enumerate(line):
                if bit != "1":
                    continue
                for sy in range(scale):
                    for sx in range(scale):
                        x = left + i * advance + gx * scale + sx
                        y = top + gy * scale + sy
                        if 0 <= y < len(rows) and 0 <= x < len(rows[0]):
                            rows[y][x] = colour


def bmp_bytes(rows):
    """A 32 bits per pixel, bottom-up bitmap file."""
    height = len(rows)
    width = len(rows[0])
    pixels = bytearray()
    for row in reversed(rows):
        for (r, g, b) in row:
            pixels += struct.pack("<BBBB", b, g, r, 255)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 32, 0, len(pixels),
                       2835, 2835, 0, 0)
    offset = 14 + len(info)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + bytes(pixels)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    files = {
        "icon142.ico": ico_bytes(icon_pixels(vpn_up=False)),
        "icon143.ico": ico_bytes(icon_pixels(vpn_up=True)),
        "bitmap154.bmp": bmp_bytes(logo_pixels()),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
