#!/usr/bin/env python3
"""Draws the extractor's icons: a golden padlock with a key hole on a sheet of paper.

Writes ui/resources/extractor.ico (32 x 32) and ui/resources/extractor-small.ico (16 x 16),
each one 16-colour image in the standard palette with a transparency mask.
Run from anywhere: python3 scripts/make-icons.py
"""
import os
import struct

# The standard 16-colour palette (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, OLIVE, SILVER, GREY, YELLOW, WHITE, NAVY = 0, 3, 7, 8, 11, 15, 4
CLEAR = None


def draw(size):
    """The picture as rows of palette indices (None = transparent), top row first."""
    s = size / 32.0
    pixels = [[CLEAR] * size for _ in range(size)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(int(round(y0 * s)), int(round(y1 * s))):
            for x in range(int(round(x0 * s)), int(round(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    pixels[y][x] = colour

    def frame(x0, y0, x1, y1, colour):
        """A one-unit border just inside the rectangle."""
        fill(x0, y0, x1, y0 + 1, colour)
        fill(x0, y1 - 1, x1, y1, colour)
        fill(x0, y0, x0 + 1, y1, colour)
        fill(x1 - 1, y0, x1, y1, colour)

    # A sheet of paper with a folded corner and lines of text.
    fill(3, 1, 22, 31, WHITE)
    frame(3, 1, 22, 31, BLACK)
    fill(17, 1, 22, 6, SILVER)
    for y in (5, 9, 13):
        fill(6, y, 17, y + 1, NAVY)
    # The padlock's shackle.
    fill(15, 9, 28, 12, GREY)
    fill(15, 9, 18, 19, GREY)
    fill(25, 9, 28, 19, GREY)
    fill(18, 12, 25, 13, CLEAR if size > 16 else GREY)
    # Its body with a key hole.
    fill(12, 17, 31, 31, YELLOW)
    fill(12, 29, 31, 31, OLIVE)
    fill(29, 17, 31, 31, OLIVE)
    frame(12, 17, 31, 31, BLACK)
    fill(20, 20, 23, 24, BLACK)
    fill(21, 24, 22, 28, BLACK)
    return pixels


def ico(size):
    pixels = draw(size)
    xor_row = (size * 4 + 31) // 32 * 4
    and_row = (size + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray(xor_row)
        bits = bytearray(and_row)
        for x, colour in enumerate(row):
            index = 0 if colour is None else colour
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if colour is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0, len(xor) + len(mask),
                         0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui", "resources")
    for name, size in (("extractor.ico", 32), ("extractor-small.ico", 16)):
        with open(os.path.join(here, name), "wb") as out:
            out.write(ico(size))


if __name__ == "__main__":
    main()
