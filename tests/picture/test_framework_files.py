"""The framework's own formats (BMP, JPEG, ICO) and the fingerprint, checked
against independent decoders on files made at test time."""
import os
import struct
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import Failures, imgdump, max_diff, read_image, ref_pixels, run, sh, workdir  # noqa: E402

F = Failures()


def bmp_header(width, height, bpp, compression=0, colours=0, image_size=0, extra=b""):
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, compression, image_size, 2835, 2835, colours, 0)
    return info + extra


def bmp_file(info_and_table, bits):
    off = 14 + len(info_and_table)
    return b"BM" + struct.pack("<IHHI", off + len(bits), 0, 0, off) + info_and_table + bits


def grey_table(n):
    return b"".join(bytes((i * 255 // max(n - 1, 1),) * 3 + (0,)) for i in range(n))


def check_bmp_against_tools(d):
    # netpbm's tools report on standard error; the test's output stays readable.
    made = {
        "rgb24.bmp": "convert rose: BMP3:rgb24.bmp",
        "argb32.bmp": "convert rose: -alpha set -define bmp:subtype=ARGB8888 argb32.bmp",
        "rgb565.bmp": "convert rose: -define bmp:subtype=RGB565 rgb565.bmp",
        "rgb555.bmp": "convert rose: -define bmp:subtype=RGB555 rgb555.bmp",
        "pal8.bmp": "convert rose: -colors 200 -type palette -compress none BMP3:pal8.bmp",
        "pal4.bmp": "convert rose: -colors 16 -type palette BMP3:pal4.bmp",
        "mono.bmp": "convert rose: -monochrome BMP3:mono.bmp",
        "rle8.bmp": "convert rose: -colors 150 -compress RLE BMP3:rle8.bmp",
        "os2.bmp": "convert rose: ppm:- | ppmtobmp -os2 -bpp 24 > os2.bmp 2>/dev/null",
        "os2pal.bmp": "convert rose: -colors 64 ppm:- | ppmtobmp -os2 -bpp 8 > os2pal.bmp 2>/dev/null",
        "netpbm4.bmp": "convert rose: -colors 12 ppm:- | ppmtobmp -windows -bpp 4 > netpbm4.bmp 2>/dev/null",
        "netpbm1.bmp": "convert rose: -monochrome ppm:- | ppmtobmp -windows -bpp 1 > netpbm1.bmp 2>/dev/null",
        "odd.bmp": "convert rose: -resize 33x7! BMP3:odd.bmp",
    }
    layouts = {"rgb24.bmp": "pl24Bit", "argb32.bmp": "pl32Bit", "rgb565.bmp": "pl16Bit", "rgb555.bmp": "pl15Bit",
               "pal8.bmp": "pl8Bit", "pal4.bmp": "pl4Bit", "mono.bmp": "pl1Bit", "rle8.bmp": "pl8Bit"}
    for name, cmd in made.items():
        sh(cmd, cwd=d)
        rc, line, err, px = imgdump(os.path.join(d, name), os.path.join(d, "out.ppm"))
        if not F.check(rc == 0, f"{name}: imgdump failed: {err}"):
            continue
        want_layout = layouts.get(name)
        F.check(want_layout is None or line.endswith(want_layout), f"{name}: layout line {line!r}")
        ref = ref_pixels(f"convert {name} -compress none ppm:{{out}}", d)
        F.check(max_diff(px, ref) == 0, f"{name}: pixels differ from ImageMagick's decode (max {max_diff(px, ref)})")
        if name not in ("argb32.bmp", "rgb565.bmp", "rgb555.bmp", "rle8.bmp"):
            ref2 = ref_pixels(f"bmptopnm {name} > {{out}} 2>/dev/null", d)
            F.check(max_diff(px, ref2) == 0, f"{name}: pixels differ from bmptopnm's decode")


def check_hand_made_bmps(d):
    # Top-down 24-bit: the negative height flips the row order.
    rows = [bytes([0, 0, 255] * 3 + [0, 0, 0]), bytes([255, 0, 0] * 3 + [0, 0, 0])]  # red row, blue row
    data = bmp_file(bmp_header(3, -2, 24), b"".join(rows))
    path = os.path.join(d, "topdown.bmp")
    open(path, "wb").write(data)
    rc, _, err, px = imgdump(path, os.path.join(d, "out.ppm"))
    if F.check(rc == 0, f"top-down: {err}"):
        F.check(px[0, 0].tolist() == [255, 0, 0] and px[1, 0].tolist() == [0, 0, 255], "top-down row order")

    # RLE4 with an absolute run, a delta, end of line and end of bitmap,
    # plus a run longer than the row (clipped, nothing written past it).
    w, h = 6, 3
    rle = bytes([
        4, 0x12,             # row 0 (bottom): 1 2 1 2
        0, 3, 0x34, 0x50,    # absolute: 3 4 5 (padded to a word)
        0, 0,                # end of line
        0, 2, 2, 1,          # delta: right 2, up 1 -> row 2, x 2
        9, 0x77,             # run of 9 clipped at the row's end
        0, 1,                # end of bitmap
    ])
    data = bmp_file(bmp_header(w, h, 4, compression=2, colours=16, image_size=len(rle)) + grey_table(16), rle)
    path = os.path.join(d, "rle4.bmp")
    open(path, "wb").write(data)
    rc, line, err, px = imgdump(path, os.path.join(d, "out.ppm"))
    if F.check(rc == 0, f"rle4: {err}"):
        F.check(line.endswith("pl4Bit"), f"rle4 layout {line}")
        level = lambda i: i * 255 // 15  # noqa: E731
        want = np.zeros((h, w), dtype=int)
        want[2, :] = [1, 2, 1, 2, 3, 4]   # bottom row (the 5 of the absolute run falls off the row)
        want[0, 2:] = 7                   # top row after the delta
        got = px[:, :, 0]
        F.check((got == np.vectorize(level)(want)).all(), f"rle4 pixels {got.tolist()}")

    # RLE8 whose delta leaves the image ends decoding quietly.
    rle = bytes([2, 5, 0, 2, 200, 200, 3, 9, 0, 1])
    data = bmp_file(bmp_header(4, 2, 8, compression=1, colours=256, image_size=len(rle)) + grey_table(256), rle)
    path = os.path.join(d, "rle8delta.bmp")
    open(path, "wb").write(data)
    rc, _, err, px = imgdump(path, os.path.join(d, "out.ppm"))
    if F.check(rc == 0, f"rle8 delta: {err}"):
        F.check(px[1, :, 0].tolist() == [5, 5, 0, 0] and px[0, :, 0].tolist() == [0, 0, 0, 0], "rle8 delta pixels")

    # A palette index past the colour count draws black.
    bits = bytes([0x01, 0x23, 0, 0])
    data = bmp_file(bmp_header(4, 1, 4, colours=2) + b"\xff\xff\xff\x00\x80\x80\x80\x00", bits)
    path = os.path.join(d, "shortpal.bmp")
    open(path, "wb").write(data)
    rc, _, err, px = imgdump(path, os.path.join(d, "out.ppm"))
    if F.check(rc == 0, f"short palette: {err}"):
        F.check(px[0, :, 0].tolist() == [255, 128, 0, 0], f"indices past the palette: {px[0, :, 0].tolist()}")


def check_malformed_bmps(d):
    good = bmp_file(bmp_header(4, 4, 24), bytes(48))
    cases = {
        "truncated-header": good[:20],
        "truncated-bits": good[:-5],
        "not-bm": b"XM" + good[2:],
        "huge": bmp_file(bmp_header(100000, 100000, 24), bytes(64)),
        "bits7": bmp_file(bmp_header(4, 4, 7), bytes(64)),
        "colour-count": bmp_file(bmp_header(4, 4, 8, colours=1000) + bytes(4000), bytes(16)),
        "offset-past-end": good[:10] + struct.pack("<I", 1 << 30) + good[14:],
        "rle-top-down": bmp_file(bmp_header(4, -4, 8, compression=1, colours=2) + bytes(8), b"\x00\x01"),
        "bitfields-24": bmp_file(bmp_header(4, 4, 24, compression=3) + bytes(12), bytes(48)),
        "header-size-20": good[:14] + struct.pack("<I", 20) + good[18:],
        "zero-width": bmp_file(bmp_header(0, 4, 24), bytes(48)),
    }
    for name, data in cases.items():
        path = os.path.join(d, name + ".bmp")
        open(path, "wb").write(data)
        rc, _, err, _ = imgdump(path, os.path.join(d, "out.ppm"))
        F.check(rc == 1 and err == "error: EInvalidGraphic: Bitmap image is not valid", f"malformed {name}: rc {rc} {err!r}")


def check_jpeg(d):
    sh("convert rose: -resize 131x77! src.ppm && convert rose: -resize 64x48! -colorspace gray src.pgm", cwd=d)
    variants = {
        "base.jpg": "cjpeg -quality 85 src.ppm > base.jpg",
        "prog.jpg": "cjpeg -progressive src.ppm > prog.jpg",
        "grey.jpg": "cjpeg -grayscale src.ppm > grey.jpg",
        "greysrc.jpg": "cjpeg src.pgm > greysrc.jpg",
        "s420.jpg": "cjpeg -sample 2x2 src.ppm > s420.jpg",
        "s422.jpg": "cjpeg -sample 2x1 src.ppm > s422.jpg",
        "s444.jpg": "cjpeg -sample 1x1 src.ppm > s444.jpg",
        "restart.jpg": "cjpeg -restart 1 src.ppm > restart.jpg",
    }
    settings = [([], ""), (["--scale", "3"], "-scale 1/8"), (["--scale", "1"], "-scale 1/2"),
                (["--fast"], "-fast"), (["--8bit"], "-colors 256"), (["--fast", "--8bit"], "-fast -colors 256")]
    for name, cmd in variants.items():
        sh(cmd, cwd=d)
        for options, djpeg in settings:
            rc, line, err, px = imgdump(os.path.join(d, name), os.path.join(d, "out.ppm"), options)
            if not F.check(rc == 0, f"{name} {options}: {err}"):
                continue
            if name.startswith("grey"):
                # Greys decode exactly with a ramp palette; no colours to reduce.
                djpeg = djpeg.replace("-colors 256", "")
            ref = ref_pixels(f"djpeg {djpeg} {name} > {{out}}", d)
            F.check(max_diff(px, ref) == 0, f"{name} {options}: differs from djpeg {djpeg} (max {max_diff(px, ref)})")
    # The header alone is read at load: the size shown is the file's.
    rc, line, _, _ = imgdump(os.path.join(d, "base.jpg"))
    F.check(line == "TJPEGImage 131x77 -", f"jpeg summary {line!r}")
    # CMYK photographs are shown in colour (Adobe-inverted, as written by ImageMagick).
    sh("convert rose: -colorspace CMYK cmyk.jpg", cwd=d)
    rc, _, err, px = imgdump(os.path.join(d, "cmyk.jpg"), os.path.join(d, "out.ppm"))
    if F.check(rc == 0, f"cmyk: {err}"):
        ref = ref_pixels("convert cmyk.jpg -colorspace sRGB ppm:{out}", d)
        F.check(max_diff(px, ref) is not None and max_diff(px, ref) <= 2, f"cmyk colours (max {max_diff(px, ref)})")
    # Damaged data: the header loads, drawing fails with libjpeg's error number.
    data = open(os.path.join(d, "base.jpg"), "rb").read()
    open(os.path.join(d, "notjpeg.jpg"), "wb").write(b"hello, not a picture")
    rc, _, err, _ = imgdump(os.path.join(d, "notjpeg.jpg"))
    F.check(rc == 1 and err.startswith("error: EJPEG: JPEG error #"), f"not a jpeg: {err!r}")
    sof = data.find(b"\xff\xc0")
    damaged = bytearray(data)
    damaged[sof + 9] = 7  # component count 7 does not fit the frame header's length
    open(os.path.join(d, "badsof.jpg"), "wb").write(bytes(damaged))
    rc, _, err, _ = imgdump(os.path.join(d, "badsof.jpg"), os.path.join(d, "out.ppm"))
    F.check(rc == 1 and err.startswith("error: EJPEG: JPEG error #"), f"bad frame header: {err!r}")
    # A truncated file is a warning, not an error: it draws.
    open(os.path.join(d, "cut.jpg"), "wb").write(data[: len(data) * 2 // 3])
    rc, _, err, _ = imgdump(os.path.join(d, "cut.jpg"), os.path.join(d, "out.ppm"))
    F.check(rc == 0, f"truncated jpeg: {err}")


def composite_on_white(png_path):
    from PIL import Image
    with Image.open(png_path) as im:
        im = im.convert("RGBA")
        white = Image.new("RGBA", im.size, (255, 255, 255, 255))
        white.alpha_composite(im)
        return np.asarray(white.convert("RGB"), dtype=np.int16)


def check_icons(d):
    sh("convert rose: -resize 16x16! -alpha set -channel A -fx 'i<8?1:0.5' s16.png", cwd=d)
    sh("convert rose: -resize 32x32! -alpha set -channel A -fx 'j<16?1:0' s32.png", cwd=d)
    sh("convert rose: -resize 48x48! s48.png", cwd=d)
    sh("convert rose: -resize 32x32! -colors 200 -type palette -alpha off p32.png", cwd=d)
    for depth in ("32", "8", "4", "1"):
        name = f"icon{depth}.ico"
        src = "s16.png s32.png s48.png" if depth == "32" else "p32.png"
        rc, _, err = run(["icotool", "-c", "-b", depth, "-o", name] + src.split(), cwd=d)
        if not F.check(rc == 0, f"icotool -b {depth}: {err}"):
            continue
        rc, line, err, px = imgdump(os.path.join(d, name), os.path.join(d, "out.ppm"))
        if not F.check(rc == 0, f"{name}: {err}"):
            continue
        F.check(line == "TIcon 32x32 -", f"{name}: the 32 x 32 image is chosen ({line})")
        sh(f"icotool -x -w 32 -o ref.png {name}", cwd=d)
        ref = composite_on_white(os.path.join(d, "ref.png"))
        F.check(max_diff(px, ref) is not None and max_diff(px, ref) <= 1, f"{name}: pixels (max {max_diff(px, ref)})")
    # An icon whose only image is PNG-compressed loads once a PNG reader is registered.
    run(["icotool", "-c", "-r", "s32.png", "-o", "pngicon.ico"], cwd=d)
    png_readable = run([os.environ["IMGDUMP"], os.path.join(d, "s32.png")])[0] == 0
    rc, _, err, px = imgdump(os.path.join(d, "pngicon.ico"), os.path.join(d, "out.ppm"))
    if png_readable:
        ref = composite_on_white(os.path.join(d, "s32.png"))
        F.check(rc == 0 and max_diff(px, ref) <= 1, f"png icon: {err}")
    else:
        F.check(rc == 1 and err == "error: EInvalidGraphic: Icon image is not valid", f"png icon without reader: {err}")
    # Malformed icons.
    good = open(os.path.join(d, "icon8.ico"), "rb").read()
    cases = {"short": good[:5], "count": good[:4] + b"\xff\xff" + good[6:],
             "offset": good[:18] + struct.pack("<I", 1 << 30) + good[22:], "type": good[:2] + b"\x07\x00" + good[4:],
             "bits": good[:good.find(b"\x28\x00\x00\x00") + 14] + b"\x03\x00" + good[good.find(b"\x28\x00\x00\x00") + 16:]}
    for name, data in cases.items():
        path = os.path.join(d, f"bad-{name}.ico")
        open(path, "wb").write(data)
        rc, _, err, _ = imgdump(path, os.path.join(d, "out.ppm"))
        F.check(rc == 1 and err == "error: EInvalidGraphic: Icon image is not valid", f"malformed icon {name}: {err!r}")


def oracle_fingerprint(path, d):
    """Fingerprint from ImageMagick's centre sampling into 16 x 8."""
    grey = ref_pixels(f"convert {path} -define sample:offset=50.001 -sample 16x8! ppm:{{out}}", d)
    cells = np.floor((grey.sum(axis=2) + 1) / 3).astype(int)  # sum / 3 rounded
    mean = int(np.rint(cells.sum() / 128))                    # halves to even
    bits = cells >= mean
    words = []
    for w in range(4):
        v = 0
        for x in range(16):
            v |= int(bits[2 * w, x]) << (31 - x)
            v |= int(bits[2 * w + 1, x]) << (15 - x)
        words.append(f"{v:08X}")
    return " ".join(words)


def check_fingerprints(d):
    made = {
        "big.bmp": "convert rose: -resize 333x127! BMP3:big.bmp",
        "small.bmp": "convert rose: -resize 9x5! BMP3:small.bmp",
        "odd.bmp": "convert logo: -resize 101x73! -colors 60 -type palette BMP3:odd.bmp",
        "plasma.bmp": "convert -size 64x64 plasma:fractal -seed 7 BMP3:plasma.bmp",
        "tall.bmp": "convert rose: -rotate 90 -resize 17x200! BMP3:tall.bmp",
    }
    paths = []
    for name, cmd in made.items():
        sh(cmd, cwd=d)
        paths.append(os.path.join(d, name))
    # Worked examples.
    sh("convert -size 32x16 xc:white -fill black -draw 'rectangle 0,0 15,15' BMP3:lefthalf.bmp", cwd=d)
    sh("convert -size 32x16 xc:white -fill black -draw 'rectangle 0,0 31,7' BMP3:tophalf.bmp", cwd=d)
    sh("convert -size 20x20 xc:'#336699' BMP3:flat.bmp", cwd=d)
    open(os.path.join(d, "broken.bmp"), "wb").write(b"not a bitmap")
    rc, out, err = run([os.environ["IMGDUMP"], "--fingerprint"] + paths +
                       [os.path.join(d, n) for n in ("lefthalf.bmp", "tophalf.bmp", "flat.bmp", "broken.bmp")])
    lines = out.splitlines()
    if not F.check(rc == 0 and len(lines) == len(paths) + 4, f"fingerprint run: {err}"):
        return
    for path, line in zip(paths, lines):
        F.check(line[:35] == oracle_fingerprint(path, d), f"fingerprint of {os.path.basename(path)}: {line[:35]} "
                f"vs oracle {oracle_fingerprint(path, d)}")
    F.check(lines[-4].startswith("00FF00FF 00FF00FF 00FF00FF 00FF00FF"), f"left half black: {lines[-4]}")
    F.check(lines[-3].startswith("00000000 00000000 FFFFFFFF FFFFFFFF"), f"top half black: {lines[-3]}")
    F.check(lines[-2].startswith("FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF"), f"flat colour: {lines[-2]}")
    F.check(lines[-1].startswith("00000000 00000000 00000000 00000000"), f"unreadable: {lines[-1]}")


def main():
    with workdir() as d:
        check_bmp_against_tools(d)
        check_hand_made_bmps(d)
        check_malformed_bmps(d)
        check_jpeg(d)
        check_icons(d)
        check_fingerprints(d)
    F.exit()


if __name__ == "__main__":
    main()
