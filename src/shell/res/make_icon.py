#!/usr/bin/env python3
"""Draws icon 103: an aircraft seen from above on a blue tile, as a Windows .ico with
two 16-colour images, 32 x 32 and 16 x 16. Usage: make_icon.py OUTPUT.ico"""
import struct
import sys

# The standard 16-colour palette (as RGB).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
NAVY, SILVER, YELLOW, BLUE, WHITE = 4, 7, 11, 12, 15

# The aircraft on a 32-unit grid, nose up: fuselage, wings, tail.
AIRCRAFT = [
    [(16, 2), (17.6, 4.5), (17.6, 26.5), (16, 29), (14.4, 26.5), (14.4, 4.5)],
    [(17, 11), (29, 17), (29, 19.2), (17, 16.2), (15, 16.2), (3, 19.2), (3, 17), (15, 11)],
    [(17, 23.5), (22.5, 26.5), (22.5, 28.3), (17, 27.3), (15, 27.3), (9.5, 28.3), (9.5, 26.5),
     (15, 23.5)],
]
# Two arcs of the relay's signal in the top right corner, as quarter rings around it.
SIGNAL_CENTRE = (29.5, 2.5)
SIGNAL_RINGS = [(3.2, 4.6), (6.4, 7.8)]


def inside(polygon, x, y):
    result = False
    for i, (x1, y1) in enumerate(polygon):
        x2, y2 = polygon[i - 1]
        if (y1 > y) != (y2 > y) and x < (x2 - x1) * (y - y1) / (y2 - y1) + x1:
            result = not result
    return result


def aircraft_coverage(scale, px, py):
    """How much of a pixel the aircraft covers, from 4 x 4 samples off the grid's lines (so that
    no sample falls on an edge and the left and right halves come out alike)."""
    offsets = [(k + 0.5) / 4 + 1e-4 for k in range(4)]
    hits = 0
    for oy in offsets:
        for ox in offsets:
            x, y = (px + ox) * scale, (py + oy) * scale
            hits += any(inside(polygon, x, y) for polygon in AIRCRAFT)
    return hits / 16


def tile_colour(size, px, py):
    """The colour at a pixel of an image of the given size, or None where the tile is clear."""
    scale = 32 / size
    x, y = (px + 0.5) * scale, (py + 0.5) * scale
    radius = 5.0
    cx = min(max(x, radius), 32 - radius)
    cy = min(max(y, radius), 32 - radius)
    distance = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
    if distance > radius:
        return None
    if aircraft_coverage(scale, px, py) >= 0.5:
        return WHITE
    if size >= 32:
        sx, sy = SIGNAL_CENTRE
        ring = ((x - sx) ** 2 + (y - sy) ** 2) ** 0.5
        if x < sx and y > sy and any(inner <= ring <= outer for inner, outer in SIGNAL_RINGS):
            return YELLOW
    edge = 32 / size
    if distance > radius - edge:
        return NAVY
    return BLUE


def image(size):
    """One icon image: BITMAPINFOHEADER, palette, 4-bit colour rows and 1-bit mask rows, both
    bottom-up, each row padded to 4 bytes."""
    pixels = [[tile_colour(size, x, y) for x in range(size)] for y in range(size)]
    colour_stride = (size * 4 + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         (colour_stride + mask_stride) * size, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, value in enumerate(row):
            index = 0 if value is None else value
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if value is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        colour += line
        mask += bits
    return header + palette + bytes(colour) + bytes(mask)


def main():
    images = [image(32), image(16)]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in zip((32, 16), images):
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as out:
        out.write(directory + entries + b"".join(images))


if __name__ == "__main__":
    main()
