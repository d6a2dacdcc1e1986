"""The TIFF, fax and EPS readers through imgdump, on files made at run time.

libtiff's tools, netpbm, ImageMagick and Pillow write the conformance set
from pictures generated here: every compression the reader decodes, both
byte orders, many strips, separate planes, the predictor on 8- and 16-bit
samples, palettes of 1 to 8 bits, grey, RGB(A), CMYK, L*a*b*, YCbCr and
bilevel fax in every framing. libtiff decodes each file independently
(tiff2rgba, or tiffcp -c none whose samples this script reads); imgdump's
picture must match. ThunderScan and word-aligned modified Huffman strips,
which nothing here writes, are made by hand and checked with libtiff first.
Tiled images, two-dimensional fax and group 4 must be refused; damaged files
must end in the reader's messages.
"""
import os
import struct
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import Failures, imgdump, run, sh, workdir  # noqa: E402
from tiff_files import bits_msb, tiff  # noqa: E402

F = Failures()
RNG = np.random.default_rng(16)
W, H = 61, 37
INVALID = "EInvalidGraphic: Cannot load image. Invalid or unexpected TIF/TIFF image format."
UNSUPPORTED = "EInvalidGraphic: Cannot load image. The compression scheme is not supported for TIF/TIFF files."
TILED = "EInvalidGraphic: Cannot load image. Tiling is not supported for TIF/TIFF files."

# ---- Reading files with libtiff -------------------------------------------------------

TYPE_SIZES = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 6: 1, 7: 1, 8: 2, 9: 4, 10: 8, 11: 4, 12: 8}


def tags(data):
    """The first directory of a TIFF file: tag -> list of numbers."""
    e = ">" if data[:2] == b"MM" else "<"
    (ifd,) = struct.unpack(e + "I", data[4:8])
    (count,) = struct.unpack(e + "H", data[ifd:ifd + 2])
    out = {}
    for i in range(count):
        tag, typ, n, value = struct.unpack(e + "HHI4s", data[ifd + 2 + 12 * i: ifd + 14 + 12 * i])
        size = TYPE_SIZES.get(typ, 1)
        raw = value if n * size <= 4 else data[struct.unpack(e + "I", value)[0]:][: n * size]
        fmt = {1: "B", 2: "B", 3: "H", 4: "I", 6: "b", 7: "B", 8: "h", 9: "i"}.get(typ)
        out[tag] = list(struct.unpack(e + fmt * n, raw[: n * size])) if fmt else raw
    return out, e


def samples(path, d):
    """The stored samples (H x W x S) as libtiff decodes them: tiffcp -c none
    -p contig, then the strips read here."""
    plain = os.path.join(d, "plain.tif")
    sh(f"tiffcp -c none -p contig {path} {plain}", cwd=d)
    data = open(plain, "rb").read()
    t, e = tags(data)
    width, height = t[256][0], t[257][0]
    spp = t.get(277, [1])[0]
    bits = t.get(258, [1])[0]
    strip = b"".join(data[o:o + n] for o, n in zip(t[273], t[279]))
    if bits < 8:
        stride = (width * spp * bits + 7) // 8
        rows = np.unpackbits(np.frombuffer(strip, np.uint8)[: stride * height].reshape(height, stride), axis=1)
        rows = rows[:, : width * spp * bits].reshape(height, width * spp, bits)
        return (rows * (1 << np.arange(bits - 1, -1, -1))).sum(axis=2).reshape(height, width, spp).astype(np.int64)
    dtype = np.dtype(e + ("u2" if bits == 16 else "u1"))
    return np.frombuffer(strip, dtype)[: width * height * spp].reshape(height, width, spp).astype(np.int64)


def rgba_ref(path, d):
    """libtiff's own conversion to RGB (tiff2rgba), alpha dropped."""
    out = os.path.join(d, "rgba.tif")
    if tags(open(os.path.join(d, path), "rb").read())[0].get(266) == [2]:
        # tiff2rgba keeps the fill order, which Pillow does not read.
        sh(f"tiffcp -f msb2lsb {path} msb.tif", cwd=d)
        path = "msb.tif"
    sh(f"tiff2rgba -c none {path} {out}", cwd=d)
    with Image.open(out) as im:
        return np.asarray(im.convert("RGB"), dtype=np.int16)


def lab_rgb(s, bits):
    """The reader's L*a*b* formula on the stored samples (16-bit samples by
    their high bytes)."""
    if bits == 16:
        s = s >> 8
    lum = s[..., 0].astype(np.longdouble) / np.longdouble(2.55)
    a = np.where(s[..., 1] > 127, s[..., 1] - 256, s[..., 1]).astype(np.longdouble)
    b = np.where(s[..., 2] > 127, s[..., 2] - 256, s[..., 2]).astype(np.longdouble)
    t = (lum + 16) / 116
    low = lum < np.longdouble(7.9996)
    y = np.where(low, lum / np.longdouble(903.3), t ** 3)
    x = np.where(low, y + a / np.longdouble(3893.5), (t + a / 500) ** 3)
    z = np.where(low, y - b / np.longdouble(1557.4), (t - b / 200) ** 3)
    m = [[2.998, -1.458, -0.541], [-0.952, 1.893, 0.059], [0.099, -0.198, 1.099]]
    rgb = [np.longdouble(r[0]) * x + np.longdouble(r[1]) * y + np.longdouble(r[2]) * z for r in m]
    return np.clip(np.rint(np.stack(rgb, axis=-1) * 255), 0, 255).astype(np.int16)


# ---- Checking -------------------------------------------------------------------------


def check(name, path, ref, d, tolerance=0, klass="TTIFFGraphic"):
    ppm = os.path.join(d, "out.ppm")
    rc, out, err, pixels = imgdump(path, ppm)
    if not F.check(rc == 0, f"{name}: imgdump failed: {err}"):
        return
    F.check(out.startswith(f"{klass} {ref.shape[1]}x{ref.shape[0]} "), f"{name}: summary {out!r}")
    if pixels is None or pixels.shape != ref.shape:
        F.check(False, f"{name}: picture {None if pixels is None else pixels.shape} != {ref.shape}")
        return
    diff = int(np.abs(pixels - ref).max())
    F.check(diff <= tolerance, f"{name}: pixels differ by {diff} (allowed {tolerance})")


def refused(name, path, message):
    rc, _, err, _ = imgdump(path)
    F.check(rc == 1 and message in err, f"{name}: expected {message!r}, got rc {rc} {err!r}")


def grey3(a):
    return np.repeat(a[..., None], 3, axis=2).astype(np.int16)


# ---- Source pictures -------------------------------------------------------------------


def pictures(d):
    yy, xx = np.mgrid[0:H, 0:W]
    rgb = np.stack([xx * 255 // (W - 1), yy * 255 // (H - 1), (xx * yy) % 256], axis=-1)
    rgb = (rgb + RNG.integers(0, 40, size=rgb.shape)).clip(0, 255).astype(np.uint8)
    open(os.path.join(d, "rgb.ppm"), "wb").write(b"P6\n%d %d\n255\n" % (W, H) + rgb.tobytes())
    deep = (rgb.astype(np.uint32) * 257 + RNG.integers(0, 256, size=rgb.shape)).astype(">u2")
    open(os.path.join(d, "rgb16.ppm"), "wb").write(b"P6\n%d %d\n65535\n" % (W, H) + deep.tobytes())
    open(os.path.join(d, "grey.pgm"), "wb").write(b"P5\n%d %d\n255\n" % (W, H) + rgb[..., 0].tobytes())
    open(os.path.join(d, "grey16.pgm"), "wb").write(b"P5\n%d %d\n65535\n" % (W, H) + deep[..., 1].tobytes())
    # Bilevel: long and short runs of both colours, rows that start black,
    # a row longer than 2560 pixels needs make-up codes that add up.
    mono = ((xx // 3 + yy // 2) % 5 == 0) | ((xx - yy) % 17 < 2)
    mono[::7] = False
    mono[3] = True
    open(os.path.join(d, "mono.pbm"), "wb").write(b"P4\n%d %d\n" % (W, H) + np.packbits(mono, axis=1).tobytes())
    wide = np.zeros((5, 5200), bool)
    wide[1, 2600:] = True
    wide[2, :2561] = True
    wide[3, 1:5199] = True
    wide[4, ::2] = True
    open(os.path.join(d, "wide.pbm"), "wb").write(b"P4\n5200 5\n" + np.packbits(wide, axis=1).tobytes())
    # Few colours, so that every index depth has its palette file.
    for bits in (1, 2, 4, 8):
        levels = RNG.integers(0, 256, size=((1 << bits), 3)).astype(np.uint8)
        levels = np.unique(levels, axis=0)
        idx = RNG.integers(0, len(levels), size=(H, W))
        few = levels[idx]
        open(os.path.join(d, f"few{bits}.ppm"), "wb").write(b"P6\n%d %d\n255\n" % (W, H) + few.tobytes())
    return rgb, mono, wide


# ---- Conformance set ------------------------------------------------------------------


def libtiff_set(d):
    """tiffcp's compressions, byte orders, strips and planes."""
    sh("pnmtotiff rgb.ppm > rgb.tif 2>/dev/null; pnmtotiff grey.pgm > grey.tif 2>/dev/null", cwd=d)
    sh("pnmtotiff -miniswhite mono.pbm > mono.tif 2>/dev/null", cwd=d)
    sh("convert-im6.q16 rgb16.ppm -depth 16 rgb16.tif; convert-im6.q16 grey16.pgm -depth 16 grey16.tif", cwd=d)
    for source in ("rgb", "grey", "rgb16", "grey16"):
        for comp in ("none", "packbits", "lzw", "lzw:2", "zip", "zip:2"):
            for opts in ("", "-B", "-L", "-r 3", "-p separate -B"):
                # tiffcp writes neither 16-bit PackBits nor 16-bit planes.
                if "16" in source and (comp == "packbits" or "separate" in opts):
                    continue
                name = f"{source}-{comp.replace(':', '_')}{opts.replace(' ', '')}.tif"
                sh(f"tiffcp -c {comp} {opts} {source}.tif {name}", cwd=d)
                check(name, os.path.join(d, name), rgba_ref(name, d), d, 1 if "16" in source else 0)
    for comp in ("jpeg", "jpeg:90", "jpeg -r 16"):
        name = f"rgb-{comp.replace(':', '_').replace(' ', '')}.tif"
        sh(f"tiffcp -c {comp} rgb.tif {name}", cwd=d)
        check(name, os.path.join(d, name), rgba_ref(name, d), d, 2)
    jpeg_set(d)


def jpeg_set(d):
    """Grey and CMYK JPEG strips by three encoders. libtiff's tiff2rgba must
    first agree with the samples libtiff decodes (tiffcp -c none)."""
    sh("convert-im6.q16 rgb.ppm -colorspace cmyk cmyk.tif", cwd=d)
    sh("tiffcp -c jpeg -r 16 grey.tif tc-grey-jpeg.tif; tiffcp -c jpeg:95 -r 8 cmyk.tif tc-cmyk-jpeg.tif", cwd=d)
    sh("convert-im6.q16 grey.pgm -compress JPEG im-grey-jpeg.tif; "
       "convert-im6.q16 rgb.ppm -colorspace cmyk -compress JPEG im-cmyk-jpeg.tif", cwd=d)
    with Image.open(os.path.join(d, "rgb.ppm")) as im:
        im.convert("L").save(os.path.join(d, "pil-grey-jpeg.tif"), compression="jpeg")
        im.convert("CMYK").save(os.path.join(d, "pil-cmyk-jpeg.tif"), compression="jpeg")
    for encoder in ("tc", "im", "pil"):
        for scheme in ("grey", "cmyk"):
            name = f"{encoder}-{scheme}-jpeg.tif"
            ref = rgba_ref(name, d)
            s = samples(name, d)
            own = grey3(s[..., 0]) if scheme == "grey" else ((255 - s[..., 3:]) * (255 - s[..., :3]) // 255)
            F.check(max_abs(ref, own) <= (scheme == "cmyk"), f"{name}: tiff2rgba disagrees with libtiff's samples")
            check(name, os.path.join(d, name), ref, d, 1 if scheme == "cmyk" else 0)


def fax_set(d, mono, wide):
    """Bilevel images in every fax framing, by three encoders."""
    expected = grey3(np.where(mono, 0, 255))
    expected_wide = grey3(np.where(wide, 0, 255))
    sh("pnmtotiff -miniswhite wide.pbm > wide.tif 2>/dev/null; pnmtotiff mono.pbm > mono-black.tif 2>/dev/null",
       cwd=d)
    for comp in ("none", "packbits", "g3:1d", "g3:1d:fill"):
        for opts in ("", "-f lsb2msb", "-r 5", "-B"):
            for source, want in (("mono", expected), ("wide", expected_wide), ("mono-black", expected)):
                name = f"{source}-{comp.replace(':', '_')}{opts.replace(' ', '')}.tif"
                sh(f"tiffcp -c {comp} {opts} {source}.tif {name}", cwd=d)
                check(name, os.path.join(d, name), want, d)
                F.check(max_abs(rgba_ref(name, d), want) == 0, f"{name}: libtiff disagrees with the picture")
    for comp in ("tiff_ccitt", "group3"):
        for source, want in (("mono", expected), ("wide", expected_wide)):
            name = f"pil-{source}-{comp}.tif"
            with Image.open(os.path.join(d, f"{source}.pbm")) as im:
                im.convert("1").save(os.path.join(d, name), compression=comp)
            check(name, os.path.join(d, name), want, d)
    # fax2tiff takes raw group 3 data: the strip of a one-strip g3:1d file.
    sh("tiffcp -c g3:1d -r 100000 mono.tif one.tif", cwd=d)
    data = open(os.path.join(d, "one.tif"), "rb").read()
    t, _ = tags(data)
    open(os.path.join(d, "raw.g3"), "wb").write(data[t[273][0]:t[273][0] + t[279][0]])
    for opts in ("-5", "-5 -m", "-5 -p"):
        name = f"fax2tiff{opts.replace(' ', '')}.fax"
        sh(f"fax2tiff -M -1 -X {W} {opts} -o {name} raw.g3 2>/dev/null", cwd=d)
        # fax2tiff keeps its 98 lines-per-inch rows as they are.
        check(name, os.path.join(d, name), expected, d)


def max_abs(a, b):
    return int(np.abs(a.astype(np.int64) - b.astype(np.int64)).max()) if a.shape == b.shape else 999


def netpbm_set(d):
    for bits in (1, 2, 4, 8):
        name = f"palette{bits}.tif"
        sh(f"pnmtotiff -indexbits {bits},8 few{bits}.ppm > {name} 2>/dev/null", cwd=d)
        F.check(tags(open(os.path.join(d, name), "rb").read())[0].get(258) == [bits], f"{name}: not {bits} bits")
        check(name, os.path.join(d, name), rgba_ref(name, d), d)
        with Image.open(os.path.join(d, f"few{bits}.ppm")) as im:
            F.check(max_abs(np.asarray(im, dtype=np.int16), rgba_ref(name, d)) == 0, f"{name}: libtiff disagrees")
    for args, source in (("-miniswhite", "mono.pbm"), ("-minisblack", "mono.pbm"), ("-lzw -predictor 2", "rgb.ppm"),
                         ("-lzw -predictor 2", "grey.pgm"), ("-flate -predictor 2", "rgb.ppm"), ("-g3", "mono.pbm"),
                         ("-packbits", "grey.pgm")):
        name = f"netpbm{args.replace(' ', '')}-{source[:-4]}.tif"
        sh(f"pnmtotiff {args} {source} > {name} 2>/dev/null", cwd=d)
        check(name, os.path.join(d, name), rgba_ref(name, d), d)


def magick_set(d, rgb):
    plain = {
        "im-grey8": "grey.pgm -depth 8", "im-grey16": "grey16.pgm -depth 16", "im-rgb8": "rgb.ppm",
        "im-rgb16": "rgb16.ppm -depth 16", "im-cmyk": "rgb.ppm -colorspace cmyk",
"im-palette": "few8.ppm -type Palette",
        "im-ycbcr": "rgb.ppm -compress jpeg -sampling-factor 2x2 -colorspace YCbCr",
        "im-ycbcr-1x1": "rgb.ppm -colorspace YCbCr -compress none", "im-grey2": "grey.pgm -depth 2",
        "im-grey4-msb": "grey.pgm -depth 4 -endian MSB",
        "im-msb": "rgb16.ppm -depth 16 -endian MSB", "im-zip": "rgb.ppm -compress zip",
        "im-rgb16-planar": "rgb16.ppm -depth 16 -interlace plane -compress lzw -define tiff:predictor=2",
        "im-rgb-planar-msb": "rgb.ppm -interlace plane -compress zip -define tiff:predictor=2 -endian MSB",
        "im-grey16-predictor-msb": "grey16.pgm -depth 16 -compress lzw -define tiff:predictor=2 -endian MSB",
    }
    for name, args in plain.items():
        sh(f"convert-im6.q16 {args} {name}.tif", cwd=d)
        path = os.path.join(d, name + ".tif")
        check(name, path, rgba_ref(path, d), d, 2 if "cmyk" in name or "ycbcr" in name else 1)
    # libtiff converts no 16-bit CMYK: its formula on the high bytes.
    sh("convert-im6.q16 rgb16.ppm -colorspace cmyk -depth 16 im-cmyk16.tif", cwd=d)
    s = samples(os.path.join(d, "im-cmyk16.tif"), d) >> 8
    check("im-cmyk16", os.path.join(d, "im-cmyk16.tif"), ((255 - s[..., 3:]) * (255 - s[..., :3]) // 255), d, 2)
    # Alpha is kept in the bitmap but not shown: the colour samples count.
    alpha = {"im-rgba": "rgb.ppm -alpha set -channel A -fx 'i/w' +channel",
             "im-rgba16": "rgb16.ppm -depth 16 -alpha set -channel A -fx 'j/h' +channel",
             "im-grey-alpha": "grey.pgm -alpha set -channel A -fx 'i/w' +channel",
             "im-grey-alpha-msb": "grey.pgm -alpha set -channel A -fx 'i/w' +channel -endian MSB"}
    for name, args in alpha.items():
        sh(f"convert-im6.q16 {args} {name}.tif", cwd=d)
        path = os.path.join(d, name + ".tif")
        s = samples(path, d)
        s = s >> 8 if s.max() > 255 else s
        ref = grey3(s[..., 0]) if "grey" in name else s[..., :3].astype(np.int16)
        check(name, path, ref, d, 1)
        if "16" not in name:
            sh(f"tiffcp -p separate {name}.tif {name}-planar.tif", cwd=d)
            check(name + " planar", os.path.join(d, f"{name}-planar.tif"), ref, d, 1)
    # A palette with alpha: the indices count, the alpha beside them not.
    sh("convert-im6.q16 few8.ppm -colors 16 -alpha set -channel A -fx 'i/w' +channel -type PaletteAlpha im-pa.tif",
       cwd=d)
    path = os.path.join(d, "im-pa.tif")
    cmap = np.array(tags(open(path, "rb").read())[0][320]).reshape(3, -1).T * 255 // 65535
    check("im-palette-alpha", path, cmap[samples(path, d)[..., 0]].astype(np.int16), d, 1)
    for name, args, bits in (("im-lab16", "rgb.ppm -colorspace Lab -depth 16", 16),
                             ("im-lab8", "rgb.ppm -colorspace Lab -depth 8", 8),
                             ("im-lab16-msb", "rgb.ppm -colorspace Lab -depth 16 -endian MSB", 16)):
        sh(f"convert-im6.q16 {args} {name}.tif", cwd=d)
        path = os.path.join(d, name + ".tif")
        check(name, path, lab_rgb(samples(path, d), bits), d, 1)


def twins(d):
    """The finder sees a TIFF file and its PNG twin alike."""
    sh("pnmtopng rgb.ppm > rgb.png 2>/dev/null", cwd=d)
    names = ["rgb.png", "rgb-lzw_2.tif", "rgb-zip-B.tif", "preview.eps"]
    rc, out, err = run([os.environ.get("IMGDUMP", "imgdump"), "--fingerprint"] + [os.path.join(d, n) for n in names])
    prints = [line.rsplit(" ", 1)[0] for line in out.splitlines()]
    F.check(rc == 0 and len(prints) == 4 and len(set(prints)) == 1, f"fingerprints differ: {out!r} {err!r}")


def refusals(d):
    sh("tiffcp -t rgb.tif tiled.tif; tiffcp -c g3:2d mono.tif g32d.tif; tiffcp -c g4 mono.tif g4.tif", cwd=d)
    refused("tiled", os.path.join(d, "tiled.tif"), TILED)
    refused("g3:2d", os.path.join(d, "g32d.tif"), UNSUPPORTED)
    refused("g4", os.path.join(d, "g4.tif"), UNSUPPORTED)
    # Depths without a converter are refused, not shown blank.
    for args in ("grey.pgm -depth 12", "rgb.ppm -depth 4", "rgb.ppm -depth 10"):
        sh(f"convert-im6.q16 {args} depth.tif", cwd=d)
        refused(args, os.path.join(d, "depth.tif"), "EColorConversionError: Color depth is invalid.")
    sh("convert-im6.q16 grey.pgm -depth 3 grey3.tif", cwd=d)
    # libtiff converts no 3-bit grey: its stored levels spread over 0..255.
    check("grey 3 bits", os.path.join(d, "grey3.tif"), grey3(np.rint(samples("grey3.tif", d)[..., 0] * 255 / 7)), d)
    sh("tiffcp -c lzw -t grey.tif tiled-grey.tif", cwd=d)
    refused("tiled lzw", os.path.join(d, "tiled-grey.tif"), TILED)


# ---- Hand-made files ----------------------------------------------------------------------


def write_tiff(path, entries, strips, big=False):
    with open(path, "wb") as f:
        f.write(tiff(entries, strips, big))


def handmade(d):
    """ThunderScan and word-aligned modified Huffman, which nothing here
    writes: strips made by hand, decoded by libtiff first."""
    # ThunderScan, 12 pixels a row: a run of 5 of the start value 0, a raw
    # 15, three 2-bit deltas (+1, 0, +1), two 3-bit deltas (-1, +1), a raw 3.
    row = bytes([0x05, 0xCF, 0x40 | 0b010001, 0x80 | 0b111001, 0xC3])
    thunder = os.path.join(d, "thunder.tif")
    base = [(256, 3, [12]), (257, 3, [3]), (258, 3, [4]), (262, 3, [1]), (277, 3, [1]), (278, 3, [3])]
    write_tiff(thunder, base + [(259, 3, [32809])], [row * 3])
    ref = rgba_ref(thunder, d)
    want = grey3(np.array([[0] * 5 + [15, 0, 0, 1, 0, 1, 3]] * 3) * 17)
    F.check(max_abs(ref, want) == 0, "thunderscan: libtiff reads the hand-made strip otherwise")
    check("thunderscan", thunder, want, d)
    # A 3-bit palette, which no tool here writes: indices packed across
    # byte boundaries.
    idx = RNG.integers(0, 8, size=(5, 13))
    packed = b"".join(np.packbits(((row[:, None] >> np.array([2, 1, 0])) & 1).ravel()).tobytes() for row in idx)
    colours = RNG.integers(0, 256, size=(8, 3))
    cmap = [int(v) * 257 for v in colours.T.ravel()]
    pal3 = os.path.join(d, "palette3.tif")
    write_tiff(pal3, [(256, 3, [13]), (257, 3, [5]), (258, 3, [3]), (259, 3, [1]), (262, 3, [3]), (277, 3, [1]),
                      (278, 3, [5]), (320, 3, cmap)], [packed])
    check("palette 3 bits", pal3, colours[idx].astype(np.int16), d)
    # Word-aligned modified Huffman, 10 pixels a row: white 3, black 2,
    # white 5; white 0, black 10; white 7, black 3 (one byte, so the word's
    # second byte, 0xFF here, is skipped); white 3, black 2, white 5.
    # libtiff is no reference here: its look-ahead for the next code may
    # reach into the next word, and it then drops that word.
    first = bits_msb("1000" + "11" + "1100")
    strip = first + bits_msb("00110101" + "0000100") + bits_msb("1111" + "10") + b"\xff" + first
    rlew = os.path.join(d, "rlew.tif")
    base[2:4] = [(258, 3, [1]), (262, 3, [0])]
    base = [x if x[0] not in (256, 257, 278) else (x[0], 3, [10 if x[0] == 256 else 4]) for x in base]
    row1 = [255] * 3 + [0] * 2 + [255] * 5
    want = grey3(np.array([row1, [0] * 10, [255] * 7 + [0] * 3, row1]))
    for big in (False, True):
        write_tiff(rlew, base + [(259, 3, [32771])], [strip], big)
        check(f"rlew big={big}", rlew, want, d)
    # Without a Compression tag the strips are uncompressed, as libtiff reads them.
    plain = os.path.join(d, "no-compression-tag.tif")
    grey = RNG.integers(0, 256, size=(3, 7), dtype=np.uint8)
    write_tiff(plain, [(256, 3, [7]), (257, 3, [3]), (258, 3, [8]), (262, 3, [1]), (278, 3, [2])],
               [grey[:2].tobytes(), grey[2:].tobytes()])
    F.check(max_abs(rgba_ref(plain, d), grey3(grey)) == 0, "no compression tag: libtiff reads the file otherwise")
    check("no compression tag", plain, grey3(grey), d)
    # The same rows as plain modified Huffman, bits stored least significant
    # first, which libtiff reads too.
    rows = first + bits_msb("00110101" + "0000100") + bits_msb("1111" + "10") + first
    rev = bytes(int(f"{b:08b}"[::-1], 2) for b in rows)
    mh = os.path.join(d, "mh-lsb.tif")
    write_tiff(mh, base + [(259, 3, [2]), (266, 3, [2])], [rev + b"\0\0"])
    F.check(max_abs(rgba_ref(mh, d), want) == 0, "mh lsb2msb: libtiff reads the hand-made strip otherwise")
    check("mh lsb2msb", mh, want, d)


def large_strips(d):
    """Uncompressed strips of several MiB, which the reader takes a piece at a
    time: one strip, separate planes, 16-bit samples, bilevel with either fill
    order; and a strip that runs past the end of the file, whose missing
    bytes are zero."""
    yy, xx = np.mgrid[0:700, 0:1100]
    big = np.stack([xx % 256, yy % 256, (xx * 7 + yy * 3) % 251], axis=-1).astype(np.uint8)
    open(os.path.join(d, "big.ppm"), "wb").write(b"P6\n1100 700\n255\n" + big.tobytes())
    mono = np.packbits(((xx // 3 + yy) % 7 < 3)[:, :1000].repeat(9, axis=1), axis=1)
    open(os.path.join(d, "bigmono.pbm"), "wb").write(b"P4\n9000 700\n" + mono.tobytes())
    sh("pnmtotiff big.ppm > big.tif 2>/dev/null; pnmtotiff bigmono.pbm > bigmono.tif 2>/dev/null; "
       "convert-im6.q16 big.ppm -depth 16 big16.tif", cwd=d)
    for source, opts in (("big", "-r 100000"), ("big", "-r 100000 -p separate"), ("big", "-r 333 -B"),
                         ("big16", "-r 100000"), ("bigmono", "-r 100000"), ("bigmono", "-r 100000 -f lsb2msb")):
        name = f"{source}{opts.replace(' ', '')}.tif"
        sh(f"tiffcp -c none {opts} {source}.tif {name}", cwd=d)
        check(name, os.path.join(d, name), rgba_ref(name, d), d, 1 if "16" in source else 0)
    data = open(os.path.join(d, "big-r100000.tif"), "rb").read()
    keep = 1100 * 3 * 500 + 1000  # two pieces and a part of a row
    data = patch_tag(data, 273, value=len(data) - keep)
    cut = write_patched(d, data)
    rows = np.frombuffer(data[-keep:] + bytes(1100 * 700 * 3 - keep), np.uint8).reshape(700, 1100, 3)
    check("strip past the end", cut, rows.astype(np.int16), d)


def eps(d):
    """A binary EPS header around a TIFF preview at offset 1000."""
    tiff = open(os.path.join(d, "rgb-lzw_2-r3.tif"), "rb").read()
    head = struct.pack("<IIIIIIIH", 0xC6D3D0C5, 30, 10, 0, 0, 1000, len(tiff), 0xFFFF)
    path = os.path.join(d, "preview.eps")
    open(path, "wb").write(head + b"%!PS-Adobe-3.0 EPSF-3.0\n".ljust(970, b" ") + tiff)
    check("eps", path, rgba_ref(os.path.join(d, "rgb-lzw_2-r3.tif"), d), d, klass="TEPSGraphic")
    bad = os.path.join(d, "bad.eps")
    open(bad, "wb").write(b"\0" * 4 + head[4:] + b" " * 970 + tiff)
    rc, _, err, _ = imgdump(bad)
    F.check(rc == 1 and "Invalid or unexpected EPS image format." in err, f"eps signature: {err!r}")
    zero = os.path.join(d, "zero.eps")
    open(zero, "wb").write(head[:20] + struct.pack("<I", 0) + head[24:] + b" " * 970 + tiff)
    refused("eps offset 0", zero, INVALID)


# ---- Damaged files --------------------------------------------------------------------------


def patch_tag(data, tag, count=None, value=None, typ=None, new_tag=None):
    """The file with the fields given replaced in the first directory's entries of tag."""
    e = ">" if data[:2] == b"MM" else "<"
    (ifd,) = struct.unpack(e + "I", data[4:8])
    (n,) = struct.unpack(e + "H", data[ifd:ifd + 2])
    out = bytearray(data)
    for i in range(n):
        p = ifd + 2 + 12 * i
        if struct.unpack(e + "H", data[p:p + 2])[0] == tag:
            if typ is not None:
                out[p + 2:p + 4] = struct.pack(e + "H", typ)
            if count is not None:
                out[p + 4:p + 8] = struct.pack(e + "I", count)
            if value is not None:
                out[p + 8:p + 12] = struct.pack(e + "I", value)
            if new_tag is not None:
                out[p:p + 2] = struct.pack(e + "H", new_tag)
    return bytes(out)


def malformed(d):
    messages = (INVALID, "EReadError: Stream read error", UNSUPPORTED, "EGraphicCompression: Improper JPEG",
                "EInvalidGraphic: JPEG error #")
    sources = ["rgb-lzw_2-r3.tif", "grey-zip-B.tif", "mono-g3_1d-r5.tif", "palette4.tif", "rgb-jpeg-r16.tif",
               "pil-mono-tiff_ccitt.tif", "rgb16-lzw_2-B.tif", "im-rgb16-planar.tif"]
    for source in sources:
        data = open(os.path.join(d, source), "rb").read()
        for tenth in range(1, 10):
            path = os.path.join(d, "cut.tif")
            open(path, "wb").write(data[: len(data) * tenth // 10])
            rc, _, err, _ = imgdump(path)
            F.check(rc == 0 or any(m in err for m in messages), f"{source} cut at {tenth}/10: {err!r}")
        t, e = tags(data)
        damaged = {
            "huge strip count": patch_tag(data, 273, count=0x3FFFFFFF),
            "huge byte counts": patch_tag(data, 279, count=0x3FFFFFFF),
            "strip offset past end": patch_tag(data, 273, count=1, value=0x7FFFFFF0),
            "huge colour map": patch_tag(data, 320, count=0x7FFFFFFF),
            "huge rows per strip count": patch_tag(data, 278, count=0x40000000),
            "huge bits per sample": patch_tag(data, 258, count=1, value=0xFFFF, typ=4),
            "huge samples": patch_tag(data, 277, count=1, value=300, typ=4),
            "huge width": patch_tag(data, 256, count=1, value=0x7FFFFFFF, typ=4),
            "zero rows per strip": patch_tag(data, 278, count=1, value=0, typ=4),
            "directory past end": data[:4] + struct.pack(e + "I", len(data) + 100) + data[8:],
        }
        for what, bad in damaged.items():
            path = os.path.join(d, "bad.tif")
            open(path, "wb").write(bad)
            rc, _, err, _ = imgdump(path)
            F.check(rc == 0 or any(m in err for m in messages), f"{source} {what}: {err!r}")
    # Missing or short strip byte counts mean the rest of the file.
    for source in ("rgb-lzw_2-r3.tif", "grey-none-r3.tif", "mono-g3_1d-r5.tif"):
        data = open(os.path.join(d, source), "rb").read()
        ref = rgba_ref(source, d)
        check(f"{source} without byte counts", write_patched(d, patch_tag(data, 279, new_tag=65000)), ref, d)
        check(f"{source} with one byte count", write_patched(d, patch_tag(data, 279, count=1)), ref, d)
    # A missing StripOffsets tag, and a scheme with too few samples.
    data = open(os.path.join(d, "grey-none.tif"), "rb").read()
    refused("no strip offsets", write_missing(d, data, 273), INVALID)
    refused("RGB with one sample", write_patched(d, patch_tag(data, 262, value=2)), INVALID)
    refused("CMYK with one sample", write_patched(d, patch_tag(data, 262, value=5)), INVALID)
    # Resolutions with denominator 0 count as absent.
    path = os.path.join(d, "res0.tif")
    write_tiff(path, [(256, 3, [2]), (257, 3, [1]), (258, 3, [8]), (259, 3, [1]), (262, 3, [1]),
                            (282, 5, [(72, 0)]), (283, 5, [(1, 0)]), (296, 3, [3])], [b"\x10\x80"])
    check("resolution 0", path, grey3(np.array([[0x10, 0x80]])), d)


def regressions(d):
    """Files that once made the reader fail badly load, or end in its messages."""
    folder = os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "fuzz", "regressions")
    messages = (INVALID, "EReadError: Stream read error", UNSUPPORTED, "Invalid or unexpected EPS image format.",
                "EColorConversionError: Sample count per pixel does not correspond to the given color scheme.")
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        if os.path.splitext(name)[1].lower() in (".tif", ".tiff", ".fax", ".eps"):
            rc, _, err, _ = imgdump(os.path.join(folder, name), os.path.join(d, "regression.ppm"))
            F.check(rc == 0 or any(m in err for m in messages), f"regression {name}: {err!r}")


def write_missing(d, data, tag):
    # Renaming the tag to one the reader does not know removes it.
    return write_patched(d, patch_tag(data, tag, new_tag=65000))


def write_patched(d, data):
    path = os.path.join(d, "patched.tif")
    open(path, "wb").write(data)
    return path


def main():
    with workdir() as d:
        rgb, mono, wide = pictures(d)
        libtiff_set(d)
        fax_set(d, mono, wide)
        netpbm_set(d)
        magick_set(d, rgb)
        refusals(d)
        handmade(d)
        large_strips(d)
        eps(d)
        twins(d)
        malformed(d)
        regressions(d)
    F.exit()


main()
