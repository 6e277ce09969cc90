#!/usr/bin/env python3
"""A PNG decoder written from the format's rules alone, sharing no code with
libpng, as the reference the host's PNG reader is tested against. Prints
"width height" on one line, then the image as 8-bit RGBA, top row first:
palettes looked up, grey spread to R = G = B, tRNS made alpha (a missing one
opaque), samples under 8 bits spread over 0..255 and 16-bit ones rounded to
the nearest 8-bit value. Gamma, significant bits and the other ancillary
chunks describe display only and change no sample. Exits 1, printing
nothing, for a file a decoder must refuse: a bad signature, CRC, header,
filter or zlib stream, a missing or short image data, a missing IEND."""
import struct
import sys
import zlib

ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
DEPTHS = {0: (1, 2, 4, 8, 16), 2: (8, 16), 3: (1, 2, 4, 8), 4: (8, 16), 6: (8, 16)}


class Refused(Exception):
    pass


def chunks(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise Refused("signature")
    at = 8
    while True:
        if at + 12 > len(data):
            raise Refused("cut")
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if len(body) != length or at + 12 + length > len(data):
            raise Refused("cut")
        (crc,) = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        if zlib.crc32(kind + body) != crc:
            raise Refused("crc")
        yield kind, body
        if kind == b"IEND":
            return
        at += 12 + length


def unfilter(raw, height, row_bytes, pixel_bytes):
    rows, previous, at = [], bytearray(row_bytes), 0
    for _ in range(height):
        kind = raw[at]
        line = bytearray(raw[at + 1:at + 1 + row_bytes])
        at += 1 + row_bytes
        if kind > 4 or len(line) != row_bytes:
            raise Refused("filter")
        for i in range(row_bytes):
            a = line[i - pixel_bytes] if i >= pixel_bytes else 0
            b = previous[i]
            c = previous[i - pixel_bytes] if i >= pixel_bytes else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        previous = line
    return rows, at


def samples(line, count, depth):
    if depth == 16:
        return [line[2 * i] << 8 | line[2 * i + 1] for i in range(count)]
    if depth == 8:
        return list(line[:count])
    per_byte = 8 // depth
    mask = (1 << depth) - 1
    return [(line[i // per_byte] >> (8 - depth * (i % per_byte + 1))) & mask for i in range(count)]


def decode(data):
    header = plte = trns = None
    idat = b""
    seen_idat = False
    for kind, body in chunks(data):
        if kind == b"IHDR":
            header = body
        elif kind == b"PLTE":
            plte = body
        elif kind == b"tRNS":
            trns = body
        elif kind == b"IDAT":
            seen_idat = True
            idat += body
        elif header is None or kind[0] & 32 == 0 and kind not in (b"IEND",):
            raise Refused("unknown critical chunk")
    if header is None or len(header) != 13 or not seen_idat:
        raise Refused("header or data missing")
    width, height, depth, colour, method, filtering, interlace = struct.unpack(">IIBBBBB", header)
    if colour not in CHANNELS or depth not in DEPTHS[colour] or method or filtering or interlace > 1:
        raise Refused("header")
    if width == 0 or height == 0 or (colour == 3 and plte is None):
        raise Refused("header")
    try:
        raw = zlib.decompress(idat)
    except zlib.error:
        raise Refused("zlib")
    channels = CHANNELS[colour]
    pixel_bytes = max(1, channels * depth // 8)
    image = [[None] * width for _ in range(height)]
    at = 0
    for x0, y0, dx, dy in ADAM7 if interlace else [(0, 0, 1, 1)]:
        columns = len(range(x0, width, dx))
        lines = len(range(y0, height, dy))
        if columns == 0 or lines == 0:
            continue
        row_bytes = (columns * channels * depth + 7) // 8
        rows, used = unfilter(raw[at:], lines, row_bytes, pixel_bytes)
        at += used
        for j, line in enumerate(rows):
            values = samples(line, columns * channels, depth)
            for i in range(columns):
                image[y0 + j * dy][x0 + i * dx] = values[i * channels:(i + 1) * channels]

    maximum = (1 << depth) - 1
    scale = lambda v: (v * 255 + maximum // 2) // maximum if depth == 16 else v * 255 // maximum
    key = None
    if trns is not None and colour == 0:
        key = [struct.unpack(">H", trns[:2])[0]]
    elif trns is not None and colour == 2:
        key = list(struct.unpack(">HHH", trns[:6]))
    out = bytearray()
    for row in image:
        for pixel in row:
            if colour == 3:
                index = pixel[0]
                if 3 * index + 3 > len(plte):
                    raise Refused("palette index")
                alpha = trns[index] if trns is not None and index < len(trns) else 255
                out += plte[3 * index:3 * index + 3] + bytes([alpha])
                continue
            alpha = 255
            if channels in (2, 4):
                alpha = scale(pixel[-1])
                pixel = pixel[:-1]
            elif key is not None and pixel == key:
                alpha = 0
            colours = [scale(v) for v in pixel]
            if len(colours) == 1:
                colours *= 3
            out += bytes(colours + [alpha])
    return width, height, bytes(out)


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    try:
        width, height, pixels = decode(data)
    except Refused:
        sys.exit(1)
    sys.stdout.buffer.write(b"%d %d\n" % (width, height) + pixels)


if __name__ == "__main__":
    main()
