"""Seeds for the fuzz target: small Photoshop files, valid and damaged.

Run as: python3 psd.py OUTDIR. Deterministic; needs nothing but Python.
"""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "graphics"))
from psd_files import psd  # noqa: E402


def seed(channels, width, height, depth, mode, compression, color_data=b"", rnd=None):
    """Random samples, half of them one value so that PackBits finds runs;
    four bytes of image resources."""
    row_bytes = (width * depth + 7) // 8
    planes = [[bytes(rnd.randrange(256) if rnd.random() < 0.5 else 17 for _ in range(row_bytes))
               for _ in range(height)] for _ in range(channels)]
    return psd(planes, mode, width=width, depth=depth, compression=compression, color_data=color_data,
               resources=bytes(4))


def main(outdir):
    os.makedirs(outdir, exist_ok=True)
    rnd = random.Random(1117)
    table = bytes(rnd.randrange(256) for _ in range(768))
    files = {
        "rgb-raw.psd": seed(3, 9, 7, 8, 3, 0, rnd=rnd),
        "rgba-rle.psd": seed(4, 9, 7, 8, 3, 1, rnd=rnd),
        "grey16-rle.psd": seed(1, 7, 5, 16, 1, 1, rnd=rnd),
        "cmyk-rle.psd": seed(4, 6, 6, 8, 4, 1, rnd=rnd),
        "indexed.psd": seed(1, 8, 4, 8, 2, 0, table, rnd=rnd),
        "bitmap-rle.psd": seed(1, 13, 5, 1, 0, 1, rnd=rnd),
        "lab.pdd": seed(3, 5, 5, 8, 9, 0, rnd=rnd),
        "duotone.psd": seed(2, 6, 3, 8, 8, 1, b"\1" * 40, rnd=rnd),
    }
    # No pixels but many rows; a tall, narrow picture.
    files["no-pixels-rle.psd"] = seed(3, 0, 300, 8, 3, 1, rnd=rnd)
    files["tall-rle.psd"] = seed(3, 2, 500, 8, 3, 1, rnd=rnd)
    damaged = bytearray(files["rgba-rle.psd"])
    damaged[40:44] = b"\xff\xff\xff\xff"  # a row count far beyond the data
    files["rle-damaged.psd"] = bytes(damaged)
    files["truncated.psd"] = files["cmyk-rle.psd"][:60]
    for name, data in files.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)


main(sys.argv[1])
