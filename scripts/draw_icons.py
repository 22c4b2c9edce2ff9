#!/usr/bin/env python3
"""Draws the status window's 16x16 tray icons into ui/icons/*.ico.

Run by hand when a picture changes; the build uses the committed files.
Each shape is sampled 4x4 per pixel for smooth edges and written as a
32-bit BGRA icon with its AND mask.
"""
import math
import os
import struct

SIZE = 16
SAMPLES = 4


def polygon_contains(points, x, y):
    inside = False
    for i in range(len(points)):
        x1, y1 = points[i]
        x2, y2 = points[(i + 1) % len(points)]
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def octagon(cx, cy, r):
    return [(cx + r * math.cos(math.pi / 8 + k * math.pi / 4),
             cy + r * math.sin(math.pi / 8 + k * math.pi / 4)) for k in range(8)]


def render(layers):
    """layers: list of (contains(x, y), (r, g, b)) painted in order."""
    pixels = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = px + (sx + 0.5) / SAMPLES
                    y = py + (sy + 0.5) / SAMPLES
                    colour = None
                    for contains, rgb in layers:
                        if contains(x, y):
                            colour = rgb
                    if colour is not None:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 1
            n = acc[3]
            if n == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(acc[0] / n), round(acc[1] / n), round(acc[2] / n),
                            round(255 * n / SAMPLES ** 2)))
        pixels.append(row)
    return pixels


def ico_bytes(pixels):
    xor = bytearray()
    for row in reversed(pixels):  # bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = 4  # 16 bits padded to 32
    mask = bytearray()
    for row in reversed(pixels):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (15 - x)
        mask += struct.pack(">H", bits) + b"\0\0"
    assert len(mask) == SIZE * mask_stride
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def in_circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def product_badge():
    # Blue octagonal badge: dark rim, blue face, light "V" mark.
    outer = octagon(8, 8, 7.9)
    inner = octagon(8, 8, 6.6)
    mark = [(4.6, 4.8), (6.6, 4.8), (8, 9.2), (9.4, 4.8), (11.4, 4.8), (8.9, 11.6), (7.1, 11.6)]
    return render([
        (lambda x, y: polygon_contains(outer, x, y), (16, 48, 130)),
        (lambda x, y: polygon_contains(inner, x, y), (40, 110, 220)),
        (lambda x, y: polygon_contains(mark, x, y), (235, 242, 255)),
    ])


def warning_triangle():
    # Yellow warning triangle with a dark rim and a black exclamation mark.
    outer = [(8, 0.6), (15.6, 14.9), (0.4, 14.9)]
    inner = [(8, 2.9), (14.0, 13.9), (2.0, 13.9)]
    stroke = [(7.1, 5.4), (8.9, 5.4), (8.5, 10.2), (7.5, 10.2)]
    return render([
        (lambda x, y: polygon_contains(outer, x, y), (120, 90, 0)),
        (lambda x, y: polygon_contains(inner, x, y), (255, 210, 30)),
        (lambda x, y: polygon_contains(stroke, x, y), (0, 0, 0)),
        (in_rect(7.1, 11.1, 8.9, 12.9), (0, 0, 0)),
    ])


def ringed_emblem():
    # White emblem ringed in blue: a blue ring around a white disc with a
    # small blue star-like cross.
    return render([
        (in_circle(8, 8, 7.9), (20, 70, 190)),
        (in_circle(8, 8, 5.6), (255, 255, 255)),
        (lambda x, y: polygon_contains(octagon(8, 8, 2.2), x, y), (60, 120, 220)),
    ])


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui", "icons")
    os.makedirs(out, exist_ok=True)
    # Icons 1012 and 1013 share emblem.ico.
    for name, pixels in (("product.ico", product_badge()),
                         ("warning.ico", warning_triangle()),
                         ("emblem.ico", ringed_emblem())):
        with open(os.path.join(out, name), "wb") as f:
            f.write(ico_bytes(pixels))


if __name__ == "__main__":
    main()
