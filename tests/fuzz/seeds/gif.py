"""Fuzz seeds for the GIF reader: small files, valid and edge cases, written
deterministically into the directory given."""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "graphics"))
from gif_files import gif_file, lzw_codes  # noqa: E402

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
rnd = random.Random(18)
palette = [(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(16)]


def rows(w, h, colours):
    return [[rnd.randrange(colours) for _ in range(w)] for _ in range(h)]


extensions = (b"!\xf9\x04\x01\x00\x00\x02\x00" + b"!\xfe\x05a,b;c\x00" + b"!\x99\x03,,;\x00" +
              b"!\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00")
r = rows(16, 12, 16)
seeds = {
    "plain.gif": gif_file(16, 12, r, palette),
    "interlaced.gif": gif_file(16, 12, r, palette, interlace=True),
    "local.gif": gif_file(9, 7, rows(9, 7, 4), palette, local=palette[:4], extensions=extensions),
    "two-colours.gif": gif_file(5, 20, rows(5, 20, 2), palette[:2]),
    "descriptor-0.gif": gif_file(6, 6, rows(6, 6, 8), palette[:8], descriptor_size=(0, 0), version=b"87a"),
    "lzw-cut.gif": gif_file(16, 12, r, palette, data=lzw_codes([v for row in r for v in row], 4)[:30]),
    "code-size-12.gif": gif_file(4, 4, rows(4, 4, 4), palette, code_size=12),
    "trailer-only.gif": b"GIF89a\x04\x00\x04\x00\x80\x00\x00" + bytes(6) + b";",
    "extension-cut.gif": gif_file(4, 4, rows(4, 4, 4), palette[:4])[:25] + b"!\x01\x0c\x00",
    # Extensions by the dozen, with stray bytes between them.
    "many-extensions.gif": gif_file(3, 3, rows(3, 3, 4), palette[:4],
                                    extensions=extensions * 30 + b"\x00\x07" * 20),
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
