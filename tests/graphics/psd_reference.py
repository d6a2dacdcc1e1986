"""The Photoshop reader through imgdump.

ImageMagick writes 8- and 16-bit files, raw and PackBits, in grey, RGB,
RGBA, CMYK, indexed and bitmap modes; Pillow reads the 8-bit composites and
is the reference for their pixels (CMYK through the colour manager's ink
formula applied to Pillow's coverage samples). 16-bit files must show what
the 8-bit files of the same picture show. A small writer beside this script
(psd_files.py) makes what no tool writes: duotone, L*a*b*, five-channel
RGB, grey with alpha, damaged PackBits rows, long colour tables and the
files the reader refuses.
Every file cut at each tenth of its length must end in the reader's
messages. The finder must group a Photoshop file with its PNG twin.
"""
import os
import struct
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
import psd_files  # noqa: E402
from imgtest import Failures, imgdump, run, sh, workdir  # noqa: E402
from psd_files import packbits  # noqa: E402

F = Failures()
FINDDUPS = sys.argv[1] if len(sys.argv) > 1 else "finddups"
IM = "convert-im6.q16"
INVALID = "Cannot load image. Invalid or unexpected PSD or PDD image format."
COLOR_FORMAT = "Invalid color format in PSD or PDD file."
READ_ERROR = "Stream read error"
H, W = 23, 37


def psd(planes, mode, **options):
    """planes: list of H x W arrays (bytes per row as stored: for depth 1 the
    packed rows, for 16 the big-endian words)."""
    return psd_files.psd(planes, mode, width=W, **options)


def wide(plane):
    return [r.astype(">u2").tobytes() for r in plane]


def lab_rgb(l, a, b):
    """The colour manager's L*a*b* formula (L 0..100, a and b signed)."""
    t = (l + 16.0) / 116.0
    if l < 7.9996:
        y = l / 903.3
        x, z = y + a / 3893.5, y - b / 1557.4
    else:
        x, y, z = (t + a / 500.0) ** 3, t ** 3, (t - b / 200.0) ** 3
    rgb = (2.998 * x - 1.458 * y - 0.541 * z, -0.952 * x + 1.893 * y + 0.059 * z,
           0.099 * x - 0.198 * y + 1.099 * z)
    return [min(255, max(0, int(np.rint(c * 255)))) for c in rgb]


def cmyk_rgb(c, m, y, k, wide=False):
    """The colour manager's ink formula on 8-bit coverage samples; wide: on
    the same samples stored at 16 bits."""
    k = k.astype(np.int64)
    if wide:
        k = k * 257
        cover = [x.astype(np.int64) * 257 for x in (c, m, y)]
        cover = [(x - x * k // 65535 + k) & 0xFFFF for x in cover]
        return np.stack([np.clip(255 - x * 255 // 65535, 0, 255) for x in cover], -1)
    return np.stack([np.clip(255 - x.astype(np.int64) - k + x.astype(np.int64) * k // 255, 0, 255)
                     for x in (c, m, y)], -1)


# ---- Checks -------------------------------------------------------------------


def expect_pixels(d, name, data, want, layout=None):
    path = os.path.join(d, name)
    if data is not None:
        with open(path, "wb") as f:
            f.write(data)
    rc, out, err, got = imgdump(path, os.path.join(d, "out.ppm"))
    if not F.check(rc == 0, f"{name}: load failed: {err}"):
        return
    F.check(out.startswith("TPSDGraphic"), f"{name}: {out}")
    if layout:
        F.check(out.endswith(layout), f"{name}: layout {out}, want {layout}")
    diff = np.abs(got - np.asarray(want, dtype=np.int16)).max() if got.shape == np.shape(want) else None
    F.check(diff == 0, f"{name}: pixels differ by {diff}")


def expect_error(d, name, data, messages):
    path = os.path.join(d, name)
    with open(path, "wb") as f:
        f.write(data)
    rc, _, err, _ = imgdump(path)
    F.check(rc == 1 and any(err == f"error: {c}: {m}" for m in messages for c in
                            ("EInvalidGraphic", "EReadError")),
            f"{name}: rc {rc}, {err!r}, want one of {messages}")


def pillow_rgb(path):
    with Image.open(path) as im:
        return np.asarray(im.convert("RGB"), dtype=np.int16)


def check_imagemagick(d):
    y, x = np.mgrid[0:H, 0:W]
    rgb = np.stack([(x * 7) % 256, (y * 11) % 256, ((x + y) * 5) % 256], -1).astype(np.uint8)
    alpha = ((x * y) % 256).astype(np.uint8)
    Image.fromarray(rgb).save(os.path.join(d, "src.png"))
    Image.fromarray(np.dstack([rgb, alpha])).save(os.path.join(d, "srca.png"))
    kinds = {
        "rgb": ("src.png", "", "pl24Bit"),
        "rgba": ("srca.png", "", "pl32Bit"),
        "grey": ("src.png", "-colorspace Gray", "pl8Bit"),
        "cmyk": ("src.png", "-colorspace CMYK", "pl24Bit"),
        "palette": ("src.png", "-type Palette", "pl8Bit"),
        "bitmap": ("src.png", "-monochrome -depth 1", "pl1Bit"),
    }
    for kind, (src, opts, layout) in kinds.items():
        for comp in ("None", "RLE"):
            name = f"im-{kind}-{comp}.psd"
            path = os.path.join(d, name)
            sh(f"{IM} {src} {opts} -compress {comp} {path}", cwd=d)
            cmyk = None
            if kind == "bitmap":
                # Pillow shows bitmap mode inverted; ImageMagick's own bilevel
                # picture of the source is the reference.
                sh(f"{IM} {src} {opts} ref.pbm", cwd=d)
                want = np.asarray(Image.open(os.path.join(d, "ref.pbm")).convert("RGB"), dtype=np.int16)
            else:
                with Image.open(path) as im:
                    if im.mode == "CMYK":
                        cmyk = np.moveaxis(np.asarray(im), -1, 0)
                        want = cmyk_rgb(*cmyk)
                    else:
                        want = np.asarray(im.convert("RGB"), dtype=np.int16)
            expect_pixels(d, name, None, want, layout)
            # ImageMagick's 16-bit RGBA composites are not its picture (it
            # cannot read them back itself), so alpha is tried at 8 bits only.
            if kind in ("rgb", "grey", "cmyk"):
                # The same picture at 16 bits shows the same 8-bit levels.
                name16 = f"im-{kind}-{comp}-16.psd"
                sh(f"{IM} {path} -depth 16 -compress {comp} {os.path.join(d, name16)}", cwd=d)
                expect_pixels(d, name16, None, want if cmyk is None else cmyk_rgb(*cmyk, wide=True), layout)


def check_hand_made(d):
    rng = np.random.default_rng(17)
    planes = [rng.integers(0, 256, (H, W), dtype=np.uint8) for _ in range(5)]
    rgb = np.stack(planes[:3], -1)
    grey3 = np.repeat(planes[0][..., None], 3, -1)

    # Duotone: the colour mode data are passed over, the composite is grey.
    expect_pixels(d, "duotone.psd", psd([planes[0]], 8, color_data=b"\x01" * 500), grey3, "pl8Bit")
    # Grey with alpha, indexed with alpha: channel 0 is the picture.
    expect_pixels(d, "grey-alpha.psd", psd(planes[:2], 1, compression=1), grey3, "pl8Bit")
    table = bytes(range(256)) + bytes(255 - i for i in range(256)) + bytes((i * 3) % 256 for i in range(256))
    pal = np.stack([planes[1], 255 - planes[1], (planes[1].astype(int) * 3) % 256], -1)
    expect_pixels(d, "indexed-alpha.psd", psd(planes[1:3], 2, color_data=table), pal, "pl8Bit")
    # A colour table longer than 256 entries: the first 256 count.
    expect_pixels(d, "indexed-long-table.psd", psd([planes[1]], 2, color_data=table + b"\x07" * 99), pal)
    # Five channels: RGB, alpha and a spot colour.
    expect_pixels(d, "rgb-5.psd", psd(planes, 3, compression=1), rgb, "pl32Bit")
    # No ink at all is white.
    white = np.full((H, W), 255, np.uint8)
    expect_pixels(d, "cmyk-white.psd", psd([white] * 4, 4), np.full((H, W, 3), 255))
    # Bitmap mode: rows of (Width + 7) div 8 bytes, 1 = black.
    bits = rng.integers(0, 2, (H, W), dtype=np.uint8)
    packed = [np.packbits(r).tobytes() for r in bits]
    want = np.repeat(np.where(bits == 1, 0, 255)[..., None], 3, -1)
    expect_pixels(d, "bitmap.psd", psd([packed], 0, depth=1), want, "pl1Bit")
    expect_pixels(d, "bitmap-rle.psd", psd([packed], 0, depth=1, compression=1), want, "pl1Bit")
    # L*a*b*, 8 and 16 bits (L over 0..255, a and b offset by 128).
    lab = np.stack(planes[:3], -1)
    want = np.array([[lab_rgb(v[0] / 2.55, v[1] - 128.0, v[2] - 128.0) for v in row] for row in lab])
    expect_pixels(d, "lab.psd", psd(planes[:3], 9), want, "pl24Bit")
    lab16 = lab.astype(np.int64) * 257
    want = np.array([[lab_rgb(v[0] / 257 / 2.55, (v[1] - 32768) / 256, (v[2] - 32768) / 256) for v in row]
                     for row in lab16])
    expect_pixels(d, "lab-16.psd", psd([wide(p.astype(np.uint16) * 257) for p in planes[:3]], 9, depth=16),
                  want, "pl24Bit")
    # 16-bit grey, PackBits: each row decodes to 2 x Width bytes.
    expect_pixels(d, "grey-16-rle.psd", psd([wide(planes[0].astype(np.uint16) * 257)], 1, depth=16, compression=1),
                  grey3)
    # A row that decodes short or long leaves the next rows where they are.
    rows = [packbits(bytes(r)) for r in planes[0]]
    rows[3] = bytes([W - 1]) + bytes(planes[0][3][:4])  # short: the rest of row 3 stays 0
    rows[7] = bytes([0x81, 9])                           # long: a run of 128 bytes
    want = grey3.copy()
    short = np.zeros(W, np.uint8)
    short[:4] = planes[0][3][:4]
    want[3] = short[:, None]
    want[7] = 9
    expect_pixels(d, "grey-rle-damaged.psd", psd([planes[0]], 1, compression=1, rows_packed=[rows]), want)

    # Channels read side by side through windows of their own: PackBits
    # rows that cross the windows' edges, CMYK among them, and raw rows
    # longer than a window.
    tall = [rng.integers(0, 256, (700, 300), dtype=np.uint8) for _ in range(4)]
    tall[0][::3] = 7  # runs as well as literals
    expect_pixels(d, "tall-rle.psd", psd_files.psd(tall[:3], 3, width=300, compression=1), np.stack(tall[:3], -1))
    expect_pixels(d, "tall-cmyk-rle.psd", psd_files.psd(tall, 4, width=300, compression=1),
                  cmyk_rgb(*[255 - t for t in tall]))
    long_rows = [rng.integers(0, 256, (2, 70000), dtype=np.uint8) for _ in range(3)]
    expect_pixels(d, "long-rows.psd", psd_files.psd(long_rows, 3, width=70000), np.stack(long_rows, -1))

    # Refused files.
    good = psd(planes[:3], 3)
    refused = [
        ("lower-signature.psd", psd(planes[:3], 3, sig=b"8bps"), [INVALID]),
        ("version-2.psd", psd(planes[:3], 3, version=2), [INVALID]),
        ("deflate.psd", psd(planes[:3], 3, compression=2), [INVALID]),
        ("rgb-2.psd", psd(planes[:2], 3), [INVALID]),
        ("cmyk-3.psd", psd(planes[:3], 4), [INVALID]),
        ("indexed-16.psd", psd([wide(planes[0].astype(np.uint16))], 2, depth=16, color_data=table), [COLOR_FORMAT]),
        ("rgb-32.psd", psd(planes[:3], 3, depth=32), [COLOR_FORMAT]),
        ("too-large.psd", good[:14] + struct.pack(">II", 1 << 16, 1 << 16) + good[22:], [INVALID]),
        ("section-too-long.psd", good[:26] + struct.pack(">I", 1 << 30) + good[30:], [READ_ERROR]),
        ("rows-missing.psd", good[:-100], [READ_ERROR]),
        ("header-only.psd", good[:20], [READ_ERROR]),
    ]
    for name, data, messages in refused:
        expect_error(d, name, data, messages)
    return [good, psd(planes[:3], 3, compression=1), psd([planes[0]], 1, compression=1)]


def check_truncated(d, files):
    """Every tenth of every file: a message, never a crash."""
    allowed = [INVALID, READ_ERROR]
    for i, data in enumerate(files):
        for k in range(1, 10):
            expect_error(d, f"cut-{i}-{k}.psd", data[: len(data) * k // 10], allowed)


def check_finder(d):
    sub = os.path.join(d, "twins")
    os.mkdir(sub)
    sh(f"{IM} src.png -compress RLE twins/a.psd && {IM} src.png twins/b.png && {IM} src.png -compress None PSD:twins/c.pdd", cwd=d)
    rc, out, err = run([FINDDUPS, sub + "/", "5"])
    F.check(rc == 0 and "a.psd,b.png,c.pdd" in out, f"finddups: {rc} {out!r} {err!r}")


def main():
    with workdir() as d:
        check_imagemagick(d)
        files = check_hand_made(d)
        for name in ("im-rgb-RLE.psd", "im-cmyk-None.psd", "im-palette-RLE.psd", "im-bitmap-None.psd"):
            with open(os.path.join(d, name), "rb") as f:
                files.append(f.read())
        check_truncated(d, files)
        check_finder(d)
    F.exit()


main()
