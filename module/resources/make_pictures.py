#!/usr/bin/env python3
"""Draws the module's pictures and writes them as Windows BMP and ICO files.

toolbox.bmp  bitmap 1:   16 x 15, 16 colours, "HID" in yellow on green
page.bmp     bitmap 202: 317 x 170, 256 colours, the picture of the property page
control.ico  icon 1:     32 x 32 and 16 x 16, 16 colours

Run it from any folder; it writes next to itself. The files it produces are kept in the tree,
so building the module does not need Python.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# The standard 16-colour palette, as (red, green, blue).
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, GREEN, GREY, LIME, YELLOW, WHITE = 0, 2, 8, 10, 11, 15

# 3 x 5 and 5 x 7 glyphs, one string per row, '#' for ink.
SMALL = {
    'H': ["#.#", "#.#", "###", "#.#", "#.#"],
    'I': ["###", ".#.", ".#.", ".#.", "###"],
    'D': ["##.", "#.#", "#.#", "#.#", "##."],
}
LARGE = {
    'H': ["#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    'I': ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"],
    'D': ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
}


def canvas(width, height, colour):
    return [[colour] * width for _ in range(height)]


def text(pixels, x, y, word, font, colour, scale=1):
    for letter in word:
        glyph = font[letter]
        for gy, row in enumerate(glyph):
            for gx, ink in enumerate(row):
                if ink == '#':
                    for dy in range(scale):
                        for dx in range(scale):
                            pixels[y + gy * scale + dy][x + gx * scale + dx] = colour
        x += (len(glyph[0]) + 1) * scale


def rectangle(pixels, x0, y0, x1, y1, colour):
    for y in range(y0, y1):
        for x in range(x0, x1):
            pixels[y][x] = colour


def pack_rows(pixels, bits):
    """Bottom-up rows of `bits`-per-pixel indices, each padded to 4 bytes."""
    out = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        if bits == 8:
            line.extend(row)
        elif bits == 4:
            for i in range(0, len(row), 2):
                hi = row[i]
                lo = row[i + 1] if i + 1 < len(row) else 0
                line.append((hi << 4) | lo)
        elif bits == 1:
            for i in range(0, len(row), 8):
                byte = 0
                for b, v in enumerate(row[i:i + 8]):
                    byte |= (v & 1) << (7 - b)
                line.append(byte)
        while len(line) % 4:
            line.append(0)
        out.extend(line)
    return bytes(out)


def info_header(width, height, bits, colours, image_size):
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, 0, image_size, 2835, 2835,
                       colours, colours)


def palette_bytes(palette):
    return b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)


def bmp(pixels, bits, palette):
    height, width = len(pixels), len(pixels[0])
    body = pack_rows(pixels, bits)
    dib = info_header(width, height, bits, len(palette), len(body)) + palette_bytes(palette)
    offset = 14 + len(dib)
    return struct.pack('<2sIHHI', b'BM', offset + len(body), 0, 0, offset) + dib + body


def ico(images):
    """images: list of 16-colour pixel grids; colour index -1 is transparent."""
    entries, blobs = [], []
    for pixels in images:
        size = len(pixels)
        colour = [[0 if v < 0 else v for v in row] for row in pixels]
        mask = [[1 if v < 0 else 0 for v in row] for row in pixels]
        xor = pack_rows(colour, 4)
        andm = pack_rows(mask, 1)
        blob = (info_header(size, size * 2, 4, 16, len(xor) + len(andm)) + palette_bytes(VGA) +
                xor + andm)
        entries.append((size, blob))
        blobs.append(blob)
    offset = 6 + 16 * len(images)
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    for size, blob in entries:
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


def toolbox_bitmap():
    pixels = canvas(16, 15, GREEN)
    text(pixels, 2, 5, "HID", SMALL, YELLOW)
    return bmp(pixels, 4, VGA)


def page_palette():
    # 0..15 the standard colours, then a ramp of greens and a ramp of greys.
    palette = list(VGA)
    for i in range(120):
        palette.append((10 + i // 3, 60 + i, 30 + i // 2))
    for i in range(120):
        level = 40 + i * 180 // 119
        palette.append((level, level, level))
    return palette


def page_bitmap():
    width, height = 317, 170
    pixels = canvas(width, height, 0)
    for y in range(height):  # green ramp from top to bottom
        for x in range(width):
            pixels[y][x] = 16 + (y * 119) // (height - 1)
    # The lamp as the control draws it: a frame, a green face and the word.
    rectangle(pixels, 78, 45, 240, 125, BLACK)
    rectangle(pixels, 81, 48, 237, 122, LIME)
    text(pixels, 104, 60, "HID", LARGE, BLACK, scale=7)
    # A grey lamp to its left and right: not connected.
    for x0 in (14, 254):
        rectangle(pixels, x0, 70, x0 + 48, 100, BLACK)
        rectangle(pixels, x0 + 2, 72, x0 + 46, 98, 136 + 80)
        text(pixels, x0 + 9, 78, "HID", SMALL, BLACK, scale=2)
    return bmp(pixels, 8, page_palette())


def icon(size):
    pixels = canvas(size, size, -1)
    margin = size // 16
    rectangle(pixels, margin, margin + size // 8, size - margin, size - margin - size // 8, BLACK)
    rectangle(pixels, margin + 1, margin + size // 8 + 1, size - margin - 1,
              size - margin - size // 8 - 1, GREEN)
    if size >= 32:
        text(pixels, 7, 9, "HID", LARGE, YELLOW)
        rectangle(pixels, 4, 19, 28, 21, LIME)
    else:
        text(pixels, 2, 5, "HID", SMALL, YELLOW)
    return pixels


def main():
    with open(os.path.join(HERE, 'toolbox.bmp'), 'wb') as f:
        f.write(toolbox_bitmap())
    with open(os.path.join(HERE, 'page.bmp'), 'wb') as f:
        f.write(page_bitmap())
    with open(os.path.join(HERE, 'control.ico'), 'wb') as f:
        f.write(ico([icon(32), icon(16)]))


if __name__ == '__main__':
    main()
