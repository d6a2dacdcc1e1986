"""The PCX reader through imgdump.

netpbm (ppmtopcx in its plane and packed forms, 8-bit and true colour),
Pillow and ImageMagick write the conformance set; pcxtoppm and Pillow decode
the references. A small writer here makes what they do not: header palette
choices, palette blocks, raw data, short data and malformed headers.
"""
import os
import struct
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import Failures, check_cuts, dump, max_diff, read_image, save_and_dump, sh, workdir  # noqa: E402

F = Failures()
RNG = np.random.default_rng(121)
INVALID = "error: EInvalidGraphic: Cannot load image. Invalid or unexpected PCX image format."
COLOR_FORMAT = "error: EInvalidGraphic: Invalid color format in PCX file."
SYSTEM16 = [0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
            0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF]


def conformance(d):
    pixels = RNG.integers(0, 256, (31, 45, 3), dtype=np.uint8)
    Image.fromarray(pixels).save(os.path.join(d, "src.ppm"))
    sh("pnmquant 16 src.ppm > q16.ppm 2>/dev/null; pnmquant 8 src.ppm > q8.ppm 2>/dev/null;"
       "pnmquant 4 src.ppm > q4.ppm 2>/dev/null; pnmquant 200 src.ppm > q200.ppm 2>/dev/null;"
       "ppmtopgm src.ppm | pamditherbw | pamtopnm > bw.pbm", cwd=d)
    cases = [("q16.ppm", "", "pl4Bit"), ("q4.ppm", "-packed", "pl4Bit"), ("q16.ppm", "-packed", "pl4Bit"),
             ("q8.ppm", "-planes 3", "pl4Bit"), ("q200.ppm", "", "pl8Bit"), ("q16.ppm", "-8bit", "pl8Bit"),
             ("src.ppm", "", "pl24Bit"), ("bw.pbm", "", "pl1Bit")]
    for n, (src, options, layout) in enumerate(cases):
        sh(f"ppmtopcx {options} {src} > n{n}.pcx 2>/dev/null", cwd=d)
        files = [(f"n{n}.pcx", layout)]
        if src == "src.ppm":
            sh(f"convert-im6.q16 src.ppm im{n}.pcx; convert-im6.q16 src.ppm -type palette imp{n}.pcx", cwd=d)
            files += [(f"im{n}.pcx", "pl24Bit"), (f"imp{n}.pcx", "pl8Bit")]
        for name, want_layout in files:
            rc, out, err, got = dump(d, os.path.join(d, name))
            if F.check(rc == 0 and out.endswith(want_layout), f"{name} ({src} {options}): {out} {err}"):
                sh(f"pcxtoppm {name} > ref.ppm", cwd=d)
                diff = max_diff(got, read_image(os.path.join(d, "ref.ppm")))
                F.check(diff == 0, f"{name} ({src} {options}): differs by {diff}")
    image = Image.open(os.path.join(d, "src.ppm"))
    for mode, layout in (("RGB", "pl24Bit"), ("L", "pl8Bit"), ("1", "pl1Bit"), ("P", "pl8Bit")):
        path = os.path.join(d, f"pil{mode}.pcx")
        image.convert(mode).save(path)
        rc, out, err, got = dump(d, path)
        if F.check(rc == 0 and out.endswith(layout), f"Pillow {mode}: {out} {err}"):
            want = np.asarray(Image.open(path).convert("RGB"), dtype=np.int16)
            F.check(max_diff(got, want) == 0, f"Pillow {mode}: differs by {max_diff(got, want)}")


def header(width, height, bits, planes, bytes_per_line, version=5, encoding=1, palette=b"", info=1,
           maker=10, bounds=None):
    x0, y0, x1, y1 = bounds or (0, 0, width - 1, height - 1)
    h = struct.pack("<BBBBHHHHHH", maker, version, encoding, bits, x0, y0, x1, y1, 72, 72)
    h += palette.ljust(48, b"\0") + b"\0" + bytes([planes]) + struct.pack("<HH", bytes_per_line, info)
    return h.ljust(128, b"\0")


def rle(data):
    out = bytearray()
    for b in data:
        out += bytes([0xC1, b]) if b >= 0xC0 else bytes([b])
    return bytes(out)


def colours(got):
    return [int(r) << 16 | int(g) << 8 | int(b) for r, g, b in got.reshape(-1, 3)]


def hand_made(d):
    def load(name, data):
        return save_and_dump(d, name, data)

    # A 16-colour image of version 5 uses the header's colours, of version 3
    # the system colours; palette information 2 means grey.
    palette = bytes(RNG.integers(0, 256, 48, dtype=np.uint8))
    line = bytes([0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF])  # pixels 0..15
    header_colours = [palette[3 * i] << 16 | palette[3 * i + 1] << 8 | palette[3 * i + 2] for i in range(16)]
    for version, info, want in ((5, 1, header_colours), (3, 1, SYSTEM16), (5, 2, [i * 0x111111 for i in range(16)])):
        rc, out, err, got = load(f"v{version}.pcx", header(16, 1, 4, 1, 8, version, 1, palette, info) + rle(line))
        if F.check(rc == 0, f"version {version} info {info}: {err}"):
            F.check(colours(got) == want, f"version {version} info {info}: {colours(got)}")

    # 8-bit: the last 769 bytes are a palette only when they begin with 12;
    # otherwise they are pixels.
    pixels = bytes(RNG.integers(0, 256, 40 * 20, dtype=np.uint8))
    block = bytes([12]) + bytes(RNG.integers(0, 256, 768, dtype=np.uint8))
    rc, out, err, got = load("block.pcx", header(40, 20, 8, 1, 40, encoding=0) + pixels + block)
    if F.check(rc == 0, f"palette block: {err}"):
        table = [block[1 + 3 * i] << 16 | block[2 + 3 * i] << 8 | block[3 + 3 * i] for i in range(256)]
        F.check(colours(got) == [table[p] for p in pixels], "palette block: wrong colours")
    raw = bytes(RNG.integers(0, 12, 40 * 40, dtype=np.uint8))
    rc, out, err, got = load("noblock.pcx", header(40, 40, 8, 1, 40, encoding=0, info=2) + raw)
    if F.check(rc == 0, f"no palette block: {err}"):
        F.check(colours(got) == [p * 0x010101 for p in raw], "no palette block: the last bytes are pixels")

    # Raw data that end early leave the rest zero (black through grey).
    rc, out, err, got = load("short.pcx", header(16, 8, 8, 1, 16, encoding=0, info=2) + bytes([200] * 40))
    if F.check(rc == 0, f"short raw: {err}"):
        F.check(colours(got) == [0xC8C8C8] * 40 + [0] * 88, "short raw: rows past the data must stay zero")

    # Three 8-bit planes are red, green and blue.
    rc, out, err, got = load("rgb.pcx", header(2, 1, 8, 3, 2) + rle(bytes([255, 1, 0, 2, 0, 3])))
    if F.check(rc == 0, f"rgb: {err}"):
        F.check(colours(got) == [0xFF0000, 0x010203], f"rgb: {colours(got)}")

    # Manufacturer 12 passes the probe but loads nothing.
    rc, out, err, _ = load("maker12.pcx", header(4, 4, 8, 1, 4, maker=12) + bytes(16))
    F.check(rc == 0 and out == "TPCXGraphic 0x0 plDevice", f"manufacturer 12: {out} {err}")

    def fails(name, data, message):
        rc, out, err, _ = load(name, data)
        F.check(rc == 1 and err == message, f"{name}: {rc} {out} {err}")

    fails("planes2.pcx", header(8, 1, 1, 2, 1) + bytes(8), COLOR_FORMAT)
    fails("planes4x8.pcx", header(8, 1, 8, 4, 8) + bytes(64), COLOR_FORMAT)
    fails("bits16.pcx", header(8, 1, 16, 1, 16) + bytes(64), COLOR_FORMAT)
    fails("xbounds.pcx", header(8, 8, 8, 1, 8, bounds=(9, 0, 2, 7)) + bytes(64), INVALID)
    fails("ybounds.pcx", header(8, 8, 8, 1, 8, bounds=(0, 9, 7, 2)) + bytes(64), INVALID)
    fails("narrow.pcx", header(20, 2, 8, 1, 19) + bytes(64), INVALID)
    fails("narrow4.pcx", header(17, 2, 1, 4, 2) + bytes(64), INVALID)
    fails("huge.pcx", header(65535, 65535, 8, 1, 65535) + bytes(64), INVALID)
    fails("tiny.pcx", header(8, 8, 8, 1, 8)[:100], "error: EReadError: Stream read error")

    # Cut anywhere, a file loads what it holds or fails with a message.
    for name in ("n0.pcx", "n4.pcx", "n6.pcx", "n7.pcx", "pilP.pcx"):
        check_cuts(F, d, os.path.join(d, name), "cut.pcx", ["error: EReadError: Stream read error"])


with workdir() as d:
    conformance(d)
    hand_made(d)
F.exit()
