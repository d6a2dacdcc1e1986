"""Seeds for the fuzz target: small Photoshop files, valid and damaged.

Run as: python3 psd.py OUTDIR. Deterministic; needs nothing but Python.
"""
import os
import random
import struct
import sys


def packbits(row):
    out, i = bytearray(), 0
    while i < len(row):
        j = i
        while j < len(row) and j - i < 128 and row[j] == row[i]:
            j += 1
        if j - i >= 3:
            out += bytes([257 - (j - i), row[i]])
            i = j
            continue
        j = i
        while j < len(row) and j - i < 128 and not (j + 2 < len(row) and row[j] == row[j + 1] == row[j + 2]):
            j += 1
        out += bytes([j - i - 1]) + bytes(row[i:j])
        i = j
    return bytes(out)


def psd(channels, width, height, depth, mode, compression, color_data=b"", rnd=None):
    row_bytes = (width * depth + 7) // 8
    planes = [[bytes(rnd.randrange(256) if rnd.random() < 0.5 else 17 for _ in range(row_bytes))
               for _ in range(height)] for _ in range(channels)]
    out = b"8BPS" + struct.pack(">H6xHIIHH", 1, channels, height, width, depth, mode)
    out += struct.pack(">I", len(color_data)) + color_data + struct.pack(">II", 4, 0) + b"\0" * 4
    out += struct.pack(">H", compression)
    if compression == 1:
        packed = [[packbits(r) for r in p] for p in planes]
        out += b"".join(struct.pack(">H", len(r)) for p in packed for r in p)
        out += b"".join(r for p in packed for r in p)
    else:
        out += b"".join(r for p in planes for r in p)
    return out


def main(outdir):
    os.makedirs(outdir, exist_ok=True)
    rnd = random.Random(1117)
    table = bytes(rnd.randrange(256) for _ in range(768))
    files = {
        "rgb-raw.psd": psd(3, 9, 7, 8, 3, 0, rnd=rnd),
        "rgba-rle.psd": psd(4, 9, 7, 8, 3, 1, rnd=rnd),
        "grey16-rle.psd": psd(1, 7, 5, 16, 1, 1, rnd=rnd),
        "cmyk-rle.psd": psd(4, 6, 6, 8, 4, 1, rnd=rnd),
        "indexed.psd": psd(1, 8, 4, 8, 2, 0, table, rnd=rnd),
        "bitmap-rle.psd": psd(1, 13, 5, 1, 0, 1, rnd=rnd),
        "lab.pdd": psd(3, 5, 5, 8, 9, 0, rnd=rnd),
        "duotone.psd": psd(2, 6, 3, 8, 8, 1, b"\1" * 40, rnd=rnd),
    }
    damaged = bytearray(files["rgba-rle.psd"])
    damaged[40:44] = b"\xff\xff\xff\xff"  # a row count far beyond the data
    files["rle-damaged.psd"] = bytes(damaged)
    files["truncated.psd"] = files["cmyk-rle.psd"][:60]
    for name, data in files.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)


main(sys.argv[1])
