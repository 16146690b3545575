#!/usr/bin/env python3
"""Draws the three tray icons (enabled, disabled, busy) at 16x16 and 32x32.

Also draws the 15x15 list images of the dialogs (one per server type) and the hand cursor
of the About box's links. The files are committed; run this only to change the artwork:
    scripts/make-icons.py src/tray/icons src/tray/dialogs/res
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


# The 15x15 list images: one per server type (and kludge type), black is transparent.
LIST_COLOURS = {"smtp": (40, 110, 200), "pop3": (40, 150, 70), "imap4": (200, 120, 30)}


def list_pixel(kind, u, v):
    colour = LIST_COLOURS[kind]
    if not inside_round_rect(u, v, 0.03, 0.18, 0.97, 0.84, 0.06):
        return (0, 0, 0)
    if inside_round_rect(u, v, 0.12, 0.28, 0.88, 0.74, 0.02):
        if near_segment(u, v, 0.12, 0.3, 0.5, 0.56, 0.12) or near_segment(
                u, v, 0.88, 0.3, 0.5, 0.56, 0.12):
            return colour
        return (255, 255, 255)
    return colour


def write_list_bitmap(path, kind, size=15):
    row_bytes = (size * 3 + 3) // 4 * 4
    pixels = bytearray()
    for y in reversed(range(size)):
        row = bytearray()
        for x in range(size):
            r, g, b = list_pixel(kind, (x + 0.5) / size, (y + 0.5) / size)
            row += bytes((b, g, r))
        pixels += row + bytes(row_bytes - len(row))
    header = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(pixels), 0, 0,
                              14 + len(header))
    path.write_bytes(file_header + header + pixels)


# The pointing hand over links: 32x32 monochrome, hot spot at the fingertip.
HAND = [
    "     XX         ",
    "    X..X        ",
    "    X..X        ",
    "    X..X        ",
    "    X..XXX      ",
    "    X..X..XXX   ",
    "    X..X..X..XX ",
    " XX X..X..X..X.X",
    "X..XX........X.X",
    "X...X..........X",
    " X.............X",
    "  X............X",
    "  X...........X ",
    "   X..........X ",
    "    X........X  ",
    "    XXXXXXXXXX  ",
]


def write_hand_cursor(path):
    size = 32
    xor_rows, and_rows = [], []
    for y in reversed(range(size)):
        line = HAND[y] if y < len(HAND) else ""
        xor_bits, and_bits = 0, 0
        for x in range(size):
            c = line[x] if x < len(line) else " "
            bit = 1 << (31 - x)
            if c == " ":
                and_bits |= bit          # transparent
            elif c == ".":
                xor_bits |= bit          # white
        xor_rows.append(struct.pack(">I", xor_bits))
        and_rows.append(struct.pack(">I", and_bits))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 1, 0, 0, 0, 0, 2, 0)
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
    entry = struct.pack("<BBBBHHII", size, size, 2, 0, 5, 0, len(image), 22)
    path.write_bytes(struct.pack("<HHH", 0, 2, 1) + entry + image)


def main():
    target = Path(sys.argv[1] if len(sys.argv) > 1 else "src/tray/icons")
    target.mkdir(parents=True, exist_ok=True)
    for state in ("enabled", "disabled", "busy"):
        write_icon(target / f"{state}.ico", state)
    dialogs = Path(sys.argv[2] if len(sys.argv) > 2 else "src/tray/dialogs/res")
    dialogs.mkdir(parents=True, exist_ok=True)
    for kind in LIST_COLOURS:
        write_list_bitmap(dialogs / f"{kind}.bmp", kind)
    write_hand_cursor(dialogs / "hand.cur")


if __name__ == "__main__":
    main()
