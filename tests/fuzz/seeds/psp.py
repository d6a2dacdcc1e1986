"""Seeds for the fuzz target: small Paint Shop Pro files, valid and damaged.

Run as: python3 psp.py OUTDIR. Deterministic; needs nothing but Python.
"""
import os
import random
import struct
import sys
import zlib


def rle(data):
    out, i = bytearray(), 0
    while i < len(data):
        j = i
        while j < len(data) and j - i < 127 and data[j] == data[i]:
            j += 1
        if j - i >= 3:
            out += bytes([128 + j - i, data[i]])
            i = j
            continue
        j = i
        while j < len(data) and j - i < 127 and not (j + 2 < len(data) and data[j] == data[j + 1] == data[j + 2]):
            j += 1
        out += bytes([j - i]) + bytes(data[i:j])
        i = j
    return bytes(out)


def block(version, kind, body):
    head = b"~BK\0" + struct.pack("<H", kind)
    if version == 3:
        head += struct.pack("<I", len(body))
    return head + struct.pack("<I", len(body)) + body


def chunk(version, body):
    return (struct.pack("<I", len(body) + 4) if version > 3 else b"") + body


def psp(version, width, height, depth, grey, compression, channel_types, rnd, palette=0):
    row = (width + 7) // 8 if depth == 1 else (width + 1) // 2 if depth == 4 else width
    head = b"Paint Shop Pro Image File\n\x1a".ljust(32, b"\0") + struct.pack("<HH", version, 0)
    attrs = struct.pack("<IIdBHHHIB", width, height, 28.35, 2, compression, depth, 1, 0, grey) + bytes(14)
    out = head + block(version, 0, chunk(version, attrs))
    if palette:
        out += block(version, 2, chunk(version, struct.pack("<I", palette)) +
                     bytes(rnd.randrange(256) for _ in range(4 * palette)))
    channels = b""
    for ctype in channel_types:
        raw = bytes(rnd.randrange(256) if rnd.random() < 0.4 else 5 for _ in range(row * height))
        data = {0: raw, 1: rle(raw), 2: zlib.compress(raw)}[compression]
        info = struct.pack("<IIHH", len(data), len(raw), 0, ctype)
        channels += block(version, 5, chunk(version, info) + data)
    info = bytes([0]) + struct.pack("<iiii", 0, 0, width, height) * 2 + bytes([255, 0, 1]) + bytes(79)
    if version == 3:
        layer = b"Layer".ljust(256, b"\0") + info + struct.pack("<HH", 1, len(channel_types))
    else:
        layer = chunk(version, struct.pack("<H", 5) + b"Layer" + info)
        layer += chunk(version, struct.pack("<HH", 1, len(channel_types)))
    return out + block(version, 3, block(version, 4, layer + channels))


def main(outdir):
    os.makedirs(outdir, exist_ok=True)
    rnd = random.Random(1118)
    files = {
        "rgb-v5-rle.psp": psp(5, 9, 7, 24, 0, 1, [1, 2, 3], rnd),
        "rgba-v5-lz77.psp": psp(5, 8, 6, 24, 0, 2, [1, 2, 3, 0], rnd),
        "rgb-v3-raw.psp": psp(3, 7, 5, 24, 0, 0, [1, 2, 3], rnd),
        "indexed8-v5.psp": psp(5, 10, 4, 8, 0, 1, [0], rnd, palette=256),
        "indexed4-v3.psp": psp(3, 11, 5, 4, 0, 1, [0], rnd, palette=16),
        "grey1-v5.psp": psp(5, 13, 6, 1, 1, 2, [0, 0], rnd),
        "grey8-v5-raw.psp": psp(5, 6, 6, 8, 1, 0, [0], rnd),
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
