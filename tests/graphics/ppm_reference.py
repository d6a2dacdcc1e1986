"""The portable map reader through imgdump.

netpbm and ImageMagick write every kind, raw and plain, with maximum values
from 1 to 65535; the reference is netpbm's own decode scaled to 255 by
pamdepth. Hand-made files cover comments, one-line headers, line ends,
digits without blanks in plain bitmaps, and malformed files.
"""
import os
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import Failures, imgdump, max_diff, read_image, sh, workdir  # noqa: E402

F = Failures()
RNG = np.random.default_rng(124)
READ_ERROR = "error: EInvalidGraphic: Stream read error in PPM file."
INVALID = "error: EInvalidGraphic: Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."


def compare(d, name, layout, reference_cmd):
    """imgdump's picture of d/name against the reference command's PNM."""
    path = os.path.join(d, name)
    rc, out, err, got = imgdump(path, os.path.join(d, "out.ppm"))
    if not F.check(rc == 0 and out.endswith(layout), f"{name}: {out} {err}"):
        return
    sh(reference_cmd.format(f=path, out=os.path.join(d, "ref.ppm")), cwd=d)
    want = read_image(os.path.join(d, "ref.ppm"))
    F.check(max_diff(got, want) == 0, f"{name}: differs by {max_diff(got, want)}")


def conformance(d):
    pixels = RNG.integers(0, 256, (29, 43, 3), dtype=np.uint8)
    pixels[:, :8] = 255
    Image.fromarray(pixels).save(os.path.join(d, "src.ppm"))
    sh("ppmtopgm src.ppm > src.pgm && pamditherbw src.pgm | pamtopnm > src.pbm", cwd=d)
    ref = "pamdepth 255 {f} | pnmtopnm > {out}"
    made = [("src.ppm", "pl24Bit"), ("src.pgm", "pl8Bit"), ("src.pbm", "pl1Bit")]
    for maxval in (1, 3, 15, 100, 254, 256, 1000, 65535):
        for src, layout in made[:2]:
            ext = src[-3:]
            sh(f"pamdepth {maxval} {src} 2>/dev/null > m{maxval}.{ext} && pnmtoplainpnm m{maxval}.{ext} > pm{maxval}.{ext}", cwd=d)
            compare(d, f"m{maxval}.{ext}", layout, ref)
            # netpbm writes a plain grey map of maximum 1 as a bitmap.
            plain_layout = "pl1Bit" if (maxval, ext) == (1, "pgm") else layout
            compare(d, f"pm{maxval}.{ext}", plain_layout, ref)
    for src, layout in made:
        sh(f"pnmtoplainpnm {src} > plain.{src[-3:]}", cwd=d)
        compare(d, f"plain.{src[-3:]}", layout, ref)
        compare(d, src, layout, ref)
        sh(f"convert-im6.q16 {src} -compress none im.{src[-3:]}", cwd=d)
        compare(d, f"im.{src[-3:]}", layout, ref)
    sh("convert-im6.q16 src.ppm -depth 16 im16.ppm && convert-im6.q16 src.ppm -colorspace gray im.pgm", cwd=d)
    compare(d, "im16.ppm", "pl24Bit", ref)
    compare(d, "im.pgm", "pl8Bit", ref)
    # A width that is no multiple of 8 and a single pixel.
    sh("pbmmake -g 10 3 > g10.pbm && pnmtoplainpnm g10.pbm > pg10.pbm && pbmmake -b 1 1 > one.pbm", cwd=d)
    for name in ("g10.pbm", "pg10.pbm", "one.pbm"):
        compare(d, name, "pl1Bit", ref)


def hand_made(d):
    def load(name, data):
        path = os.path.join(d, name)
        with open(path, "wb") as f:
            f.write(data)
        return imgdump(path, os.path.join(d, "hand.ppm"))

    def expect(name, data, layout, want):
        rc, out, err, got = load(name, data)
        if F.check(rc == 0 and out.endswith(layout), f"{name}: {out} {err}"):
            F.check(got is not None and got.tolist() == want, f"{name}: {None if got is None else got.tolist()}")

    # The 7 inside the second comment is no number.
    expect("comments.pgm", b"P2\n# a\n# b 7\n2 1\n255\n10 20\n", "pl8Bit", [[[10] * 3, [20] * 3]])
    expect("oneline.ppm", b"P6 2 1 255\n" + bytes([255, 0, 0, 1, 2, 3]), "pl24Bit", [[[255, 0, 0], [1, 2, 3]]])
    expect("crlf.pgm", b"P5\r\n# c\r\n1 2\r\n255\r" + bytes([7, 9]), "pl8Bit", [[[7] * 3], [[9] * 3]])
    expect("noeol.ppm", b"P3 1 1 255 255 0 0", "pl24Bit", [[[255, 0, 0]]])
    expect("digits.pbm", b"P1\n4 1\n0110", "pl1Bit", [[[255] * 3, [0] * 3, [0] * 3, [255] * 3]])
    # Samples above the maximum count as the maximum.
    expect("over.pgm", b"P2 2 1 255 300 255", "pl8Bit", [[[255] * 3, [255] * 3]])
    expect("max1.pgm", b"P5 2 1 1\n" + bytes([0, 1]), "pl8Bit", [[[0] * 3, [255] * 3]])
    expect("wide.pgm", b"P5 2 1 65535\n" + bytes([0x80, 0x00, 0xFF, 0xFF]), "pl8Bit", [[[128] * 3, [255] * 3]])

    def fails(name, data, message):
        rc, out, err, _ = load(name, data)
        F.check(rc == 1 and err == message, f"{name}: {rc} {out} {err}")

    for kind in (b"P0", b"P7", b"P9"):
        fails(kind.decode() + ".ppm", kind + b"\n1 1 255\n\0\0\0", INVALID)
    fails("px.ppm", b"Px\n1 1\n", "error: EConvertError: 'x' is not a valid integer value")
    fails("p.ppm", b"P\n1 1\n", "error: EConvertError: '' is not a valid integer value")
    fails("blank.ppm", b"\nP6 1 1 255\n\0\0\0", INVALID)
    fails("maxval0.pgm", b"P5 1 1 0\n\0", INVALID)
    fails("maxval.pgm", b"P5 1 1 65536\n\0\0", INVALID)
    fails("huge.ppm", b"P6 100000 100000 255\n\0\0\0", INVALID)
    fails("overflow.pgm", b"P5 99999999999999999999 1 255\n\0", INVALID)
    fails("empty.ppm", b"", READ_ERROR)
    # A file cut anywhere in its header or data fails with the read error.
    sh("pamdepth 65535 src.ppm > w.ppm && pnmtoplainpnm src.pbm > t.pbm", cwd=d)
    for src in ("src.ppm", "src.pgm", "src.pbm", "w.ppm", "t.pbm", "m1000.ppm", "pm1000.pgm"):
        data = open(os.path.join(d, src), "rb").read()
        for tenth in range(1, 10):
            fails(f"cut{tenth}-{src}", data[: len(data) * tenth // 10], READ_ERROR)


with workdir() as d:
    conformance(d)
    hand_made(d)
F.exit()
