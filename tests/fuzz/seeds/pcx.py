"""Fuzz seeds for the PCX reader: every plane and depth layout, run-length
and raw, with and without a palette block.  usage: pcx.py OUTDIR"""
import os
import random
import struct
import sys

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
rng = random.Random(121)


def header(width, height, bits, planes, version=5, encoding=1, info=1):
    bpl = (width * bits + 15) // 16 * 2
    h = struct.pack("<BBBBHHHHHH", 10, version, encoding, bits, 0, 0, width - 1, height - 1, 72, 72)
    palette = bytes(rng.randrange(256) for _ in range(48))
    return (h + palette + b"\0" + bytes([planes]) + struct.pack("<HH", bpl, info)).ljust(128, b"\0"), bpl


def rle(data):
    out, i = bytearray(), 0
    while i < len(data):
        n = 1
        while i + n < len(data) and n < 63 and data[i + n] == data[i]:
            n += 1
        if n > 1 or data[i] >= 0xC0:
            out += bytes([0xC0 | n, data[i]])
        else:
            out.append(data[i])
        i += n
    return bytes(out)


def write(name, width, height, bits, planes, **kw):
    h, bpl = header(width, height, bits, planes, **kw)
    data = bytes(rng.choice((0, 0, 0x55, rng.randrange(256))) for _ in range(bpl * planes * height))
    body = rle(data) if kw.get("encoding", 1) == 1 else data
    tail = bytes([12]) + bytes(rng.randrange(256) for _ in range(768)) if bits == 8 and planes == 1 else b""
    with open(os.path.join(out, name), "wb") as f:
        f.write(h + body + tail)


write("mono.pcx", 21, 9, 1, 1)
write("packed2.pcx", 13, 7, 2, 1)
write("packed4.pcx", 13, 7, 4, 1, version=3)
write("planes3.pcx", 19, 6, 1, 3)
write("planes4.pcx", 19, 6, 1, 4)
write("indexed8.pcx", 17, 8, 8, 1)
write("raw8.pcc", 17, 8, 8, 1, encoding=0)
write("rgb.pcx", 11, 5, 8, 3)
write("grey.scr", 9, 9, 4, 1, info=2)

# Lines that the header pads far beyond their pixels, run-length coded.
h, bpl = header(3, 40, 8, 1)
h = h[:66] + struct.pack("<H", 30000) + h[68:]
with open(os.path.join(out, "padded-lines.pcx"), "wb") as f:
    f.write(h + rle(b"".join(bytes([rng.randrange(256)]) * 30000 for _ in range(40))))
