"""Fuzz seeds for Windows metafiles, placeable and plain: a few drawing
records, a truncated file, one whose size field claims more than the
file holds, and records longer than what is kept of them whole (an escape,
a device-independent bitmap with bytes after it, an old bitmap with rows
padded far beyond its pixels)."""
import os
import struct
import sys


def wmf_records(*records):
    out = b""
    for function, params in records:
        out += struct.pack("<IH", 3 + len(params), function) + b"".join(struct.pack("<h", p) for p in params)
    return out + struct.pack("<IH", 3, 0)


def wmf(records, placeable=True, size_words=None):
    header = struct.pack("<HHHIHIH", 1, 9, 0x300, size_words or (18 + len(records)) // 2, 4, 16, 0)
    if not placeable:
        return header + records
    place = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, 0, 0, 200, 100, 1440, 0)
    checksum = 0
    for i in range(0, 20, 2):
        checksum ^= struct.unpack_from("<H", place, i)[0]
    return place + struct.pack("<H", checksum) + header + records


def raw(function, payload):
    return struct.pack("<IH", 3 + len(payload) // 2, function) + payload


def long_records():
    words = lambda *v: b"".join(struct.pack("<H", x & 0xFFFF) for x in v)
    dib = struct.pack("<IiiHHIIiiII", 40, 2, 2, 1, 24, 0, 0, 0, 0, 0, 0) + bytes([0, 0, 255, 128, 128, 128, 0, 0] * 2)
    rows = b"".join(bytes([0x80 >> y]) + bytes(29999) for y in range(3))
    return (raw(0x0626, words(15, 0) + bytes(70000))
            + raw(0x0B41, words(0x20, 0xCC, 2, 2, 0, 0, 100, 200, 0, 0) + dib + bytes(70000))
            + raw(0x0B23, words(0x20, 0xCC, 3, 2, 0, 0, 100, 200, 0, 0, 0, 2, 3, 30000, 0x0101) + rows)
            + struct.pack("<IH", 3, 0))


def main(out):
    drawing = wmf_records((0x02FC, [0, 0x00FF, 0, 0]), (0x012D, [0]), (0x041B, [80, 150, 10, 20]),
                          (0x0418, [60, 90, 5, 5]))
    plain = wmf_records((0x020B, [0, 0]), (0x020C, [100, 200]), (0x041B, [80, 150, 10, 20]))
    files = {
        "placeable.wmf": wmf(drawing),
        "plain.wmf": wmf(plain, placeable=False),
        "claims-more.wmf": wmf(plain, placeable=False, size_words=0x7FFFFFFF),
        "truncated.wmf": wmf(drawing)[:-9],
        "long-records.wmf": wmf(long_records()),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
