"""Fuzz seeds for the Targa reader: small files of every image type, valid
and edge cases, written deterministically into the directory given."""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "graphics"))
from targa_files import tga_file  # noqa: E402

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
rnd = random.Random(20)


def pixels(w, h, size, runs=True):
    rows = []
    for _ in range(h):
        row = [bytes(rnd.randrange(256) for _ in range(size)) for _ in range(w)]
        if runs:
            row[1:w // 2] = [row[0]] * (w // 2 - 1)
        rows.append(row)
    return rows


cmap24 = bytes(rnd.randrange(256) for _ in range(3 * 16))
cmap16 = bytes(rnd.randrange(256) for _ in range(2 * 16))
seeds = {
    "indexed.tga": tga_file(9, 5, [[bytes([rnd.randrange(16)]) for _ in range(9)] for _ in range(5)], 8, 1,
                            cmap=cmap24, map_length=16, entry_size=24, ident=b"seed"),
    "indexed-rle-map16.tga": tga_file(9, 5, [[bytes([rnd.randrange(16)])] * 9 for _ in range(5)], 8, 9,
                                      cmap=cmap16, map_length=16, entry_size=16, descriptor=0),
    "rgb24.tga": tga_file(7, 6, pixels(7, 6, 3), 24, 2, descriptor=0),
    "rgb24-rle.tga": tga_file(7, 6, pixels(7, 6, 3), 24, 10),
    "rgb16-rle.tga": tga_file(8, 4, pixels(8, 4, 2), 16, 10),
    "rgba32-rle-across.tga": tga_file(3, 8, pixels(3, 8, 4), 32, 10, across_rows=True),
    "grey-rle.tga": tga_file(10, 3, pixels(10, 3, 1), 8, 11, cmap=cmap24, map_length=16, entry_size=24),
    "grey-alpha.tga": tga_file(5, 5, pixels(5, 5, 2), 16, 3),
    "rle-cut.tga": tga_file(12, 12, pixels(12, 12, 3), 24, 10)[:200],
    "rgb15-right-to-left.tga": tga_file(6, 4, pixels(6, 4, 2), 15, 2, descriptor=0x10),
    "grey-alpha-rle-right-to-left.tga": tga_file(5, 6, pixels(5, 6, 2), 16, 11, descriptor=0x30, across_rows=True),
}
# A map that starts at index 200: pixels below it and past its end.
first = bytearray(tga_file(9, 3, [[bytes([rnd.choice((0, 200, 215, 216))]) for _ in range(9)] for _ in range(3)], 8, 9,
                           cmap=cmap24, map_length=16, entry_size=24, descriptor=0x10))
first[3:5] = (200).to_bytes(2, "little")
seeds["indexed-rle-first-index.tga"] = bytes(first)
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
