"""Fuzz seeds for the Photo CD reader. A whole pack is far larger than a
seed may be, so these are the signature sectors of image and overview
packs with every rotation, and overview packs cut inside their picture
data.  usage: pcd.py OUTDIR"""
import os
import random
import sys

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
rng = random.Random(123)


def info(overview, rotation):
    data = bytearray(3 * 2048)
    if overview:
        data[0:7] = b"PCD_OPA"
        data[10:12] = b"\x00\x01"
    else:
        data[2048:2051] = b"PCD"
    data[3586] = rotation
    return bytes(data)


for rotation in range(4):
    with open(os.path.join(out, f"image{rotation}.pcd"), "wb") as f:
        f.write(info(False, rotation))
for rotation, extra in ((0, 2304), (1, 4000), (3, 6000)):
    body = bytes(rng.randrange(256) for _ in range(2 * 2048 + extra))
    with open(os.path.join(out, f"overview{rotation}.pcd"), "wb") as f:
        f.write(info(True, rotation) + body)
