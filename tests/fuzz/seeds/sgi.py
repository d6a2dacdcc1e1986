"""Fuzz seeds for the SGI reader: one, three and four channels, 8 and 16
bits, run-length and verbatim.  usage: sgi.py OUTDIR"""
import os
import random
import struct
import sys

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
rng = random.Random(1210)


def packed_row(samples, unit):
    """Alternating literal and repeat runs, closed by a zero count."""
    data, i = b"", 0
    fmt = ">H" if unit == 2 else ">B"
    while i < len(samples):
        n = min(rng.randint(1, 5), len(samples) - i)
        if rng.random() < 0.5:
            data += struct.pack(fmt, 0x80 | n) + b"".join(struct.pack(fmt, s) for s in samples[i:i + n])
        else:
            data += struct.pack(fmt, n) + struct.pack(fmt, samples[i])
        i += n
    return data + struct.pack(fmt, 0)


def write(name, width, height, channels, rle, bpc=1):
    h = struct.pack(">HBBHHHH", 474, 1 if rle else 0, bpc, 3 if channels > 1 else 2, width, height, channels)
    h = h.ljust(512, b"\0")
    top = 255 if bpc == 1 else 65535
    rows = [[rng.randint(0, top) for _ in range(width)] for _ in range(height * channels)]
    if rle:
        packed = [packed_row(r, bpc) for r in rows]
        offset, starts = 512 + 8 * len(rows), []
        for p in packed:
            starts.append(offset)
            offset += len(p)
        body = b"".join(struct.pack(">I", s) for s in starts) + b"".join(struct.pack(">I", len(p)) for p in packed)
        body += b"".join(packed)
    else:
        fmt = ">%d%s" % (width, "H" if bpc == 2 else "B")
        body = b"".join(struct.pack(fmt, *r) for r in rows)
    with open(os.path.join(out, name), "wb") as f:
        f.write(h + body)


write("grey.bw", 13, 9, 1, True)
write("grey16.bw", 7, 5, 1, False, 2)
write("rgb.rgb", 11, 7, 3, True)
write("rgb16.sgi", 9, 6, 3, True, 2)
write("verbatim.sgi", 10, 6, 3, False)
write("alpha.rgba", 8, 8, 4, True)
