"""Fuzz seeds for enhanced metafiles: drawing records, a file cut inside a
record, and a header whose total claims more than the file holds."""
import os
import struct
import sys


def emf(records, total=None):
    header = struct.pack("<II4i4iIIIIHH", 1, 108, 0, 0, 99, 49, 0, 0, 2540, 1270, 0x464D4520, 0x10000, 0, 0, 4, 0)
    header += struct.pack("<12I", 0, 0, 0, 960, 960, 254, 254, 0, 0, 0, 254000, 254000)
    body = b"".join(struct.pack("<II", t, 8 + 4 * len(f)) + b"".join(struct.pack("<i", v) for v in f) for t, f in records)
    body += struct.pack("<II3I", 14, 20, 0, 16, 20)
    data = bytearray(header + body)
    struct.pack_into("<II", data, 48, total or len(data), len(records) + 2)
    return bytes(data)


def main(out):
    shapes = emf([(43, [10, 10, 60, 30]), (42, [5, 5, 40, 40]), (27, [0, 0]), (54, [90, 45])])
    files = {
        "shapes.emf": shapes,
        "cut.emf": shapes[:150],
        "claims-more.emf": emf([(43, [10, 10, 60, 30])], total=1 << 20),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
