#!/usr/bin/env python3
"""Draws Tavrel's icon, a rack server with three drive bays and their
status lights over a heartbeat line, and writes tavrel.ico: a 32x32 and a
16x16 image in the 16 standard colours, each with its transparency mask.

    python3 make_icon.py [OUTPUT.ico] [--preview PREVIEW.ppm]
"""
import struct
import sys

# The 16 standard colours, in palette order, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, DARK_GREEN, NAVY, SILVER, GREY, RED, LIME, YELLOW, CYAN, WHITE = 0, 2, 4, 7, 8, 9, 10, 11, 14, 15
CLEAR = None  # transparent


def blank(size):
    return [[CLEAR] * size for _ in range(size)]


def fill(image, x0, y0, x1, y1, colour):
    """Fills the rectangle with corners (x0, y0) and (x1, y1), inclusive."""
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            image[y][x] = colour


def frame(image, x0, y0, x1, y1, colour):
    fill(image, x0, y0, x1, y0, colour)
    fill(image, x0, y1, x1, y1, colour)
    fill(image, x0, y0, x0, y1, colour)
    fill(image, x1, y0, x1, y1, colour)


def draw_32():
    image = blank(32)
    # Chassis with a lit top edge and a shaded right edge.
    fill(image, 3, 4, 28, 27, GREY)
    fill(image, 4, 5, 27, 5, SILVER)
    fill(image, 27, 6, 27, 26, BLACK)
    frame(image, 3, 4, 28, 27, BLACK)
    # Three drive bays, each with a handle slot and a status light.
    lights = [LIME, LIME, YELLOW]
    for bay, light in enumerate(lights):
        top = 7 + bay * 5
        fill(image, 6, top, 21, top + 3, SILVER)
        frame(image, 6, top, 21, top + 3, BLACK)
        fill(image, 8, top + 1, 15, top + 2, WHITE)
        fill(image, 8, top + 2, 15, top + 2, GREY)
        fill(image, 23, top + 1, 25, top + 2, light)
        fill(image, 23, top + 3, 25, top + 3, BLACK)
    # Heartbeat line of the management controller along the bottom: the
    # points of the trace, joined column by column.
    fill(image, 5, 21, 26, 25, NAVY)
    trace = [24] * 7 + [24, 23, 21, 25, 24] + [24] * 3 + [23, 24] + [24] * 3
    previous = trace[0]
    for i, y in enumerate(trace):
        fill(image, 6 + i, min(previous, y), 6 + i, max(previous, y), CYAN)
        previous = y
    # Feet.
    fill(image, 5, 28, 8, 29, BLACK)
    fill(image, 23, 28, 26, 29, BLACK)
    return image


def draw_16():
    image = blank(16)
    fill(image, 1, 2, 14, 13, GREY)
    fill(image, 2, 3, 13, 3, SILVER)
    frame(image, 1, 2, 14, 13, BLACK)
    lights = [LIME, LIME, YELLOW]
    for bay, light in enumerate(lights):
        top = 4 + bay * 3
        fill(image, 3, top, 10, top + 1, SILVER)
        fill(image, 4, top, 8, top, WHITE)
        fill(image, 12, top, 12, top + 1, light)
    fill(image, 2, 12, 13, 12, NAVY)
    fill(image, 3, 12, 12, 12, CYAN)
    fill(image, 2, 14, 3, 14, BLACK)
    fill(image, 12, 14, 13, 14, BLACK)
    return image


def row_bytes(bits_per_pixel, width):
    """Bytes per bitmap row, padded to a multiple of four."""
    return ((bits_per_pixel * width + 31) // 32) * 4


def icon_image(image):
    """The image as an icon resource: BITMAPINFOHEADER, palette, colour
    bits (4 per pixel) and mask bits (1 per pixel, 1 = transparent), rows
    bottom-up."""
    size = len(image)
    colour_stride = row_bytes(4, size)
    mask_stride = row_bytes(1, size)
    colour_bits = bytearray()
    mask_bits = bytearray()
    for row in reversed(image):
        line = bytearray(colour_stride)
        mask = bytearray(mask_stride)
        for x, colour in enumerate(row):
            index = BLACK if colour is CLEAR else colour
            if x % 2 == 0:
                line[x // 2] |= index << 4
            else:
                line[x // 2] |= index
            if colour is CLEAR:
                mask[x // 8] |= 0x80 >> (x % 8)
        colour_bits += line
        mask_bits += mask
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                         len(colour_bits) + len(mask_bits), 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + bytes(colour_bits) + bytes(mask_bits)


def icon_file(images):
    """ICONDIR, one ICONDIRENTRY per image, then the images."""
    count = len(images)
    offset = 6 + 16 * count
    directory = struct.pack('<HHH', 0, 1, count)
    entries = b''
    for image in images:
        data = icon_image(image)
        size = len(image)
        entries += struct.pack('<BBBBHHII', size % 256, size % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return directory + entries + b''.join(icon_image(image) for image in images)


def preview(images, scale=8):
    """A PPM of both images side by side, enlarged, transparency in pink."""
    width = sum(len(image) for image in images) * scale + scale
    height = max(len(image) for image in images) * scale
    pixels = [[(0xFF, 0xC0, 0xE0)] * width for _ in range(height)]
    left = 0
    for image in images:
        for y, row in enumerate(image):
            for x, colour in enumerate(row):
                if colour is not CLEAR:
                    for dy in range(scale):
                        for dx in range(scale):
                            pixels[y * scale + dy][left + x * scale + dx] = PALETTE[colour]
        left += len(image) * scale + scale
    body = b''.join(bytes(channel for pixel in line for channel in pixel) for line in pixels)
    return b'P6 %d %d 255\n' % (width, height) + body


def main(arguments):
    output = 'tavrel.ico'
    preview_path = None
    i = 0
    while i < len(arguments):
        if arguments[i] == '--preview' and i + 1 < len(arguments):
            preview_path = arguments[i + 1]
            i += 2
            continue
        output = arguments[i]
        i += 1
    images = [draw_32(), draw_16()]
    with open(output, 'wb') as f:
        f.write(icon_file(images))
    if preview_path is not None:
        with open(preview_path, 'wb') as f:
            f.write(preview(images))


if __name__ == '__main__':
    main(sys.argv[1:])
