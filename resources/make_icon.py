#!/usr/bin/env python3
"""Draws the installer's application icon, a plain application window (frame, title bar with
a close box, client area), and writes it as resources/app.ico with eight images:
32 and 16 pixels at 4 bits per pixel; 48, 32 and 16 at 8 bits; 48, 32 and 16 at 32 bits with
alpha. Run it again after a change and commit both files: python3 resources/make_icon.py"""

import os
import struct

IMAGES = [(32, 4), (16, 4), (48, 8), (32, 8), (16, 8), (48, 32), (32, 32), (16, 32)]

# The 16 colours every display shows; the 4-bit images use these only.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
       (255, 0, 255), (0, 255, 255), (255, 255, 255)]
FRAME, TITLE, TITLE_DARK, CLIENT, CLOSE, SHADOW = (64, 64, 64), (0, 0, 128), (0, 0, 96), (255, 255, 255), \
    (192, 192, 192), (0, 0, 0)


def window(size):
    """The picture as a function of (x, y): an RGB colour, or None where it is transparent."""
    margin = max(1, size // 16)
    left, top, right, bottom = margin, margin + size // 16, size - margin - 1, size - margin - 1
    bar = max(3, size // 5)  # height of the title bar
    box = max(2, bar - 2)    # the close box at its right end

    def pixel(x, y):
        if not (left <= x <= right and top <= y <= bottom):
            return None
        if x in (left, right) or y in (top, bottom):
            return FRAME
        if y <= top + bar:
            if right - 1 - box <= x <= right - 2 and top + 2 <= y <= top + 1 + box - 1:
                return CLOSE
            # A title bar that darkens towards its right end where there are colours for it.
            return TITLE if x < (left + right) // 2 else TITLE_DARK
        return CLIENT

    return pixel


def nearest(colour, palette):
    return min(range(len(palette)), key=lambda i: sum((a - b) ** 2 for a, b in zip(colour, palette[i])))


def row_bytes(bits):
    return (bits + 31) // 32 * 4


def dib(size, depth):
    pixel = window(size)
    palette = VGA if depth == 4 else VGA + [TITLE_DARK, FRAME] + [(0, 0, 0)] * 238 if depth == 8 else []
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):  # bottom-up rows
        bits = []
        mask_bits = []
        for x in range(size):
            colour = pixel(x, y)
            transparent = colour is None
            mask_bits.append(1 if transparent else 0)
            if depth == 32:
                r, g, b = colour if colour else (0, 0, 0)
                bits.append(bytes((b, g, r, 0 if transparent else 255)))
            else:
                bits.append(0 if transparent else nearest(colour, palette))
        if depth == 32:
            line = b"".join(bits)
        elif depth == 8:
            line = bytes(bits)
        else:
            line = bytes((bits[i] << 4) | bits[i + 1] for i in range(0, size, 2))
        xor += line + b"\0" * (row_bytes(size * depth) - len(line))
        packed = bytes(sum(bit << (7 - j) for j, bit in enumerate(mask_bits[i:i + 8])) for i in range(0, size, 8))
        mask += packed + b"\0" * (row_bytes(size) - len(packed))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0, len(xor) + len(mask), 0, 0, 0, 0)
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + colours + bytes(xor) + bytes(mask)


def main():
    images = [dib(size, depth) for size, depth in IMAGES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, depth), image in zip(IMAGES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16 if depth == 4 else 0, 0, 1, depth, len(image), offset)
        offset += len(image)
    out += b"".join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "app.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
