"""Fuzz seeds for the portable map reader: every kind, raw and plain, wide
samples, comments and a one-line header.  usage: ppm.py OUTDIR"""
import os
import random
import sys

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
rng = random.Random(124)


def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def samples(n, top):
    return [rng.randint(0, top) for _ in range(n)]


def plain(values):
    return " ".join(map(str, values)).encode() + b"\n"


w, h = 11, 7
write("plain.pbm", b"P1\n# bits\n%d %d\n" % (w, h) + b"".join(
    "".join(str(rng.randint(0, 1)) for _ in range(w)).encode() + b"\n" for _ in range(h)))
write("plain.pgm", b"P2\n%d %d\n# comment\n100\n" % (w, h) + plain(samples(w * h, 100)))
write("plain.ppm", b"P3\n%d %d\n255\n" % (w, h) + plain(samples(3 * w * h, 255)))
write("raw.pbm", b"P4\n%d %d\n" % (w, h) + bytes(samples((w + 7) // 8 * h, 255)))
write("raw.pgm", b"P5\n%d %d\n255\n" % (w, h) + bytes(samples(w * h, 255)))
write("raw.ppm", b"P6\n%d %d\n255\n" % (w, h) + bytes(samples(3 * w * h, 255)))
write("wide.ppm", b"P6\n%d %d\n65535\n" % (w, h) + bytes(samples(6 * w * h, 255)))
write("oneline.pnm", b"P5 %d %d 15\n" % (w, h) + bytes(samples(w * h, 15)))
write("crlf.pgm", b"P2\r\n2 2\r\n255\r\n1 2\r\n3 4\r\n")
