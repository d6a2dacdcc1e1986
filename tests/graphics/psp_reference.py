"""The Paint Shop Pro reader through imgdump.

Nothing in Debian writes Paint Shop Pro files, so a small writer beside this
script (psp_files.py) makes them from the format's block layout, with pixels known by
construction: major versions 3 and 5, RGB (with and without a transparency
plane), 1-, 4- and 8-bit grey and indexed images, channels raw, run-length
coded and deflated, layers that are passed over, missing and unknown
channels, and the files the reader refuses. Every file cut at each tenth of
its length must end in the reader's messages. The finder must group a Paint
Shop Pro file with its PNG twin.
"""
import os
import sys
import zlib

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
import psp_files  # noqa: E402
from imgtest import Failures, imgdump, run, workdir  # noqa: E402
from psp_files import block, channel  # noqa: E402

F = Failures()
FINDDUPS = sys.argv[1] if len(sys.argv) > 1 else "finddups"
INVALID = "Cannot load image. Invalid or unexpected PSP image format."
COLOR_FORMAT = "Invalid color format in PSP file."
UNSUPPORTED = "Cannot load image. The compression scheme is not supported for PSP files."
READ_ERROR = "Stream read error"
LZ77_ERROR = "LZ77 decompression error."
H, W = 19, 29
RNG = np.random.default_rng(18)

# ---- The writer, at this test's picture size ----------------------------------


def layer(version, ltype, channels, name=b"Layer"):
    return psp_files.layer(version, ltype, channels, W, H, name)


def psp(*args, width=W, height=H, **options):
    return psp_files.psp(*args, width=width, height=height, **options)


def pack_rows(values, bits):
    """Rows of samples as a plane: 1 and 4 bits packed high bits first, rows on byte bounds."""
    if bits == 8:
        return values.astype(np.uint8).tobytes()
    per = 8 // bits
    width = values.shape[1]
    padded = np.zeros((values.shape[0], -(-width // per) * per), np.int64)
    padded[:, :width] = values
    shifts = np.arange(per - 1, -1, -1) * bits
    return (padded.reshape(values.shape[0], -1, per) << shifts).sum(axis=2).astype(np.uint8).tobytes()


# ---- Checks ---------------------------------------------------------------------


def save(d, name, data):
    path = os.path.join(d, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def expect_pixels(d, name, data, want, layout=None):
    rc, out, err, got = imgdump(save(d, name, data), os.path.join(d, "out.ppm"))
    if not F.check(rc == 0, f"{name}: load failed: {err}"):
        return
    F.check(out.startswith("TPSPGraphic"), f"{name}: {out}")
    if layout:
        F.check(out.endswith(layout), f"{name}: layout {out}, want {layout}")
    want = np.asarray(want, dtype=np.int16)
    diff = np.abs(got - want).max() if got.shape == want.shape else None
    F.check(diff == 0, f"{name}: pixels differ by {diff}")


def expect_error(d, name, data, messages):
    rc, _, err, _ = imgdump(save(d, name, data))
    F.check(rc == 1 and any(err.startswith("error: E") and err.endswith(": " + m) for m in messages),
            f"{name}: rc {rc}, {err!r}, want one of {messages}")


def check_colour(d):
    rgb = RNG.integers(0, 256, (H, W, 3), dtype=np.uint8)
    rgb[4:9] = 77  # runs for the run-length coder
    alpha = RNG.integers(0, 256, (H, W), dtype=np.uint8)
    files = []
    for version in (3, 5):
        for comp in (0, 1, 2):
            chans = [channel(version, t, rgb[..., t - 1], comp) for t in (1, 2, 3)]
            data = psp(version, 24, False, comp, [layer(version, 0, chans)])
            expect_pixels(d, f"rgb-v{version}-c{comp}.psp", data, rgb, "pl24Bit")
            files.append(data)
            # A transparency plane makes a 32-bit bitmap; the colours stay.
            chans.append(channel(version, 0, alpha, comp))
            expect_pixels(d, f"rgba-v{version}-c{comp}.psp", psp(version, 24, False, comp, [layer(version, 0, chans)]),
                          rgb, "pl32Bit")
    v = 5
    # Layers that are not raster layers are passed over; the first raster layer counts.
    other = [channel(v, t, 255 - rgb[..., t - 1], 1) for t in (1, 2, 3)]
    chans = [channel(v, t, rgb[..., t - 1], 1) for t in (1, 2, 3)]
    expect_pixels(d, "skip-vector.psp", psp(v, 24, False, 1, [layer(v, 2, other), layer(v, 1, chans),
                                                             layer(v, 1, other)]), rgb)
    expect_pixels(d, "skip-v3.psp", psp(3, 24, False, 0, [layer(3, 1, [channel(3, t, 255 - rgb[..., t - 1], 0)
                                                                       for t in (1, 2, 3)]),
                                                          layer(3, 0, [channel(3, t, rgb[..., t - 1], 0)
                                                                       for t in (1, 2, 3)])]), rgb)
    # A missing green channel reads as zeros; an unknown channel is passed over.
    want = rgb.copy()
    want[..., 1] = 0
    odd = [chans[0], channel(v, 7, alpha, 1), chans[2]]
    expect_pixels(d, "no-green.psp", psp(v, 24, False, 1, [layer(v, 1, odd)]), want)
    # Raw data longer, uncompressed length larger than the picture: only the picture's part counts.
    long = [channel(v, t, rgb[..., t - 1].tobytes() + b"\x55" * 300, 0) for t in (1, 2, 3)]
    expect_pixels(d, "raw-long.psp", psp(v, 24, False, 0, [layer(v, 1, long)]), rgb)
    # A deflated channel that ends early leaves the rest zero.
    short = zlib.compress(rgb[..., 2].tobytes())[:-40]
    part = [channel(v, 1, rgb[..., 0], 2), channel(v, 2, rgb[..., 1], 2), channel(v, 3, rgb[..., 2], 2, stored=short)]
    want = rgb.copy()
    blue = np.zeros(H * W, np.uint8)
    prefix = zlib.decompressobj().decompress(short)
    blue[: len(prefix)] = np.frombuffer(prefix, np.uint8)
    want[..., 2] = blue.reshape(H, W)
    expect_pixels(d, "lz-short.psp", psp(v, 24, False, 2, [layer(v, 1, part)]), want)
    # A bank whose first sub-block is not a layer has no pixels.
    empty = psp(v, 24, False, 1, [block(v, 9, b"x" * 20), layer(v, 1, chans)])
    rc, out, err, got = imgdump(save(d, "bank-not-layer.psp", empty), os.path.join(d, "out.ppm"))
    F.check(rc == 0 and out == f"TPSPGraphic {W}x{H} pl24Bit" and np.ptp(got) == 0, f"bank-not-layer.psp: {out} {err}")
    # Signature in capitals.
    expect_pixels(d, "capitals.psp", psp(v, 24, False, 1, [layer(v, 1, chans)], sig=b"PAINT SHOP PRO IMAGE FILE\n\x1a"),
                  rgb)
    return rgb, files


def check_indexed_and_grey(d):
    files = []
    for bits in (1, 4, 8):
        values = RNG.integers(0, 1 << bits, (H, W))
        plane = pack_rows(values, bits)
        colours = [tuple(int(c) for c in RNG.integers(0, 256, 3)) for _ in range(1 << bits)]
        layout = {1: "pl1Bit", 4: "pl4Bit", 8: "pl8Bit"}[bits]
        for version, comp in ((3, 1), (5, 2), (5, 0)):
            data = psp(version, bits, False, comp, [layer(version, 0, [channel(version, 0, plane, comp)])], colours)
            expect_pixels(d, f"indexed{bits}-v{version}-c{comp}.psp", data, np.array(colours)[values], layout)
            files.append(data)
        # Grey without a palette block: evenly spaced greys, black first.
        levels = values * (255 // ((1 << bits) - 1))
        grey = np.repeat(levels[..., None], 3, -1)
        data = psp(5, bits, True, 1, [layer(5, 1, [channel(5, 0, plane, 1)])])
        expect_pixels(d, f"grey{bits}.psp", data, grey, layout)
        # A second composite is the transparency, not the picture.
        mask = pack_rows(np.zeros((H, W), np.int64), bits)
        data = psp(5, bits, True, 1, [layer(5, 1, [channel(5, 0, plane, 1), channel(5, 0, mask, 1)])])
        expect_pixels(d, f"grey{bits}-mask.psp", data, grey, layout)
    # More than 256 palette entries: the first 256 count.
    values = RNG.integers(0, 256, (H, W))
    colours = [tuple(int(c) for c in RNG.integers(0, 256, 3)) for _ in range(300)]
    data = psp(5, 8, False, 0, [layer(5, 1, [channel(5, 0, pack_rows(values, 8), 0)])], colours)
    expect_pixels(d, "palette-300.psp", data, np.array(colours)[values])
    return files


def check_refused(d, rgb):
    v = 5
    chans = [channel(v, t, rgb[..., t - 1], 1) for t in (1, 2, 3)]
    good = psp(v, 24, False, 1, [layer(v, 1, chans)])
    jpeg = [channel(v, t, rgb[..., t - 1], 0, stored=b"\xff\xd8" + bytes(50)) for t in (1, 2, 3)]
    broken = [channel(v, t, rgb[..., t - 1], 2, stored=b"\x78\x9c\xff\xff\xff\xff" + bytes(40)) for t in (1, 2, 3)]
    cases = [
        ("bad-signature.psp", psp(v, 24, False, 1, [layer(v, 1, chans)], sig=b"Paint Shop Pro Imagefile"), [INVALID]),
        ("version-2.psp", psp(2, 24, False, 1, [layer(2, 1, chans)]), [INVALID]),
        ("depth-16.psp", psp(v, 16, False, 1, [layer(v, 1, chans)]), [COLOR_FORMAT]),
        ("depth-2.psp", psp(v, 2, False, 1, [layer(v, 1, chans)]), [COLOR_FORMAT]),
        ("jpeg.psp", psp(v, 24, False, 3, [layer(v, 1, jpeg)]), [UNSUPPORTED]),
        ("unknown-compression.psp", psp(v, 24, False, 9, [layer(v, 1, jpeg)]), [UNSUPPORTED]),
        ("lz77-broken.psp", psp(v, 24, False, 2, [layer(v, 1, broken)]), [LZ77_ERROR]),
        ("too-large.psp", psp(v, 24, False, 1, [layer(v, 1, chans)], width=1 << 16, height=1 << 16), [INVALID]),
        ("header-only.psp", good[:30], [READ_ERROR]),
        ("signature-only.psp", good[:20], [INVALID]),
        ("attributes-cut.psp", good[:60], [READ_ERROR]),
    ]
    for name, data, messages in cases:
        expect_error(d, name, data, messages)
    # A huge palette count or compressed length is a short file, not an allocation.
    pal = psp(v, 8, False, 0, [], [(1, 2, 3)])
    at = pal.index(b"~BK\0\x02\0") + 14
    expect_error(d, "palette-count.psp", pal[:at] + b"\xff\xff\xff\x7f" + pal[at + 4:], [READ_ERROR])
    huge = [channel(v, t, rgb[..., t - 1], 0, stored=b"", uncompressed=0xFFFFFFFF) for t in (1, 2, 3)]
    data = bytearray(psp(v, 24, False, 0, [layer(v, 1, huge)]))
    at = data.rindex(b"~BK\0\x05\0") + 14
    data[at:at + 4] = b"\xff\xff\xff\x7f"
    expect_error(d, "channel-length.psp", bytes(data), [READ_ERROR])


def check_truncated(d, files):
    allowed = [INVALID, READ_ERROR, LZ77_ERROR]
    for i, data in enumerate(files):
        for k in range(1, 10):
            expect_error(d, f"cut-{i}-{k}.psp", data[: len(data) * k // 10], allowed)


def check_finder(d, rgb):
    sub = os.path.join(d, "twins")
    os.mkdir(sub)
    Image.fromarray(rgb).save(os.path.join(sub, "b.png"))
    chans = [channel(5, t, rgb[..., t - 1], 2) for t in (1, 2, 3)]
    save(sub, "a.psp", psp(5, 24, False, 2, [layer(5, 1, chans)]))
    rc, out, err = run([FINDDUPS, sub + "/", "5"])
    F.check(rc == 0 and "a.psp,b.png" in out, f"finddups: {rc} {out!r} {err!r}")


def main():
    with workdir() as d:
        rgb, files = check_colour(d)
        files += check_indexed_and_grey(d)
        check_refused(d, rgb)
        check_truncated(d, files[::3])
        check_finder(d, rgb)
    F.exit()


main()
