#!/usr/bin/env python3
"""Draws the support window's icon, a blue speech bubble with three white dots, and writes it as
helpdesk.ico (32 x 32 and 16 x 16, 32-bit with alpha). The picture is computed here rather than
drawn in an editor so that it can be changed by changing numbers; run it after such a change and
commit the new icon beside it."""
import os
import struct

BLUE = (0x2B, 0x7C, 0xD9)
DARK = (0x1B, 0x55, 0x9E)
WHITE = (0xFF, 0xFF, 0xFF)


def inside_rounded(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_tail(x, y, size):
    # A triangle below the bubble's lower left part, pointing down and to the left.
    s = size / 32.0
    ax, ay = 8 * s, 22 * s
    bx, by = 15 * s, 22 * s
    cx, cy = 5 * s, 29 * s

    def side(px, py, qx, qy):
        return (qx - px) * (y - py) - (qy - py) * (x - px)

    d1, d2, d3 = side(ax, ay, bx, by), side(bx, by, cx, cy), side(cx, cy, ax, ay)
    return (d1 >= 0 and d2 >= 0 and d3 >= 0) or (d1 <= 0 and d2 <= 0 and d3 <= 0)


def pixel(x, y, size):
    """Colour (r, g, b, a) at the centre of pixel (x, y), y counted from the top."""
    s = size / 32.0
    px, py = x + 0.5, y + 0.5
    body = inside_rounded(px, py, 2 * s, 4 * s, 30 * s, 23 * s, 6 * s)
    inner = inside_rounded(px, py, 3 * s, 5 * s, 29 * s, 22 * s, 5 * s)
    if not body and not inside_tail(px, py, size):
        return (0, 0, 0, 0)
    for dot_x in (10, 16, 22):
        if (px - dot_x * s) ** 2 + (py - 13.5 * s) ** 2 <= (2.3 * s) ** 2:
            return WHITE + (255,)
    return (BLUE if inner or not body else DARK) + (255,)


def image(size):
    """One icon image: BITMAPINFOHEADER, bottom-up BGRA rows, then the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colours = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for y in reversed(range(size)):
        row_mask = bytearray(mask_stride)
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            colours += bytes((b, g, r, a))
            if a == 0:
                row_mask[x // 8] |= 0x80 >> (x % 8)
        mask += row_mask
    return header + bytes(colours) + bytes(mask)


def main():
    sizes = (32, 16)
    images = [image(size) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "helpdesk.ico")
    with open(target, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
