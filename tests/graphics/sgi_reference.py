"""The SGI reader through imgdump.

pnmtosgi (run-length and verbatim, 8 and 16 bits), ImageMagick (run-length,
16 bits, alpha) and Pillow write the conformance set; sgitopnm decodes the
reference, 16-bit samples reduced as v * 255 // 65535. Hand-made files cover
broken tables and rows, and malformed headers.
"""
import os
import struct
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import Failures, check_cuts, dump, max_diff, save_and_dump, sh, workdir  # noqa: E402

F = Failures()
RNG = np.random.default_rng(1210)
INVALID = "error: EInvalidGraphic: Cannot load image. Invalid or unexpected sgi, bw or rgb(a) image format."
SAMPLES = "error: EColorConversionError: Sample count per pixel does not correspond to the given color scheme."


def read_pnm(path):
    """A raw PGM or PPM of any maximum as an H x W x 3 array of 8-bit levels."""
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    kind, w, h, top = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    channels = 3 if kind == b"P6" else 1
    dtype = ">u2" if top > 255 else np.uint8
    a = np.frombuffer(data[pos + 1:], dtype=dtype, count=w * h * channels).astype(np.int64)
    if top > 255:
        a = a * 255 // 65535
    a = a.reshape(h, w, channels)
    return np.repeat(a, 3, axis=2) if channels == 1 else a


def check_against_sgitopnm(d, name, layout):
    path = os.path.join(d, name)
    rc, out, err, got = dump(d, path)
    if F.check(rc == 0 and out.endswith(layout), f"{name}: {out} {err}"):
        sh(f"sgitopnm {name} > ref.pnm 2>/dev/null", cwd=d)
        diff = max_diff(got, read_pnm(os.path.join(d, "ref.pnm")))
        F.check(diff == 0, f"{name}: differs by {diff}")


def conformance(d):
    pixels = RNG.integers(0, 256, (27, 41, 3), dtype=np.uint8)
    pixels[:9] = pixels[0, 0]  # long runs
    Image.fromarray(pixels).save(os.path.join(d, "src.ppm"))
    wide = RNG.integers(0, 65536, (13, 19, 3), dtype=np.uint16)
    with open(os.path.join(d, "wide.ppm"), "wb") as f:
        f.write(b"P6 19 13 65535\n" + wide.astype(">u2").tobytes())
    sh("ppmtopgm src.ppm > src.pgm && ppmtopgm wide.ppm > wide.pgm", cwd=d)
    for src in ("src.ppm", "src.pgm", "wide.ppm", "wide.pgm"):
        layout = "pl24Bit" if src.endswith("ppm") else "pl8Bit"
        for option in ("-rle", "-verbatim"):
            name = f"{src[:-4]}{option}.{'sgi' if layout == 'pl24Bit' else 'bw'}"
            sh(f"pnmtosgi {option} {src} > {name} 2>/dev/null", cwd=d)
            check_against_sgitopnm(d, name, layout)
        sh(f"pamdepth 65535 {src} | pnmtosgi -rle > d16-{src[:-4]}.rgb 2>/dev/null", cwd=d)
        check_against_sgitopnm(d, f"d16-{src[:-4]}.rgb", layout)
    sh("convert-im6.q16 src.ppm -compress RLE im.sgi && convert-im6.q16 src.ppm -depth 16 im16.sgi &&"
       " convert-im6.q16 src.ppm -alpha set -channel A -evaluate set 40% +channel ima.sgi", cwd=d)
    check_against_sgitopnm(d, "im.sgi", "pl24Bit")
    check_against_sgitopnm(d, "im16.sgi", "pl24Bit")
    check_against_sgitopnm(d, "ima.sgi", "pl32Bit")
    image = Image.open(os.path.join(d, "src.ppm"))
    for mode, name, layout in (("RGB", "pil.sgi", "pl24Bit"), ("L", "pil.bw", "pl8Bit"),
                               ("RGBA", "pil.rgba", "pl32Bit")):
        image.convert(mode).save(os.path.join(d, name))
        rc, out, err, got = dump(d, os.path.join(d, name))
        if F.check(rc == 0 and out.endswith(layout), f"{name}: {out} {err}"):
            want = np.asarray(Image.open(os.path.join(d, name)).convert("RGB"), dtype=np.int16)
            F.check(max_diff(got, want) == 0, f"{name}: differs by Pillow {max_diff(got, want)}")


def header(width, height, channels, rle=True, bpc=1, magic=474, dimension=3):
    h = struct.pack(">HBBHHHH", magic, 1 if rle else 0, bpc, dimension, width, height, channels)
    return h.ljust(512, b"\0")


def rle_file(width, rows, channels=1):
    """A run-length file of the given packed rows (bottom first, channel after channel)."""
    height = len(rows) // channels
    starts, data, offset = [], b"", 512 + 8 * len(rows)
    for r in rows:
        starts.append(offset + len(data))
        data += r
    tables = b"".join(struct.pack(">I", s) for s in starts) + b"".join(struct.pack(">I", len(r)) for r in rows)
    return header(width, height, channels) + tables + data


def hand_made(d):
    def load(name, data):
        return save_and_dump(d, name, data)

    def grey(got):
        return None if got is None else got[:, :, 0].tolist()

    # File rows run bottom first; a literal run and a repeat run.
    rc, out, err, got = load("rows.bw", rle_file(3, [bytes([0x83, 1, 2, 3, 0]), bytes([0x03, 9, 0])]))
    F.check(rc == 0 and grey(got) == [[9, 9, 9], [1, 2, 3]], f"rows: {out} {err} {grey(got)}")
    # A row without its closing count and runs far past the width stay in
    # their row; a row whose offset lies past the file stays black.
    rows = [bytes([0x7F, 5, 0x7F, 6]), struct.pack(">I", 0)]
    data = bytearray(rle_file(4, rows))
    struct.pack_into(">I", data, 516, 1 << 30)
    rc, out, err, got = load("overrun.bw", bytes(data))
    F.check(rc == 0 and grey(got) == [[0] * 4, [5] * 4], f"overrun: {out} {err} {grey(got)}")
    # Tables cut short read as zero offsets and lengths.
    rc, out, err, got = load("tables.bw", header(2, 300, 1)[:512] + bytes(10))
    F.check(rc == 0 and got is not None and not got.any(), f"short tables: {out} {err}")
    # A verbatim file that ends early: what is there is shown.
    rc, out, err, got = load("short.bw", header(2, 2, 1, rle=False) + bytes([7, 8, 9]))
    F.check(rc == 0 and grey(got) == [[9, 0], [7, 8]], f"short verbatim: {out} {err} {grey(got)}")
    # 16-bit grey goes through the colour manager: high byte first, scaled.
    rc, out, err, got = load("wide.bw", header(2, 1, 1, rle=False, bpc=2) + bytes([0xFF, 0xFF, 0x80, 0x00]))
    F.check(rc == 0 and grey(got) == [[255, 127]], f"16-bit grey: {out} {err} {grey(got)}")

    def fails(name, data, message):
        rc, out, err, _ = load(name, data)
        F.check(rc == 1 and err == message, f"{name}: {rc} {out} {err}")

    fails("magic.sgi", header(2, 2, 3, magic=475) + bytes(64), INVALID)
    fails("bpc3.sgi", header(2, 2, 3, bpc=3) + bytes(64), INVALID)
    fails("bpc0.sgi", header(2, 2, 3, bpc=0) + bytes(64), INVALID)
    fails("none.sgi", header(2, 2, 0) + bytes(64), SAMPLES)
    fails("five.sgi", header(2, 2, 5) + bytes(64), SAMPLES)
    fails("two.sgi", header(2, 2, 2) + bytes(64), "error: EInvalidGraphic: Invalid pixel format")
    fails("huge.sgi", header(65535, 65535, 4) + bytes(64), INVALID)
    fails("tiny.sgi", header(2, 2, 3)[:300], "error: EReadError: Stream read error")
    for name in ("src-rle.sgi", "src-verbatim.sgi", "wide-rle.sgi", "im.sgi", "pil.rgba"):
        check_cuts(F, d, os.path.join(d, name), "cut.sgi", ["error: EReadError: Stream read error"])


with workdir() as d:
    conformance(d)
    hand_made(d)
F.exit()
