#!/usr/bin/env python3
"""Writes COUNT small RGBA PNG images of known, distinct pixels into FOLDER
(image_000.png, ...) and their names, one a line, into FOLDER/list.txt.
Usage: make_images.py FOLDER COUNT"""

import struct
import sys
import zlib
from pathlib import Path


def png(width, height, pixel):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


def main():
    folder, count = Path(sys.argv[1]), int(sys.argv[2])
    folder.mkdir(parents=True, exist_ok=True)
    names = []
    for index in range(count):
        # Sizes from 20 x 20 to 83 x 52, so that some are shrunk and some enlarged.
        width, height = 20 + index % 64, 20 + index % 33
        name = f"image_{index:03d}.png"
        pixels = png(width, height, lambda x, y: ((x * 7 + index) % 256, (y * 5 + 3 * index) % 256,
                                                  (x * y + index * 11) % 256, 255 - (index % 2) * (x % 128)))
        (folder / name).write_bytes(pixels)
        names.append(name)
    (folder / "list.txt").write_text("\n".join(names) + "\n")


if __name__ == "__main__":
    main()
