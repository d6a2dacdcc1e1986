"""Fuzz seeds: small cursors of several depths and animated cursors."""
import os
import random
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "formats"))
from ani_files import animated  # noqa: E402

out = sys.argv[1]
rnd = random.Random(115)


def row_bytes(width, bits):
    return (width * bits + 31) // 32 * 4


def cursor(width, height, bits, hot=(0, 0), kind=2):
    colours = 1 << bits if bits <= 8 else 0
    table = bytes(rnd.randrange(256) if i % 4 != 3 else 0 for i in range(4 * colours))
    xor = bytes(rnd.randrange(256) for _ in range(row_bytes(width, bits) * height))
    mask = bytes(rnd.randrange(256) for _ in range(row_bytes(width, 1) * height))
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, bits, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + table + xor + mask
    entry = struct.pack("<BBBBHHII", width & 255, height & 255, colours & 255, 0, hot[0], hot[1], len(image), 22)
    return struct.pack("<HHH", 0, kind, 1) + entry + image


def save(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


save("mono.cur", cursor(32, 32, 1, hot=(5, 7)))
save("four.cur", cursor(16, 16, 4))
save("alpha.cur", cursor(16, 16, 32, hot=(15, 15)))
save("wide.cur", cursor(24, 8, 8))
save("icon.cur", cursor(8, 16, 24, kind=1))
small = cursor(8, 8, 4)
save("two.ani", animated([small, cursor(8, 8, 1)]))
save("noflag.ani", animated([small], flags=2))
save("cut.ani", animated([small])[:90])
