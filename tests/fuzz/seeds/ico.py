"""Fuzz seeds: icon files with one or several images of 1, 4, 8, 24 and
32 bits, colour and mask made by formula, and one image stored as PNG.
Run as: ico.py OUTDIR."""
import os
import struct
import sys
import zlib


def pad(row):
    return row + b"\0" * (-len(row) % 4)


def pack(values, bpp):
    out = bytearray()
    bits = count = 0
    for v in values:
        bits = bits << bpp | v
        count += bpp
        if count == 8:
            out.append(bits)
            bits = count = 0
    if count:
        out.append(bits << (8 - count))
    return bytes(out)


def image(size, bpp):
    """A DIB of the icon: header with doubled height, colour table, colour
    rows bottom-up, then the 1-bit mask."""
    colours = 1 << bpp if bpp <= 8 else 0
    head = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0, colours, 0)
    table = b"".join(bytes((i * 37 % 256, i * 91 % 256, i * 13 % 256, 0)) for i in range(colours))
    rows = []
    for y in range(size):
        if bpp <= 8:
            rows.append(pad(pack([(x + y) % colours for x in range(size)], bpp)))
        elif bpp == 24:
            rows.append(pad(b"".join(bytes((x * 16, y * 16, 128)) for x in range(size))))
        else:
            rows.append(b"".join(bytes((x * 16, y * 16, 128, (x * y * 4) % 256)) for x in range(size)))
    mask = [pad(pack([1 if x < y else 0 for x in range(size)], 1)) for y in range(size)]
    return head + table + b"".join(rows) + b"".join(mask)


def png_image(size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + b"".join(bytes((x * 16, y * 16, 200, 255 - x * 8)) for x in range(size))
                   for y in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def ico(images):
    """images: (size, bpp, data) each; the directory, then the data."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bpp, data in images:
        colours = 1 << bpp if bpp < 8 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def main(outdir):
    files = {
        "mono.ico": ico([(16, 1, image(16, 1))]),
        "sixteen.ico": ico([(16, 4, image(16, 4))]),
        "several.ico": ico([(8, 8, image(8, 8)), (16, 24, image(16, 24)), (16, 32, image(16, 32))]),
        "alpha.ico": ico([(12, 32, image(12, 32))]),
        "stored-png.ico": ico([(16, 32, png_image(16))]),
    }
    for name, data in files.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
