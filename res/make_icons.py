#!/usr/bin/python3
"""Draws the program's icons: a graphics board (green, gold edge connector)
carrying one chip with a clock face. Writes halvex.ico (16 x 16 with 16
colours, 32 x 32 with 256 colours) and halvex_small.ico (16 x 16, 16 colours).
Run from anywhere; the files land beside this script."""
import os
import struct

# The 16-colour VGA palette; the 256-colour image uses it as its first entries.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
       (0, 255, 255), (255, 255, 255)]
BLACK, GREEN, OLIVE, SILVER, GREY, RED, YELLOW, WHITE = 0, 2, 3, 7, 8, 9, 11, 15
CLEAR = None


def draw(size):
    """Returns rows (top first) of palette indexes, CLEAR where transparent."""
    s = size / 32.0
    px = [[CLEAR] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                px[y][x] = colour

    rect(1, 5, 31, 26, GREEN)             # the board
    for x in range(4, 28, 4):              # connector fingers
        rect(x, 26, x + 2, 30, YELLOW if size > 16 else OLIVE)
    rect(8, 8, 24, 24, GREY)               # the chip's package
    rect(10, 10, 22, 22, BLACK)
    cx, cy, r = 16 * s - 0.5, 16 * s - 0.5, 4.6 * s if size > 16 else 2.6
    for y in range(size):                  # the clock face
        for x in range(size):
            d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
            if d <= r:
                px[y][x] = WHITE if size == 16 or d > r - 1 else SILVER
    for i in range(int(3 * s) + 1):        # the hands: twelve and three
        px[int(cy - i + 0.5)][int(cx + 0.5)] = RED
        px[int(cy + 0.5)][int(cx + i + 0.5)] = BLACK
    return px


def image(size, bits):
    px = draw(size)
    colours = 1 << bits
    palette = (VGA + [(0, 0, 0)] * (colours - len(VGA)))[:colours]
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, colours, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)

    def rows(values_per_row, pack):
        out = b""
        for row in reversed(values_per_row):  # bottom-up
            data = pack(row)
            out += data + b"\0" * (-len(data) % 4)
        return out

    def pack_colour(row):
        idx = [0 if p is CLEAR else p for p in row]
        if bits == 8:
            return bytes(idx)
        return bytes((idx[i] << 4) | idx[i + 1] for i in range(0, size, 2))

    def pack_mask(row):
        out = bytearray(size // 8)
        for x, p in enumerate(row):
            if p is CLEAR:
                out[x // 8] |= 0x80 >> (x % 8)
        return bytes(out)

    return header + pal + rows(px, pack_colour) + rows(px, pack_mask), colours


def write_ico(path, specs):
    images = [(size, bits) + image(size, bits) for size, bits in specs]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data, colours in images:
        out += struct.pack("<BBBBHHII", size, size, colours if colours < 256 else 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, data, _ in images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    write_ico(os.path.join(here, "halvex.ico"), [(16, 4), (32, 8)])
    write_ico(os.path.join(here, "halvex_small.ico"), [(16, 4)])
