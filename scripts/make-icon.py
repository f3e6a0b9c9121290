#!/usr/bin/env python3
"""Draws Frostpane's icon, a pane of frosted glass in a window frame, as a 16-colour .ico
holding a 32 x 32 and a 16 x 16 image. Run it to regenerate res/Frostpane.ico."""
import struct
import sys
from pathlib import Path

# The 16 standard colours, as (blue, green, red, 0).
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128), (128, 128, 0),
    (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255), (255, 0, 0),
    (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
BLACK, DARK_GREY, LIGHT_GREY, WHITE, CYAN, TEAL, NAVY = 0, 8, 7, 15, 14, 6, 4
TRANSPARENT = None


def pane(size):
    """Rows of palette indices, top row first; None is transparent."""
    rows = []
    frame = 1 if size == 16 else 2
    mid = size // 2
    for y in range(size):
        row = []
        for x in range(size):
            edge = x < frame or y < frame or x >= size - frame or y >= size - frame
            bar = abs(x - mid) < frame // 2 + (size == 16 and x == mid) or abs(y - mid) < frame // 2 + (
                size == 16 and y == mid)
            if x == 0 or y == 0 or x == size - 1 or y == size - 1:
                row.append(NAVY)
            elif edge or bar:
                row.append(DARK_GREY if (x + y) % 2 else LIGHT_GREY)
            else:
                # Frost: a light field with a diagonal glint and a stippled crystal texture.
                d = (x - y) % size
                if d in (size // 4, size // 4 + 1):
                    row.append(WHITE)
                elif (x * 7 + y * 3) % 5 == 0:
                    row.append(LIGHT_GREY)
                elif (x + 2 * y) % 7 == 0:
                    row.append(CYAN)
                elif y > size * 3 // 4 and (x + y) % 3 == 0:
                    row.append(TEAL)
                else:
                    row.append(WHITE if (x * y) % 11 == 0 else CYAN if (x ^ y) % 4 == 0 else WHITE)
        rows.append(row)
    return rows


def dib(rows):
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    colours = b''.join(struct.pack('<BBBB', b, g, r, 0) for (b, g, r) in PALETTE)
    xor = b''
    and_mask = b''
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):  # bottom-up
        nibbles = [(i if i is not None else 0) for i in row]
        line = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor += line + b'\0' * ((-len(line)) % 4)
        bits = 0
        for i, p in enumerate(row):
            if p is None:
                bits |= 1 << (mask_stride * 8 - 1 - i)
        and_mask += bits.to_bytes(mask_stride, 'big')
    return header + colours + xor + and_mask


def main(out):
    images = [dib(pane(32)), dib(pane(16))]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip((32, 16), images):
        data += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    data += b''.join(images)
    Path(out).write_bytes(data)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / 'res' / 'Frostpane.ico')
