#!/usr/bin/env python3
"""Draws the program's icon and sample picture into app/resources/.

The icon is written byte by byte (32 x 32, 16 colours, with an AND mask); the sample
picture is painted by ImageMagick's convert as a baseline JFIF 1.01 JPEG at 96 dpi.
Both come out the same on every run, so the committed files only change with this script.
"""
import pathlib
import struct
import subprocess
import sys

RESOURCES = pathlib.Path(__file__).resolve().parent.parent / "app" / "resources"

# The standard 16-colour palette, so the icon looks the same on any display depth.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, GREEN, OLIVE, GREY, RED, LIME, YELLOW, CYAN, WHITE = 0, 1, 2, 3, 8, 9, 10, 11, 14, 15
TRANSPARENT = None
SIZE = 32


def draw_icon():
    """A framed landscape crossed by a red diagonal band: a picture with a mark on it."""
    px = [[TRANSPARENT] * SIZE for _ in range(SIZE)]
    for y in range(1, 31):
        for x in range(1, 31):
            if x in (1, 30) or y in (1, 30):
                px[y][x] = BLACK
            elif min(x, y) <= 3:
                px[y][x] = YELLOW if min(x, y) == 2 else OLIVE
            elif max(x, y) >= 28:
                px[y][x] = MAROON if max(x, y) == 29 else OLIVE
            elif x in (4, 27) or y in (4, 27):
                px[y][x] = GREY
            else:
                px[y][x] = CYAN
    # Picture area 5..26: sun, hills, then the watermark band over everything.
    for y in range(5, 27):
        for x in range(5, 27):
            if (x - 10) ** 2 + (y - 10) ** 2 <= 9:
                px[y][x] = YELLOW
            far_hill = 18 - (6 - abs(x - 19)) if abs(x - 19) < 6 else 18
            near_hill = 21 + ((x - 18) ** 2) // 24
            if y >= near_hill:
                px[y][x] = GREEN
            elif y >= far_hill:
                px[y][x] = LIME
            distance = x + y - 31
            if abs(distance) <= 1:
                px[y][x] = RED
            elif abs(distance) == 2:
                px[y][x] = WHITE
    return px


def icon_bytes(px):
    xor_rows, and_rows = [], []
    for row in reversed(px):  # DIB rows run bottom-up
        nibbles = [0 if c is TRANSPARENT else c for c in row]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        mask = 0
        for c in row:
            mask = (mask << 1) | (c is TRANSPARENT)
        and_rows.append(mask.to_bytes(SIZE // 8, "big"))
    # The icon header's height counts the colour image and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


LANDSCAPE = [
    # Sky, then a soft sun glow under a crisp disc.
    "-size", "320x240", "gradient:#1c3a70-#f6c27a",
    "(", "-size", "320x240", "xc:none", "-fill", "#fff1b8",
    "-draw", "circle 232,104 232,76", "-blur", "0x8", ")", "-composite",
    "-fill", "#fffbe4", "-draw", "circle 232,104 232,86",
    # Clouds.
    "(", "-size", "320x240", "xc:none", "-fill", "#ffffffd0",
    "-draw", "ellipse 66,46 36,9 0,360", "-draw", "ellipse 92,40 24,11 0,360",
    "-draw", "ellipse 150,62 30,6 0,360", "-draw", "ellipse 276,34 30,7 0,360",
    "-blur", "0x3", ")", "-composite",
    # Far mountains with snow caps, then rolling hills.
    "-fill", "#6c7ca6", "-draw",
    "polygon 0,142 34,116 62,126 102,88 140,122 172,106 212,130 252,100 290,124 320,112 320,240 0,240",
    "-fill", "#f2f4fa", "-draw", "polygon 102,88 93,97 99,95 105,99 111,95",
    "-fill", "#f2f4fa", "-draw", "polygon 252,100 245,107 251,105 256,108 260,106",
    "-fill", "#5d9a4c", "-draw", "path 'M 0,160 C 60,128 120,146 170,156 C 220,166 270,132 320,146 L 320,240 L 0,240 Z'",
    # A lake with the sun's reflection.
    "-fill", "#78a9d4", "-draw", "ellipse 118,176 96,11 0,360",
    "-stroke", "#fff4c0", "-strokewidth", "2",
    "-draw", "line 84,172 124,172", "-draw", "line 96,177 136,177", "-draw", "line 108,182 140,182",
    "+stroke",
    # Near meadow, a path and trees.
    "-fill", "#2f6d33", "-draw", "path 'M 0,196 C 80,174 150,188 200,198 C 250,208 290,182 320,188 L 320,240 L 0,240 Z'",
    "-fill", "#cdb27a", "-draw", "path 'M 150,240 C 170,222 200,214 236,203 L 244,205 C 212,218 190,228 178,240 Z'",
]
TREES = [(22, 190), (38, 186), (270, 186), (288, 182), (306, 184), (214, 198)]
FLOWERS = [(12, 226, "#e8483c"), (30, 218, "#ffd84a"), (58, 230, "#ffffff"), (84, 214, "#e8483c"),
           (104, 232, "#ffd84a"), (128, 220, "#c873e0"), (258, 226, "#ffffff"), (282, 216, "#e8483c"),
           (300, 232, "#ffd84a"), (314, 212, "#c873e0")]


def landscape_arguments(output):
    args = list(LANDSCAPE)
    for x, y in TREES:
        args += ["-fill", "#5a3a1e", "-draw", f"rectangle {x - 1},{y - 2} {x + 1},{y + 6}",
                 "-fill", "#1b4a22", "-draw", f"polygon {x},{y - 26} {x - 8},{y - 2} {x + 8},{y - 2}"]
    for x, y, colour in FLOWERS:
        args += ["-fill", colour, "-draw", f"circle {x},{y} {x + 2},{y}"]
    args += ["-strip", "-density", "96", "-units", "PixelsPerInch", "-sampling-factor", "2x2",
             "-interlace", "none", "-type", "TrueColor", "-quality", "85", f"jpg:{output}"]
    return args


def main():
    RESOURCES.mkdir(parents=True, exist_ok=True)
    (RESOURCES / "inkveil.ico").write_bytes(icon_bytes(draw_icon()))
    subprocess.run(["convert", *landscape_arguments(RESOURCES / "demo.jpg")], check=True, timeout=120)
    return 0


if __name__ == "__main__":
    sys.exit(main())
