#!/usr/bin/env python3
"""Draws the three tray icons (enabled, disabled, busy) at 16x16 and 32x32.

The .ico files are committed; run this only to change the artwork:
    scripts/make-icons.py src/tray/icons
Every state keeps the envelope so the icon still reads as the mail relay; colour and a
badge tell the states apart: green = enabled, grey with a red bar = disabled, amber with a
blue activity dot = busy.
"""
import math
import struct
import sys
from pathlib import Path

SUPERSAMPLE = 4


def inside_round_rect(x, y, left, top, right, bottom, radius):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def near_segment(x, y, ax, ay, bx, by, width):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    px, py = ax + t * dx, ay + t * dy
    return math.hypot(x - px, y - py) <= width / 2


def shade(state, u, v):
    """Colour (r, g, b, a) at (u, v), both in 0..1 across the icon."""
    body = {"enabled": (40, 150, 70), "disabled": (140, 140, 140), "busy": (235, 160, 30)}[state]
    colour = None
    if inside_round_rect(u, v, 0.06, 0.2, 0.94, 0.82, 0.08):
        colour = body + (255,)
        if inside_round_rect(u, v, 0.12, 0.26, 0.88, 0.76, 0.04):
            colour = (250, 250, 250, 255)
            # The flap: a V from the top corners to the middle.
            if near_segment(u, v, 0.12, 0.28, 0.5, 0.56, 0.09) or near_segment(
                    u, v, 0.88, 0.28, 0.5, 0.56, 0.09):
                colour = body + (255,)
    if state == "disabled" and near_segment(u, v, 0.1, 0.92, 0.9, 0.08, 0.16):
        colour = (200, 30, 30, 255)
    if state == "busy":
        d = math.hypot(u - 0.72, v - 0.72)
        if d <= 0.27:
            colour = (255, 255, 255, 255)
        if d <= 0.21:
            colour = (30, 90, 210, 255)
    return colour or (0, 0, 0, 0)


def render(state, size):
    """Rows bottom-up, BGRA, as an icon's bitmap wants them."""
    rows = []
    n = SUPERSAMPLE
    for y in reversed(range(size)):
        row = bytearray()
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = shade(state, (x + (sx + 0.5) / n) / size,
                                       (y + (sy + 0.5) / n) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3]:
                r, g, b = (round(c / acc[3]) for c in acc[:3])
            else:
                r = g = b = 0
            row += bytes((b, g, r, round(alpha)))
        rows.append(bytes(row))
    return b"".join(rows)


def icon_image(state, size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    return header + render(state, size) + bytes(mask_row * size)


def write_icon(path, state, sizes=(16, 32)):
    images = [icon_image(state, s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    path.write_bytes(out + b"".join(images))


def main():
    target = Path(sys.argv[1] if len(sys.argv) > 1 else "src/tray/icons")
    target.mkdir(parents=True, exist_ok=True)
    for state in ("enabled", "disabled", "busy"):
        write_icon(target / f"{state}.ico", state)


if __name__ == "__main__":
    main()
