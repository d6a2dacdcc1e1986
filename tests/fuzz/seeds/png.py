"""Fuzz seeds: PNG files of each colour type and several depths, with a
palette and transparency, interlaced and not, image data split over many
chunks, ancillary chunks longer than any image uses, written here with zlib
from pixels made by formula. Run as: png.py OUTDIR."""
import os
import struct
import sys
import zlib

ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def pack_row(samples, depth):
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if depth == 8:
        return bytes(samples)
    out = bytearray()
    bits = count = 0
    for s in samples:
        bits = bits << depth | s
        count += depth
        if count == 8:
            out.append(bits)
            bits = count = 0
    if count:
        out.append(bits << (8 - count))
    return bytes(out)


def scanlines(width, height, depth, channels, sample, interlaced):
    passes = ADAM7 if interlaced else [(0, 0, 1, 1)]
    out = bytearray()
    for x0, y0, dx, dy in passes:
        xs = range(x0, width, dx)
        for y in range(y0, height, dy):
            if not xs:
                continue
            row = [sample(x, y, c) for x in xs for c in range(channels)]
            out.append(0)  # no filter: the bytes stay as made
            out += pack_row(row, depth)
    return bytes(out)


def png(width, height, depth, colour, sample, extra=b"", interlaced=False):
    channels = CHANNELS[colour]
    data = scanlines(width, height, depth, channels, sample, interlaced)
    header = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 1 if interlaced else 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra + chunk(b"IDAT", zlib.compress(data, 9)) +
            chunk(b"IEND", b""))


def split(data, size, trailing):
    """The image data of a PNG file in IDAT chunks of size bytes, then an IDAT after the zlib stream."""
    at = data.index(b"IDAT") - 4
    length, = struct.unpack_from(">I", data, at)
    idat = data[at + 8:at + 8 + length]
    parts = b"".join(chunk(b"IDAT", idat[i:i + size]) for i in range(0, len(idat), size))
    return data[:at] + parts + chunk(b"IDAT", trailing) + data[at + 12 + length:]


def main(outdir):
    w, h = 11, 6
    files = {
        "grey1.png": png(w, h, 1, 0, lambda x, y, c: (x ^ y) & 1),
        "grey4.png": png(w, h, 4, 0, lambda x, y, c: (x + y) % 16),
        "rgb8.png": png(w, h, 8, 2, lambda x, y, c: (x * 23 + y * 41 + c * 80) % 256),
        "palette.png": png(w, h, 2, 3, lambda x, y, c: (x + 2 * y) % 4,
                           chunk(b"PLTE", bytes([255, 0, 0, 0, 255, 0, 0, 0, 255, 30, 30, 30])) +
                           chunk(b"tRNS", bytes([255, 128]))),
        "greyalpha.png": png(w, h, 8, 4, lambda x, y, c: x * 20 if c == 0 else y * 40),
        "rgba16.png": png(w, h, 16, 6, lambda x, y, c: (x * 5000 + y * 3000 + c * 9000) % 65536,
                          chunk(b"gAMA", struct.pack(">I", 45455))),
        "interlaced.png": png(w, h, 8, 2, lambda x, y, c: (x * 31 + y * 17 + c * 50) % 256, interlaced=True),
        "grey16trns.png": png(w, h, 16, 0, lambda x, y, c: x * 6000, chunk(b"tRNS", struct.pack(">H", 6000))),
        "split-idat.png": split(png(w, h, 8, 2, lambda x, y, c: (x * 13 + y * 7 + c) % 256), 7, bytes(40)),
        # Background, transparency and palette longer than any image can use.
        "long-ancillary.png": png(w, h, 8, 2, lambda x, y, c: (x + y + c) % 256,
                                  chunk(b"bKGD", bytes(8)) + chunk(b"tRNS", bytes(300)) + chunk(b"PLTE", bytes(771))),
    }
    for name, data in files.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
