"""The X Bitmap graphic through imgdump against netpbm and ImageMagick.

Files written by pbmtoxbm and ImageMagick, and the xbitmaps package's real
files, must read as xbmtopbm reads them; pictures written by
`imgdump --write` must read back exactly in xbmtopbm (ImageMagick wants a
blank before the "=" of the array line, which the writer's line lacks), also
from bitmaps whose palette has white at index 0. Malformed files,
truncated at every tenth of their length, end in the reader's messages.
The finder groups an X Bitmap with its BMP twin.
"""
import glob
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import check_picture, IMGDUMP, Failures, imgdump, read_image, run, sh, workdir  # noqa: E402

F = Failures()
RNG = np.random.default_rng(110)
MESSAGES = ("Not a valid XBM file", "Scan line index out of range", "is not a valid integer value")


def write_pbm(path, bits):
    """A raw PBM of a boolean array (True = black)."""
    h, w = bits.shape
    packed = np.packbits(bits.astype(np.uint8), axis=1)
    with open(path, "wb") as f:
        f.write(f"P4\n{w} {h}\n".encode() + packed.tobytes())


def write_bmp(path, pixels, palette=None):
    """A bottom-up BMP: 1-bit indices with a two-colour palette, or RGB."""
    h, w = pixels.shape[:2]
    if palette is not None:
        rows = np.packbits(pixels.astype(np.uint8), axis=1)
        bpp, table = 1, b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    else:
        rows = pixels[:, :, ::-1].reshape(h, w * 3)
        bpp, table = 24, b""
    stride = (rows.shape[1] + 3) // 4 * 4
    data = b"".join(bytes(r) + b"\0" * (stride - len(r)) for r in rows[::-1].tolist())
    offset = 14 + 40 + len(table)
    header = b"BM" + (offset + len(data)).to_bytes(4, "little") + b"\0" * 4 + offset.to_bytes(4, "little")
    info = (40).to_bytes(4, "little") + w.to_bytes(4, "little") + h.to_bytes(4, "little") + (1).to_bytes(2, "little")
    info += bpp.to_bytes(2, "little") + b"\0" * 24
    with open(path, "wb") as f:
        f.write(header + info + table + data)


def black_white(bits):
    """Expected RGB pixels of a boolean array (True = black)."""
    return np.repeat(np.where(bits, 0, 255)[:, :, None], 3, axis=2).astype(np.int16)


def check_read(name, path, expected, tmp):
    check_picture(F, name, path, expected, tmp, "TXBMImage {w}x{h} pl1Bit")


def tool_written(tmp):
    for w, h in [(13, 7), (64, 3), (1, 1), (200, 9)]:
        bits = RNG.random((h, w)) < 0.4
        pbm = os.path.join(tmp, f"r{w}.pbm")
        write_pbm(pbm, bits)
        sh(f"pbmtoxbm {pbm} > {tmp}/n{w}.xbm")
        check_read(f"pbmtoxbm {w}x{h}", f"{tmp}/n{w}.xbm", black_white(bits), tmp)
        sh(f"convert-im6.q16 {pbm} {tmp}/m{w}.xbm")
        check_read(f"ImageMagick {w}x{h}", f"{tmp}/m{w}.xbm", black_white(bits), tmp)


def xbitmaps(tmp):
    files = sorted(glob.glob("/usr/include/X11/bitmaps/*"))
    F.check(len(files) > 20, "the xbitmaps package is not installed")
    for path in files:
        name = os.path.basename(path)
        copy = os.path.join(tmp, name + ".xbm")
        with open(path, "rb") as src, open(copy, "wb") as dst:
            dst.write(src.read())
        with open(path, "rb") as f:
            first = f.readline()
        if b"_width" not in first:
            # A comment before the width line is refused.
            rc, _, err, _ = imgdump(copy)
            F.check(rc == 1 and "Exception: Not a valid XBM file" in err, f"xbitmaps {name}: {err}")
            continue
        sh(f"xbmtopbm {copy} > {tmp}/ref.pbm")
        check_read(f"xbitmaps {name}", copy, read_image(f"{tmp}/ref.pbm"), tmp)


def written(tmp):
    for w, h in [(10, 2), (16, 16), (33, 5)]:
        bits = RNG.random((h, w)) < 0.5
        # White at index 0, as portable bitmaps have it: the writer must go
        # by colour, not by index.
        bmp = os.path.join(tmp, f"w{w}.bmp")
        write_bmp(bmp, bits, palette=[(255, 255, 255), (0, 0, 0)])
        out = os.path.join(tmp, f"w{w}.xbm")
        rc, _, err = run([IMGDUMP, "--write", bmp, out])
        if not F.check(rc == 0, f"write {w}x{h}: {err}"):
            continue
        with open(out, "rb") as f:
            text = f.read()
        F.check(text.startswith(f"#define img_width {w}\r\n#define img_height {h}\r\n".encode())
                and text.endswith(b"};\r\n"), f"write {w}x{h}: header or end {text[:60]!r}")
        sh(f"xbmtopbm {out} > {tmp}/back.pbm")
        F.check((read_image(f"{tmp}/back.pbm") == black_white(bits)).all(), f"write {w}x{h}: xbmtopbm differs")
    # A colour picture: dark pixels become black.
    rgb = np.zeros((4, 6, 3), dtype=np.uint8)
    rgb[:, :3] = (250, 240, 200)
    rgb[:, 3:] = (20, 40, 90)
    write_bmp(f"{tmp}/c.bmp", rgb)
    rc, _, err = run([IMGDUMP, "--write", f"{tmp}/c.bmp", f"{tmp}/c.xbm"])
    if F.check(rc == 0, f"write colour: {err}"):
        sh(f"xbmtopbm {tmp}/c.xbm > {tmp}/back.pbm")
        bits = np.zeros((4, 6), dtype=bool)
        bits[:, 3:] = True
        F.check((read_image(f"{tmp}/back.pbm") == black_white(bits)).all(), "write colour: wrong pixels")


def malformed(tmp):
    bits = RNG.random((9, 21)) < 0.5
    write_pbm(f"{tmp}/m.pbm", bits)
    sh(f"pbmtoxbm {tmp}/m.pbm > {tmp}/whole.xbm")
    with open(f"{tmp}/whole.xbm", "rb") as f:
        data = f.read()
    for tenth in range(10):
        path = os.path.join(tmp, f"cut{tenth}.xbm")
        with open(path, "wb") as f:
            f.write(data[: len(data) * tenth // 10])
        rc, out, err, _ = imgdump(path, os.path.join(tmp, "out.ppm"))
        F.check(rc == 0 or (rc == 1 and err.startswith("error: ") and any(m in err for m in MESSAGES)),
                f"xbm cut at {tenth}/10: {err}")
    for name in glob.glob(os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests/fuzz/regressions/*.xbm")):
        rc, out, err, _ = imgdump(name)
        F.check(rc in (0, 1) and "Sanitizer" not in err, f"{name}: {err}")


def twins(tmp):
    folder = os.path.join(tmp, "twins")
    os.mkdir(folder)
    bits = np.zeros((32, 64), dtype=bool)
    bits[:, :20] = True
    bits[10:20, 30:] = RNG.random((10, 34)) < 0.5
    write_pbm(f"{tmp}/t.pbm", bits)
    sh(f"pbmtoxbm {tmp}/t.pbm > {folder}/t.xbm")
    write_bmp(f"{folder}/t.bmp", bits, palette=[(255, 255, 255), (0, 0, 0)])
    rc, out, err = run([os.path.join(os.path.dirname(IMGDUMP), "finddups"), folder, "3"])
    F.check(rc == 0 and "t.bmp,t.xbm" in out, f"finddups: {out} {err}")


def main():
    with workdir() as tmp:
        tool_written(tmp)
        xbitmaps(tmp)
        written(tmp)
        malformed(tmp)
        twins(tmp)
    F.exit()


main()
