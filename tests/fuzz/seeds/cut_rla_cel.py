"""Fuzz seeds: small Dr. Halo CUT, Alias/Wavefront RLA and Autodesk files."""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "graphics"))
from cut_rla_cel_files import cel, cut, rla  # noqa: E402

out = sys.argv[1]
rnd = random.Random(20)


def save(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


rows = [[rnd.randrange(4) * 60 for _ in range(12)] for _ in range(5)]
save("runs.cut", cut(rows))
save("one.cut", cut([[7]]))
pixels = [[(rnd.randrange(256), x * 20, y * 40, 255) for x in range(8)] for y in range(4)]
save("plain.rla", rla(pixels))
save("matte.rla", rla(pixels, matte=True, bottom_up=False, gamma=b"2.2"))
save("linear.rla", rla(pixels, gamma=b"1.0"))
save("xyz.rla", rla(pixels, space=b"xyz"))
palette = [(i % 64, (i * 3) % 64, 63 - i % 64) for i in range(256)]
save("small.cel", cel([[rnd.randrange(256) for _ in range(6)] for _ in range(4)], palette))
save("small.pic", cel([[1, 2], [3, 4]], palette))
