#!/usr/bin/env python3
"""Draws every icon and bitmap of the four programs into <program>/res/.

The pictures are plain 1990s driver-suite art: the 16 standard VGA colours
(or a 256-colour palette for the program icons that take one), a grey face,
navy lettering.  Everything is drawn from code so the files can be made again
byte for byte:  python3 tools/make_art.py [--check]
"""
import os
import struct
import sys

VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, GREY = range(8)
DARK, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)

# 256 colours: the VGA sixteen, then blue and grey ramps for shading.
PALETTE_256 = list(VGA)
for i in range(120):
    PALETTE_256.append((0, int(i * 1.2), 60 + int(i * 1.6)))
for i in range(120):
    v = 40 + int(i * 1.8)
    PALETTE_256.append((v, v, v))
PALETTE_256 = PALETTE_256[:256]
BLUE_RAMP = 16
GREY_RAMP = 136

FONT = {  # 5 x 7 glyphs, '#' set
    'A': ".###.#...##...#######...##...##...#", 'B': "####.#...##...#####.#...##...#####.",
    'D': "####.#...##...##...##...##...#####.",
    'E': "######....#....####.#....#....#####", 'G': ".#####....#....#.####...##...#.####",
    'H': "#...##...##...#######...##...##...#", 'I': ".###...#....#....#....#....#...###.",
    'L': "#....#....#....#....#....#....#####", 'M': "#...###.###.#.##...##...##...##...#",
    'N': "#...###..##.#.##..###...##...##...#", 'O': ".###.#...##...##...##...##...#.###.",
    'P': "####.#...##...#####.#....#....#....", 'R': "####.#...##...#####.#.#..#..#.#...#",
    'S': ".#####....#.....###.....#....#####.", 'T': "#####..#....#....#....#....#....#..",
    'U': "#...##...##...##...##...##...#.###.", 'V': "#...##...##...##...#.#.#..#.#...#..",
    'X': "#...##...#.#.#...#...#.#.#...##...#", 'Y': "#...##...#.#.#...#....#....#....#..",
    'W': "#...##...##...##.#.##.#.##.#.#.#.#.",
    'a': "...........###.....#.#####...#.####", 'c': "..........####.#....#....#.....####",
    'e': "...........###.#...#######.....####", 'g': "......#####...##...#.####....#.###.",
    'h': "#....#....####.#...##...##...##...#", 'i': "..#........##....#....#....#...###.",
    'l': ".##....#....#....#....#....#...###.", 'm': "..........##.#.#.#.##.#.##.#.##.#.#",
    'n': "..........####.#...##...##...##...#", 'o': "...........###.#...##...##...#.###.",
    'p': ".....####.#...#####.#....#....#....", 'r': "..........#.##.##...#....#....#....",
    's': "..........####.#.....###.....#####.", 'y': "..........#...##...#.####....#.###.", 't': ".#....#...####..#....#....#.....##.",
    'u': "..........#...##...##...##..##.##.#", 'v': "..........#...##...#.#.#..#.#...#..",
    '1': "..#...##....#....#....#....#...###.", '0': ".###.#..###.#.###..#.#...#.###.....",
    '2': ".###.#...#....#...#...#...#...#####", '.': "..............................##...",
    ' ': "...................................", '&': ".##..#..#..##...##.##..#.#.##..#.##",
    'b': "#....#....####.#...##...##...#####.",
    'd': "....#....#.#####...##...##...#.####",
    'f': "..##..#...####..#....#....#....#...",
    'k': "#....#....#..#.#.#..##...#.#..#..#.",
    'F': "######....#....####.#....#....#....",
    'K': "#...##..#.#.#..##...#.#..#..#.#...#",
    '!': "..#....#....#....#....#.........#..",
}
FONT['C'] = ".####" "#...." "#...." "#...." "#...." "#...." ".####"


class Canvas:
    def __init__(self, width, height, fill):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, c):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.put(x, y, c)

    def frame(self, x0, y0, x1, y1, light, dark):
        for x in range(x0, x1):
            self.put(x, y0, light)
            self.put(x, y1 - 1, dark)
        for y in range(y0, y1):
            self.put(x0, y, light)
            self.put(x1 - 1, y, dark)

    def disc(self, cx, cy, r, colour):
        for y in range(cy - r - 1, cy + r + 2):
            for x in range(cx - r - 1, cx + r + 2):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.put(x, y, colour(x, y) if callable(colour) else colour)

    def text(self, x, y, s, c, sx=1, sy=1, bold=False):
        for ch in s:
            glyph = FONT[ch]  # a missing letter is an error, not a gap
            for gy in range(7):
                for gx in range(5):
                    if glyph[gy * 5 + gx] == '#':
                        for dx in range(sx + (1 if bold else 0)):
                            for dy in range(sy):
                                self.put(x + gx * sx + dx, y + gy * sy + dy, c)
            x += 6 * sx + (1 if bold else 0)
        return x

    @staticmethod
    def text_width(s, sx=1, bold=False):
        return len(s) * (6 * sx + (1 if bold else 0)) - sx


def bmp_bytes(canvas, palette, bits):
    """A bottom-up Windows DIB file with a 4- or 8-bit palette."""
    row = ((canvas.width * bits + 31) // 32) * 4
    pixels = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        line = bytearray()
        if bits == 4:
            values = canvas.pixels[y] + [0]
            for x in range(0, canvas.width, 2):
                line.append((values[x] << 4) | (values[x + 1] if x + 1 < canvas.width else 0))
        else:
            line.extend(canvas.pixels[y])
        line.extend(b'\0' * (row - len(line)))
        pixels.extend(line)
    return dib_file(canvas, palette, bits, 0, pixels)


def dib_file(canvas, palette, bits, compression, pixels):
    colours = 1 << bits
    pal = bytearray()
    for r, g, b in (palette + [(0, 0, 0)] * colours)[:colours]:
        pal.extend((b, g, r, 0))
    info = struct.pack('<IiiHHIIiiII', 40, canvas.width, canvas.height, 1, bits, compression,
                       len(pixels), 2835, 2835, colours, 0)
    offset = 14 + len(info) + len(pal)
    head = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    return head + info + bytes(pal) + bytes(pixels)


def rle4_bytes(canvas):
    """The same picture as a 16-colour bitmap in BI_RLE4 form: runs of one
    colour, bottom-up, each line closed by an end-of-line and the last by
    the end-of-bitmap.  Dialog pictures are mostly flat, so this is a third
    of the plain size, and every Windows since 3.0 reads it."""
    data = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        line = canvas.pixels[y]
        x = 0
        while x < canvas.width:
            run = 1
            while x + run < canvas.width and run < 255 and line[x + run] == line[x]:
                run += 1
            data.extend((run, line[x] << 4 | line[x]))
            x += run
        data.extend((0, 1 if y == 0 else 0))
    return dib_file(canvas, VGA, 4, 2, data)


def ico_bytes(canvas, palette, bits, transparent):
    """A one-image icon file: the DIB with doubled height and its AND mask."""
    dib = bmp_bytes(canvas, palette, bits)[14:]
    info = bytearray(dib[:40])
    struct.pack_into('<i', info, 8, canvas.height * 2)
    struct.pack_into('<I', info, 20, 0)
    mask_row = ((canvas.width + 31) // 32) * 4
    mask = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        line = bytearray(mask_row)
        for x in range(canvas.width):
            if canvas.pixels[y][x] == transparent:
                line[x // 8] |= 0x80 >> (x % 8)
        mask.extend(line)
    image = bytes(info) + dib[40:] + bytes(mask)
    colours = 0 if bits == 8 else 1 << bits
    header = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', canvas.width, canvas.height, colours, 0, 1, bits,
                        len(image), 6 + 16)
    return header + entry + image


# ---- the pictures -------------------------------------------------------

def target():
    c = Canvas(32, 32, GREY)
    c.disc(16, 16, 12, DARK)
    c.disc(16, 16, 11, BLUE)
    c.disc(16, 16, 6, NAVY)
    for i in range(6, 27):
        c.put(16, i, WHITE)
        c.put(i, 16, WHITE)
    return c


def monitor_icon(ramps):
    """The program icon: a monitor whose screen is being touched."""
    transparent = FUCHSIA
    c = Canvas(32, 32, transparent)
    c.rect(2, 3, 30, 24, GREY)
    c.frame(2, 3, 30, 24, WHITE, BLACK)
    for y in range(6, 21):
        for x in range(5, 27):
            c.put(x, y, BLUE_RAMP + (y - 6) * 6 if ramps else (NAVY if y < 13 else BLUE))
    c.rect(12, 24, 20, 27, DARK)
    c.rect(8, 27, 24, 29, GREY)
    c.frame(8, 27, 24, 29, WHITE, BLACK)
    for i in range(9, 18):
        c.put(i + 3, 13, WHITE)
        c.put(16, i + 0, WHITE)
    c.disc(16, 13, 2, YELLOW)
    c.put(16, 13, RED)
    return c, transparent


def touch_icon():
    """Icon 117: a finger tip on a target."""
    transparent = FUCHSIA
    c = Canvas(32, 32, transparent)
    c.disc(14, 18, 11, BLUE)
    c.disc(14, 18, 6, WHITE)
    c.disc(14, 18, 3, RED)
    c.rect(19, 2, 25, 16, YELLOW)
    c.frame(19, 2, 25, 16, WHITE, OLIVE)
    c.disc(22, 16, 3, YELLOW)
    return c, transparent


def logo(width, height, subtitle, compact=False):
    """compact: everything within the middle 26 rows, for a picture centred
    in an area lower than itself, which shows only its middle."""
    c = Canvas(width, height, GREY)
    title = "HALVERN"
    sx = 3 if width >= 150 else 2
    sy = 3 if height >= 40 and not compact else 2
    top = (height - 26) // 2 if compact else 4
    w = Canvas.text_width(title, sx, True)
    x0 = (width - w) // 2
    c.text(x0 + 1, top + 1, title, DARK, sx, sy, True)
    c.text(x0, top, title, NAVY, sx, sy, True)
    line_y = top + 7 * sy + 1 if compact else top + 7 * sy + 2
    c.rect(x0, line_y, x0 + w, line_y + 2, RED)
    sw = Canvas.text_width(subtitle, 1, False)
    c.text((width - sw) // 2, line_y + (4 if not compact else 3), subtitle, BLACK)
    return c


def banner(width, height, words):
    c = Canvas(width, height, GREY)
    w = Canvas.text_width(words, 1, True)
    c.text((width - w) // 2, (height - 14) // 2, words, BLACK, 1, 2, True)
    return c


def pictures():
    icon256, t256 = monitor_icon(True)
    icon16, t16 = monitor_icon(False)
    finger, tfinger = touch_icon()
    return {
        'touch/res/icon101.ico': ico_bytes(icon16, VGA, 4, t16),
        'touch/res/bitmap119.bmp': rle4_bytes(logo(189, 48, "TouchScreen Driver", compact=True)),
        'truepos/res/icon101.ico': ico_bytes(icon256, PALETTE_256, 8, t256),
        'truepos/res/bitmap109.bmp': rle4_bytes(target()),
        'truepos/res/bitmap119.bmp': rle4_bytes(logo(189, 48, "TruePos Calibration")),
        'truepos/res/bitmap126.bmp': rle4_bytes(banner(154, 20, "Screen Alignment")),
        'setup/res/icon101.ico': ico_bytes(icon256, PALETTE_256, 8, t256),
        'setup/res/icon117.ico': ico_bytes(finger, VGA, 4, tfinger),
        'setup/res/bitmap118.bmp': rle4_bytes(logo(153, 41, "TouchScreen", compact=True)),
        'setup/res/bitmap129.bmp': rle4_bytes(logo(189, 48, "XR Setup Utility", compact=True)),
        'uninstal/res/icon101.ico': ico_bytes(icon16, VGA, 4, t16),
        'config/res/icon101.ico': ico_bytes(icon16, VGA, 4, t16),
        'uninstal/res/icon117.ico': ico_bytes(finger, VGA, 4, tfinger),
        'uninstal/res/bitmap118.bmp': rle4_bytes(logo(189, 48, "XR Uninstall")),
    }


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    check = '--check' in sys.argv
    stale = []
    for name, data in sorted(pictures().items()):
        path = os.path.join(root, name)
        if check:
            with open(path, 'rb') as f:
                if f.read() != data:
                    stale.append(name)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")
    if stale:
        print("out of date: " + ", ".join(stale))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
