"""Fuzz seeds: Windows bitmaps (.bmp, .dib, .rle) of every depth, top-down
and bottom-up, with bit fields and run-length compression, pixels made by
formula. Run as: bmp.py OUTDIR."""
import os
import struct
import sys


def dib(width, height, bpp, rows, palette=(), compression=0, masks=(), header=40, image=None):
    """A BITMAPINFOHEADER (or the 12-byte core header) with its colour table
    and pixel data; rows are already packed and padded (or image is given)."""
    data = image if image is not None else b"".join(rows)
    if header == 12:
        head = struct.pack("<IHHHH", 12, width, height & 0xFFFF, 1, bpp)
        table = b"".join(bytes((b, g, r)) for r, g, b in palette)
    else:
        head = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, compression, len(data), 2835, 2835,
                           len(palette), 0)
        table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return head + b"".join(struct.pack("<I", m) for m in masks) + table, data


def bmp(info, data):
    offset = 14 + len(info)
    return b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + info + data


def pad(row):
    return row + b"\0" * (-len(row) % 4)


def packed(width, height, bpp, value):
    rows = []
    for y in range(height):
        bits = 0
        count = 0
        row = bytearray()
        for x in range(width):
            bits = bits << bpp | value(x, y)
            count += bpp
            if count == 8:
                row.append(bits)
                bits = count = 0
        if count:
            row.append(bits << (8 - count))
        rows.append(pad(bytes(row)))
    return rows


def grey(n):
    return [(i * 255 // (n - 1),) * 3 for i in range(n)]


def rle8(width, height):
    out = bytearray()
    for y in range(height):
        out += bytes((width // 2, y * 16 % 256, width - width // 2, 255 - y * 16 % 256, 0, 0))
    out += bytes((0, 1))
    return bytes(out)


def rle4(width, height):
    out = bytearray()
    for y in range(height):
        out += bytes((width, (y % 16) << 4 | (15 - y % 16), 0, 0))
    # a delta, an absolute run of 4 pixels and the end
    out += bytes((0, 2, 1, 0, 0, 4, 0x12, 0x34, 0, 1))
    return bytes(out)


def main(outdir):
    w, h = 13, 7
    files = {
        "mono.bmp": dib(w, h, 1, packed(w, h, 1, lambda x, y: (x + y) & 1), [(0, 0, 0), (255, 255, 255)]),
        "nibbles.bmp": dib(w, h, 4, packed(w, h, 4, lambda x, y: (x * y) % 16), grey(16)),
        "indexed.dib": dib(w, -h, 8, packed(w, h, 8, lambda x, y: (x * 19 + y * 7) % 256), grey(256)),
        "rgb.bmp": dib(w, h, 24, [pad(b"".join(bytes((x * 19, y * 36, (x + y) * 9)) for x in range(w)))
                                  for y in range(h)]),
        "bitfields.bmp": dib(w, h, 16, [pad(b"".join(struct.pack("<H", (x << 11 | y << 5 | x + y) & 0xFFFF)
                                                     for x in range(w))) for y in range(h)],
                             compression=3, masks=(0xF800, 0x07E0, 0x001F)),
        "argb.bmp": dib(w, h, 32, [b"".join(bytes((x * 19 % 256, y * 36, 128, 255 - x)) for x in range(w))
                                   for y in range(h)]),
        "core.bmp": dib(w, h, 4, packed(w, h, 4, lambda x, y: (x + y) % 16),
                        [(i * 17, 255 - i * 17, i * 5) for i in range(16)], header=12),
        "runs8.rle": dib(w, h, 8, None, grey(256), compression=1, image=rle8(w, h)),
        "runs4.rle": dib(16, h, 4, None, grey(16), compression=2, image=rle4(16, h)),
    }
    for name, (info, data) in files.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(bmp(info, data))


if __name__ == "__main__":
    main(sys.argv[1])
