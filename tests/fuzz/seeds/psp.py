"""Seeds for the fuzz target: small Paint Shop Pro files, valid and damaged.

Run as: python3 psp.py OUTDIR. Deterministic; needs nothing but Python.
"""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "graphics"))
from psp_files import channel, layer, psp  # noqa: E402


def seed(version, width, height, depth, grey, compression, channel_types, rnd, palette=0):
    """A one-layer file with random samples; the palette's four bytes an
    entry, reserved byte included, are random too."""
    row = (width + 7) // 8 if depth == 1 else (width + 1) // 2 if depth == 4 else width
    colours = None
    if palette:
        raw = [rnd.randrange(256) for _ in range(4 * palette)]
        colours = [(raw[i + 2], raw[i + 1], raw[i], raw[i + 3]) for i in range(0, len(raw), 4)]
    channels = [channel(version, ctype, bytes(rnd.randrange(256) if rnd.random() < 0.4 else 5
                                              for _ in range(row * height)), compression, bitmap=0)
                for ctype in channel_types]
    return psp(version, depth, grey, compression, [layer(version, 0, channels, width, height)], colours,
               width=width, height=height, resolution=28.35, unit=2, colour_count=0, creator=None)


def main(outdir):
    os.makedirs(outdir, exist_ok=True)
    rnd = random.Random(1118)
    files = {
        "rgb-v5-rle.psp": seed(5, 9, 7, 24, 0, 1, [1, 2, 3], rnd),
        "rgba-v5-lz77.psp": seed(5, 8, 6, 24, 0, 2, [1, 2, 3, 0], rnd),
        "rgb-v3-raw.psp": seed(3, 7, 5, 24, 0, 0, [1, 2, 3], rnd),
        "indexed8-v5.psp": seed(5, 10, 4, 8, 0, 1, [0], rnd, palette=256),
        "indexed4-v3.psp": seed(3, 11, 5, 4, 0, 1, [0], rnd, palette=16),
        "grey1-v5.psp": seed(5, 13, 6, 1, 1, 2, [0, 0], rnd),
        "grey8-v5-raw.psp": seed(5, 6, 6, 8, 1, 0, [0], rnd),
    }
    damaged = bytearray(files["rgb-v5-rle.psp"])
    damaged[-30] ^= 0xFF
    files["rle-damaged.psp"] = bytes(damaged)
    lz = bytearray(files["rgba-v5-lz77.psp"])
    lz[-20:-10] = bytes(10)
    files["lz77-damaged.psp"] = bytes(lz)
    files["truncated.psp"] = files["indexed8-v5.psp"][:700]
    for name, data in files.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)


main(sys.argv[1])
