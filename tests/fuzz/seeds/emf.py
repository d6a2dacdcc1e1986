"""Fuzz seeds for enhanced metafiles: drawing records, a file cut inside a
record, a header whose total claims more than the file holds, and records
longer than what is kept of them whole (a comment, a bitmap whose header
lies far from its fields, a polyline whose count passes its bytes)."""
import os
import struct
import sys


def emf(records, total=None, extra=b"", count=0):
    header = struct.pack("<II4i4iIIIIHH", 1, 108, 0, 0, 99, 49, 0, 0, 2540, 1270, 0x464D4520, 0x10000, 0, 0, 4, 0)
    header += struct.pack("<12I", 0, 0, 0, 960, 960, 254, 254, 0, 0, 0, 254000, 254000)
    body = b"".join(struct.pack("<II", t, 8 + 4 * len(f)) + b"".join(struct.pack("<i", v) for v in f) for t, f in records)
    body += extra + struct.pack("<II3I", 14, 20, 0, 16, 20)
    data = bytearray(header + body)
    struct.pack_into("<II", data, 48, total or len(data), len(records) + count + 2)
    return bytes(data)


def long_records():
    dib = struct.pack("<IiiHHIIiiII", 40, 2, 2, 1, 24, 0, 0, 0, 0, 0, 0) + bytes([0, 0, 255, 128, 128, 128, 0, 0] * 2)
    gap = 3 << 16
    stretch = struct.pack("<4i6i4I2I2i", 0, 0, -1, -1, 0, 0, 0, 0, 2, 2, 80 + gap, 40, 120 + gap, 16, 0, 0x00CC0020,
                          99, 49)
    polyline = struct.pack("<4iI", 0, 0, -1, -1, 20000) + bytes(8 * 9000)
    return emf_raw([(70, struct.pack("<I", 70000) + bytes(70000)), (81, stretch + bytes(gap) + dib), (4, polyline),
                    (43, struct.pack("<4i", 10, 10, 60, 30))])


def emf_raw(records):
    """Records given whole (type, payload); the header and end-of-file added."""
    body = b"".join(struct.pack("<II", t, 8 + len(p)) + p for t, p in records)
    return emf([], extra=body, count=len(records))


def main(out):
    shapes = emf([(43, [10, 10, 60, 30]), (42, [5, 5, 40, 40]), (27, [0, 0]), (54, [90, 45])])
    files = {
        "shapes.emf": shapes,
        "cut.emf": shapes[:150],
        "claims-more.emf": emf([(43, [10, 10, 60, 30])], total=1 << 20),
        "long-records.emf": long_records(),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
