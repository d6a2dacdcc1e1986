"""WBMP and AutoCAD slides through imgdump, against independent tools.

WBMP files written by pbmtowbmp and ImageMagick must show the pixels of
their sources, and WBMP files written by imgdump --write must read back in
wbmptopbm and ImageMagick as the source. Slides come from a writer in this
script (no Debian tool writes them); netpbm's sldtoppm is the geometry
reference: every lit pixel within one pixel of one it lights (sldtoppm maps
y one row higher: its rows are counted from H - 1, ours from H). Slides
written by imgdump --write equal the file read, up to its end record.
Truncated files end cleanly.
"""
import os
import struct
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import Failures, imgdump, run, sh, workdir  # noqa: E402

F = Failures()
RNG = np.random.default_rng(23)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def pbm(path, bits):
    """A raw PBM of a boolean array (True = black)."""
    h, w = bits.shape
    write(path, b"P4\n%d %d\n" % (w, h) + np.packbits(bits, axis=1).tobytes())
    return path


def black_of(pixels):
    return pixels.sum(axis=2) < 3 * 128


def bmp_reversed_palette(path, bits):
    """A 1-bit BMP whose palette puts white first, so index 1 is black."""
    h, w = bits.shape
    stride = ((w + 31) // 32) * 4
    rows = b"".join(np.packbits(bits[y]).tobytes().ljust(stride, b"\0") for y in range(h - 1, -1, -1))
    palette = bytes([255, 255, 255, 0, 0, 0, 0, 0])
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 1, 0, len(rows), 2835, 2835, 2, 2)
    offset = 14 + len(header) + len(palette)
    write(path, b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset) + header + palette + rows)
    return path


def wbmp_cases(tmp):
    for w, h in [(1, 1), (10, 3), (128, 16), (77, 41)]:
        bits = RNG.random((h, w)) < 0.4
        src = pbm(os.path.join(tmp, f"s{w}.pbm"), bits)
        for maker, cmd in [("pbmtowbmp", f"pbmtowbmp {src} > {{out}}"),
                           ("ImageMagick", f"convert-im6.q16 {src} {{out}}")]:
            out = os.path.join(tmp, f"{maker}{w}.wbmp")
            sh(cmd.format(out=out))
            rc, line, err, got = imgdump(out, os.path.join(tmp, "o.ppm"))
            if F.check(rc == 0, f"{maker} {w}x{h}: {err}"):
                F.check(line == f"TWBMPImage {w}x{h} -", f"{maker} {w}x{h}: {line}")
                F.check((black_of(got) == bits).all(), f"{maker} {w}x{h}: pixels differ")
        # Written by imgdump from a bitmap with a reversed palette: not inverted.
        bmp = bmp_reversed_palette(os.path.join(tmp, f"r{w}.bmp"), bits)
        out = os.path.join(tmp, f"w{w}.wbmp")
        rc, _, err = run([os.environ["IMGDUMP"], "--write", bmp, out])
        if not F.check(rc == 0, f"--write {w}x{h}: {err}"):
            continue
        sh(f"wbmptopbm {out} > {tmp}/back.pbm")
        back = np.asarray(Image.open(f"{tmp}/back.pbm").convert("L")) < 128
        F.check((back == bits).all(), f"--write {w}x{h}: wbmptopbm reads other pixels")
        sh(f"convert-im6.q16 {out} {tmp}/back.png")
        back = np.asarray(Image.open(f"{tmp}/back.png").convert("L")) < 128
        F.check((back == bits).all(), f"--write {w}x{h}: ImageMagick reads other pixels")


def slide(high_x, high_y, records):
    header = b"AutoCAD Slide\r\n\x1a\x00" + bytes([0x56, 2]) + struct.pack("<HHIHH", high_x, high_y, 7500000, 0,
                                                                             0x1234)
    return header + b"".join(records) + bytes([0, 0xFC])


def vector(x0, y0, x1, y1):
    return struct.pack("<HHHH", x0, y0, x1, y1)


def fill(x, y):
    return bytes([0, 0xFD]) + struct.pack("<hh", x, y)


def random_slide(high_x, high_y):
    """Lines of every kind and a few fills, all inside the slide (real slides
    never leave their screen)."""
    records = []

    def delta(v, high):
        d = int(RNG.integers(-40, 41))
        return d if 0 <= v + d <= high else -d

    for _ in range(40):
        records.append(bytes([int(RNG.integers(1, 250)), 0xFF]))
        x0, x1 = (int(v) for v in RNG.integers(40, high_x - 40, 2))
        y0, y1 = (int(v) for v in RNG.integers(40, high_y - 40, 2))
        records.append(vector(x0, y0, x1, y1))
        last = [x0, y0]  # a vector leaves its start as the last point
        for _ in range(3):
            dx, dy = delta(last[0], high_x), delta(last[1], high_y)
            records.append(struct.pack("<bBb", dx, 0xFE, dy))
            last = [last[0] + dx, last[1] + dy]
        d = [int(v) for v in RNG.integers(-30, 31, 4)]
        d = [v if 0 <= last[i % 2] + v <= (high_x, high_y)[i % 2] else -v for i, v in enumerate(d)]
        records.append(struct.pack("<bBbbb", d[0], 0xFB, d[1], d[2], d[3]))
    # Fills open and close with a negative y, as slides write them.
    for _ in range(4):
        cx, cy = int(RNG.integers(50, high_x - 50)), int(RNG.integers(50, high_y - 50))
        records += [fill(0, -1), fill(cx, cy), fill(cx + 40, cy + 5), fill(cx + 10, cy + 45), fill(0, -1)]
    return slide(high_x, high_y, records)


def slide_cases(tmp):
    for high_x, high_y in [(639, 479), (1023, 767), (319, 199)]:
        data = random_slide(high_x, high_y)
        path = write(os.path.join(tmp, f"s{high_x}.sld"), data + b"trailing")
        rc, line, err, got = imgdump(path, os.path.join(tmp, "o.ppm"))
        if not F.check(rc == 0, f"slide {high_x}: {err}"):
            continue
        F.check(line == f"Tslide {high_x + 1}x{high_y + 1} -", f"slide {high_x}: {line}")
        sh(f"sldtoppm {path} > {tmp}/ref.ppm 2>/dev/null")
        ref = np.asarray(Image.open(f"{tmp}/ref.ppm").convert("RGB")).any(axis=2)
        ref = np.vstack([np.zeros((1, ref.shape[1]), bool), ref[:-1]])
        ours = (got != 255).any(axis=2)
        F.check(ref.shape == ours.shape, f"slide {high_x}: sizes differ")
        near = np.zeros_like(ref)
        for dy in (-1, 0, 1):
            for dx in (-1, 0, 1):
                near |= np.roll(np.roll(ref, dy, 0), dx, 1)
        stray = int((ours & ~near).sum())
        F.check(stray == 0, f"slide {high_x}: {stray} lit pixels sldtoppm does not light")
        # Written back: the file as read, up to its end record.
        out = os.path.join(tmp, f"back{high_x}.sld")
        rc, _, err = run([os.environ["IMGDUMP"], "--write", path, out])
        F.check(rc == 0 and open(out, "rb").read() == data, f"slide {high_x}: --write changed the file {err}")


def truncated(tmp):
    files = {"wbmp": os.path.join(tmp, "pbmtowbmp77.wbmp"), "sld": os.path.join(tmp, "s639.sld")}
    for ext, path in files.items():
        data = open(path, "rb").read()
        for tenth in range(10):
            cut = write(os.path.join(tmp, f"cut{tenth}.{ext}"), data[: len(data) * tenth // 10])
            rc, out, err = run([os.environ["IMGDUMP"], cut, os.path.join(tmp, "c.ppm")])
            F.check(rc == 0 or (rc == 1 and err.startswith("error: ")), f"{ext} cut at {tenth}/10: {err}")
            if ext == "sld" and tenth * len(data) // 10 < 31:
                F.check("Invalid slide file" in err, f"sld header cut at {tenth}/10: {err}")
    rc, _, err, _ = imgdump(write(os.path.join(tmp, "huge.wbmp"), bytes([0, 0, 0x8F, 0xFF, 0xFF, 0x7F, 0x8F, 0xFF,
                                                                          0xFF, 0x7F])))
    F.check(rc == 1 and err.endswith("Bitmap image is not valid"), f"huge WBMP: {err}")


def main():
    with workdir() as tmp:
        wbmp_cases(tmp)
        slide_cases(tmp)
        truncated(tmp)
    F.exit()


main()
