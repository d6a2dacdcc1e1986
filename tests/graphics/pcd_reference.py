"""The Photo CD reader through imgdump.

Packs written here from random planes are checked pixel for pixel against a
numpy model of the reader's conversion (chroma doubled by interpolation,
Photo YCC through the luma weights 0.2125, 0.7154, 0.0721), for every
rotation and for overview packs. ImageMagick's packs are checked for
geometry and orientation, and against ImageMagick's own decode within a
loose mean error, since it converts Photo YCC its own way.
"""
import os
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import Failures, imgdump, read_image, sh, workdir  # noqa: E402

F = Failures()
RNG = np.random.default_rng(123)
READ_ERROR = "error: EReadError: Stream read error"
W, H = 768, 512


def chroma_tables():
    """Red from Cr, blue from Cb, green from Cr and Cb, as the colour manager builds them."""
    kr, kg, kb = np.float32(0.2125), np.float32(0.7154), np.float32(0.0721)
    k1 = np.float32(2) - np.float32(2) * kr
    k2 = np.float32(2) - np.float32(2) * kb
    g1, g2 = kr * k1 / kg, kb * k2 / kg
    i = np.arange(256)
    cr, cb = (i - 137).astype(np.longdouble), (i - 156).astype(np.longdouble)
    tables = [np.rint(cr * np.longdouble(k1)), np.rint(cb * np.longdouble(k2)),
              -np.rint(cr * np.longdouble(g1)), -np.rint(cb * np.longdouble(g2))]
    return [t.astype(np.int64) for t in tables]


def upsample(q):
    """A 256 x 384 chroma plane doubled the way the reader interpolates it."""
    h, w = q.shape
    q = q.astype(np.int64)
    out = np.zeros((2 * h, 2 * w), dtype=np.int64)
    spread = np.zeros((h, 2 * w), dtype=np.int64)
    spread[:, 0:2 * w - 2:2] = q[:, :-1]
    spread[:, 1:2 * w - 2:2] = (q[:, :-1] + q[:, 1:] + 1) >> 1
    spread[:, -2:] = q[:, -1:]
    out[0::2] = spread
    a, b = spread[:-1], spread[1:]
    mid = np.zeros_like(a)
    mid[:, 0::2] = (a[:, 0::2] + b[:, 0::2] + 1) >> 1
    mid[:, 1:-1:2] = (a[:, 0:-2:2] + a[:, 2::2] + b[:, 0:-2:2] + b[:, 2::2] + 2) >> 2
    mid[:, -1] = (a[:, -1] + b[:, -1] + 1) >> 1
    out[1:-1:2] = mid
    out[-1] = out[-2]
    return out


def model(luma, cb, cr, rotation):
    """The picture the reader should show, as H x W x 3 RGB."""
    red, blue, cr_green, cb_green = chroma_tables()
    cb2, cr2 = upsample(cb), upsample(cr)
    y = luma.astype(np.int64)
    rgb = np.stack([y + red[cr2], y + cb_green[cb2] + cr_green[cr2], y + blue[cb2]], axis=2)
    rgb = np.clip(rgb, 0, 255)
    if rotation == 1:
        return np.rot90(rgb, 1)  # a quarter counter-clockwise
    if rotation == 3:
        return np.rot90(rgb, -1)
    return rgb


def pack(luma, cb, cr, rotation=0, overview=False, count=b"\0\0"):
    info = bytearray(3 * 2048)
    if overview:
        info[0:7] = b"PCD_OPA"
        info[10:12] = count
    else:
        info[2048:2051] = b"PCD"
    info[3586] = rotation
    data = bytearray()
    for r in range(0, H, 2):
        data += luma[r].tobytes() + luma[r + 1].tobytes() + cb[r // 2].tobytes() + cr[r // 2].tobytes()
    sector = 5 if overview else 96
    return bytes(info) + bytes((sector - 3) * 2048) + bytes(data)


def random_planes():
    luma = RNG.integers(0, 256, (H, W), dtype=np.uint8)
    # Smooth chroma keeps most pixels inside the colour range.
    cb = RNG.integers(110, 200, (H // 2, W // 2), dtype=np.uint8)
    cr = RNG.integers(90, 180, (H // 2, W // 2), dtype=np.uint8)
    return luma, cb, cr


def load(d, name, data, pixels=True):
    path = os.path.join(d, name)
    with open(path, "wb") as f:
        f.write(data)
    return imgdump(path, os.path.join(d, "out.ppm") if pixels else None)


def exact(d):
    luma, cb, cr = random_planes()
    for rotation, size in ((0, "768x512"), (1, "512x768"), (2, "768x512"), (3, "512x768"), (6, "768x512")):
        rc, out, err, got = load(d, f"rot{rotation}.pcd", pack(luma, cb, cr, rotation))
        if F.check(rc == 0 and out == f"TPCDGraphic {size} pl24Bit", f"rotation {rotation}: {out} {err}"):
            want = model(luma, cb, cr, rotation & 3)
            F.check(got.shape == want.shape and (got == want).all(), f"rotation {rotation}: pixels differ")
    # An overview pack is read from its fifth sector with the Base geometry.
    rc, out, err, got = load(d, "overview.pcd", pack(luma, cb, cr, overview=True, count=b"\x01\x02"))
    if F.check(rc == 0 and out == "TPCDGraphic 768x512 pl24Bit", f"overview: {out} {err}"):
        F.check((got == model(luma, cb, cr, 0)).all(), "overview: pixels differ")
    # The overview signature is case-sensitive; without "PCD" nothing loads.
    data = bytearray(pack(luma, cb, cr, overview=True))
    data[0:7] = b"pcd_opa"
    rc, out, err, _ = load(d, "lower.pcd", bytes(data), pixels=False)
    F.check(rc == 0 and out == "TPCDGraphic 0x0 plDevice", f"lower-case overview: {out} {err}")
    # Short packs fail with the read error: the signature sectors alone,
    # fewer than three sectors, and picture data cut anywhere.
    full = pack(luma, cb, cr)
    for name, size in [("sectors.pcd", 6144), ("short.pcd", 3000)] + [
            (f"cut{t}.pcd", 96 * 2048 + (len(full) - 96 * 2048) * t // 10) for t in range(0, 10, 3)]:
        rc, out, err, _ = load(d, name, full[:size], pixels=False)
        F.check(rc == 1 and err == READ_ERROR, f"{name}: {rc} {out} {err}")


def imagemagick(d):
    sh("convert-im6.q16 -seed 7 -size 768x512 gradient:red-blue -size 768x512 plasma:fractal -compose blend"
       " -define compose:args=50 -composite land.ppm 2>/dev/null", cwd=d)
    # A bright mark at the top left shows where the picture's corner goes.
    sh("convert-im6.q16 land.ppm -fill white -draw 'rectangle 0,0 95,63' land.ppm", cwd=d)
    sh("convert-im6.q16 land.ppm land.pcd && convert-im6.q16 land.ppm -rotate -90 port.ppm"
       " && convert-im6.q16 port.ppm port.pcd", cwd=d)
    rc, out, err, got = imgdump(os.path.join(d, "land.pcd"), os.path.join(d, "out.ppm"))
    if F.check(rc == 0 and out == "TPCDGraphic 768x512 pl24Bit", f"ImageMagick pack: {out} {err}"):
        F.check(Image.open(os.path.join(d, "land.pcd")).size == (768, 512), "Pillow reads another size")
        sh("convert-im6.q16 land.pcd imref.ppm", cwd=d)
        mean = np.abs(got - read_image(os.path.join(d, "imref.ppm"))).mean()
        F.check(mean < 12, f"ImageMagick pack: mean error {mean:.1f}")
        # Chroma is stored at half resolution: the mark's edge takes colour from its neighbours.
        F.check(got[4:60, 4:92].min() > 200, "ImageMagick pack: the mark is not at the top left")
    data = open(os.path.join(d, "port.pcd"), "rb").read()
    F.check(data[3586] & 3 == 1, f"ImageMagick portrait pack has rotation {data[3586] & 3}")
    for rotation in (1, 3):
        patched = data[:3586] + bytes([rotation]) + data[3587:]
        rc, out, err, got = load(d, f"port{rotation}.pcd", patched)
        if F.check(rc == 0 and out == "TPCDGraphic 512x768 pl24Bit", f"portrait {rotation}: {out} {err}"):
            # The stored picture is landscape with the mark at its top left;
            # rotation 1 puts it at the bottom left, 3 at the top right.
            corner = got[-92:-4, 4:60] if rotation == 1 else got[4:92, -60:-4]
            F.check(corner.min() > 200, f"portrait {rotation}: the mark is not in its corner")


with workdir() as d:
    exact(d)
    imagemagick(d)
F.exit()
