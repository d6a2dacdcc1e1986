"""The PNG reader through imgdump, on a conformance set made at run time.

A generator in this script writes PNG files whose pixels it knows: every
colour type with every bit depth, interlaced and not, every row filter,
image data split over many chunks, palettes of 1 to 256 entries, tRNS for
every colour type, bKGD, gAMA and interlaced images of 1 to 9 pixels a side.
pnmtopng and ImageMagick write more. imgdump's picture must equal the
generator's pixels and pngtopam's decode (16-bit samples within 1 of the
high byte); files with gAMA are checked against the gamma formula. Malformed
files must end in the reader's messages.
"""
import os
import struct
import subprocess
import sys
import zlib

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import Failures, imgdump, sh, workdir  # noqa: E402

F = Failures()
SIG = b"\x89PNG\r\n\x1a\n"
PASSES = [(0, 0, 8, 8), (0, 4, 8, 8), (4, 0, 8, 4), (0, 2, 4, 4), (2, 0, 4, 2), (0, 1, 2, 2), (1, 0, 2, 1)]
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
PAIRS = [(0, 1), (0, 2), (0, 4), (0, 8), (0, 16), (2, 8), (2, 16), (3, 1), (3, 2), (3, 4), (3, 8),
         (4, 8), (4, 16), (6, 8), (6, 16)]
RNG = np.random.default_rng(9)

# ---- Writing PNG files ---------------------------------------------------------


def pack(samples, depth):
    """One row of samples as stored: sub-byte samples packed high bits first."""
    if depth == 16:
        return samples.astype(">u2").tobytes()
    if depth == 8:
        return samples.astype(np.uint8).tobytes()
    per = 8 // depth
    padded = np.zeros(-(-len(samples) // per) * per, dtype=np.int64)
    padded[: len(samples)] = samples
    shifts = np.arange(per - 1, -1, -1) * depth
    return (padded.reshape(-1, per) << shifts).sum(axis=1).astype(np.uint8).tobytes()


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)


def filter_row(kind, raw, prior, bpp):
    out = bytearray(len(raw))
    for i in range(len(raw)):
        a = raw[i - bpp] if i >= bpp else 0
        c = prior[i - bpp] if i >= bpp else 0
        b = prior[i]
        out[i] = (raw[i] - (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]) & 0xFF
    return bytes([kind]) + bytes(out)


def scanlines(pixels, depth, interlace, filters):
    """The filtered rows of the image (of its seven passes when interlaced)."""
    bpp = max(1, pixels.shape[2] * depth // 8)
    out, n = bytearray(), 0
    for sr, sc, rs, cs in PASSES if interlace else [(0, 0, 1, 1)]:
        sub = pixels[sr::rs, sc::cs]
        if sub.size == 0:
            continue
        prior = bytes(len(pack(sub[0].reshape(-1), depth)))
        for row in sub:
            raw = pack(row.reshape(-1), depth)
            out += filter_row(filters(n), raw, prior, bpp)
            prior, n = raw, n + 1
    return bytes(out)


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def split(data, pieces):
    if not data:
        return [b""]
    step = -(-len(data) // pieces)
    return [data[i:i + step] for i in range(0, len(data), step)] or [b""]


def png_file(pixels, ct, depth, interlace=0, filters=None, palette=None, trns=None, bkgd=None, gama=None,
             pieces=1, zdata=None, idat=b"IDAT", extra=b""):
    h, w = pixels.shape[:2]
    out = SIG + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, ct, 0, 0, interlace))
    if gama is not None:
        out += chunk(b"gAMA", struct.pack(">I", gama))
    if palette is not None:
        out += chunk(b"PLTE", np.asarray(palette, np.uint8).tobytes())
    if trns is not None:
        out += chunk(b"tRNS", trns)
    if bkgd is not None:
        out += chunk(b"bKGD", bkgd)
    out += extra
    if zdata is None:
        zdata = zlib.compress(scanlines(pixels, depth, interlace, filters or (lambda n: n % 5)), 9)
    for piece in split(zdata, pieces):
        out += chunk(idat, piece)
    return out + chunk(b"IEND", b"")


def random_image(w, h, ct, depth, colours=None):
    top = min(colours, 1 << depth) if ct == 3 and colours else 1 << depth
    return RNG.integers(0, top, size=(h, w, CHANNELS[ct]), dtype=np.int64)


def random_palette(n):
    return RNG.integers(0, 256, size=(n, 3))

# ---- What the picture must show -----------------------------------------------------


def gamma_table(gama):
    """The display table for a file gamma (gAMA / 100000) and a screen gamma of 2.2."""
    if gama is None:
        return np.arange(256)
    g = np.float32(np.longdouble(gama) / np.longdouble(100000))
    e = np.float32(np.longdouble(1) / (np.longdouble(g) * np.longdouble(np.float32(2.2))))
    i = np.arange(256, dtype=np.longdouble)
    return np.rint((i / 255) ** np.longdouble(e) * 255).astype(np.int64)


def level8(v, depth):
    return v // 257 if depth == 16 else v * 255 // ((1 << depth) - 1)


def neighbour(colour, up):
    """The colour one level away on every channel: up, or down, as far as the
    channels allow."""
    step = np.where((up & np.all(colour < 255)) | ~np.all(colour > 0), 1, -1)
    return colour + step


def render(pixels, ct, depth, palette=None, trns=None, gama=None):
    """The picture on white: alpha is not shown; pixels whose samples equal
    the tRNS samples of a grey or RGB image are transparent, and others that
    would show in the key's colour stay one level apart (up where their
    samples lie above the key's); palette indices past the palette are
    black."""
    t = gamma_table(gama)
    if ct == 3:
        table = np.zeros((256, 3), np.int64)
        table[: len(palette)] = t[np.asarray(palette)]
        out = table[pixels[..., 0]]
    elif ct in (0, 4):
        out = np.repeat(t[level8(pixels[..., :1], depth)], 3, axis=2)
    else:
        out = t[level8(pixels[..., :3], depth)]
    if trns is not None and ct in (0, 2):
        key = np.array(struct.unpack(">%dH" % (len(trns) // 2), trns)).reshape(1, 1, -1)
        colour = render(key, ct, depth, gama=gama)[0, 0]
        is_key = np.all(pixels == key, axis=2, keepdims=True)
        above = (pixels - key).sum(axis=2, keepdims=True) > 0
        if ct == 0 and depth == 16:
            # Grey shows through a palette of 8-bit levels: a pixel on the
            # key's level takes the next level on its side.
            idx, kidx = pixels // 257, key // 257
            moved = np.where((above & (kidx < 255)) | (kidx == 0), kidx + 1, kidx - 1)
            idx = np.where((idx == kidx) & ~is_key, moved, idx)
            out = np.repeat(t[idx], 3, axis=2)
            above = idx > kidx
        apart = np.all(out == colour, axis=2, keepdims=True) & ~is_key
        out = np.where(apart, neighbour(colour, above), out)
        out = np.where(is_key, 255, out)
    return out.astype(np.int16)

# ---- Reference decodes ------------------------------------------------------------------


def read_pnm(path):
    """Binary PBM, PGM, PPM or PAM as 8-bit RGB: 16-bit samples by their high byte."""
    data = open(path, "rb").read()
    magic = data[:2]
    if magic == b"P7":
        head, _, body = data.partition(b"ENDHDR\n")
        fields = dict(line.split(b" ", 1) for line in head.split(b"\n")[1:] if b" " in line)
        w, h, depth, maxval = (int(fields[k]) for k in (b"WIDTH", b"HEIGHT", b"DEPTH", b"MAXVAL"))
    else:
        tokens, pos = [], 2
        while len(tokens) < (2 if magic == b"P4" else 3):
            while data[pos:pos + 1].isspace():
                pos += 1
            if data[pos:pos + 1] == b"#":
                pos = data.index(b"\n", pos)
                continue
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            tokens.append(int(data[pos:end]))
            pos = end
        body = data[pos + 1:]
        w, h = tokens[:2]
        maxval = tokens[2] if magic != b"P4" else 1
        depth = 3 if magic == b"P6" else 1
    if magic == b"P4":
        bits = np.unpackbits(np.frombuffer(body, np.uint8)).reshape(h, -1)[:, :w]
        v = (1 - bits).astype(np.int64)[..., None]
    else:
        dtype = ">u2" if maxval > 255 else np.uint8
        v = np.frombuffer(body, dtype)[: w * h * depth].astype(np.int64).reshape(h, w, depth)
    v = v >> 8 if maxval == 65535 else v * 255 // maxval
    v = v[..., :3] if v.shape[2] >= 3 else np.repeat(v[..., :1], 3, axis=2)
    return v.astype(np.int16)


def pngtopam(path):
    out = path + ".ref.pnm"
    with open(out, "wb") as f:
        subprocess.run(["pngtopam", path], check=True, stdout=f, stderr=subprocess.DEVNULL)
    return read_pnm(out)

# ---- Checks -------------------------------------------------------------------------------


class Checker:
    def __init__(self, d):
        self.d = d

    def write(self, name, data):
        path = os.path.join(self.d, name)
        open(path, "wb").write(data)
        return path

    def load(self, path):
        rc, line, err, px = imgdump(path, path + ".ppm")
        F.check(rc == 0, f"{os.path.basename(path)}: {err}")
        return line, px

    def pixels(self, name, data, expected=None, reference=True, deep=False, transparent=False):
        """Loads a file; its picture must equal the expected pixels and the
        reference decode (within 1 for 16-bit files); transparent: pixels
        that pngtopam calls fully transparent are white."""
        path = self.write(name, data) if data is not None else os.path.join(self.d, name)
        line, px = self.load(path)
        if px is None:
            return
        if expected is not None:
            if px.shape != expected.shape or not np.array_equal(px, expected):
                F.check(False, f"{name}: pixels differ from the generator's ({self.where(px, expected)})")
        if reference:
            ref = pngtopam(path)
            if transparent:
                # pngtopam misreads the transparent colour of RGB images;
                # Pillow's alpha marks it.
                with Image.open(path) as im:
                    alpha = np.asarray(im.convert("RGBA"))[..., 3:]
                ref = np.where(alpha == 0, 255, ref)
            diff = int(np.abs(px - ref).max()) if px.shape == ref.shape else None
            F.check(diff is not None and diff <= (1 if deep else 0), f"{name}: pixels differ from pngtopam ({diff})")
        return line

    @staticmethod
    def where(px, expected):
        if px.shape != expected.shape:
            return f"shape {px.shape} for {expected.shape}"
        y, x = np.argwhere(np.any(px != expected, axis=2))[0]
        return f"first at x={x} y={y}: {px[y, x].tolist()} for {expected[y, x].tolist()}"

    def error(self, name, data, message):
        path = self.write(name, data)
        rc, _, err, _ = imgdump(path, path + ".ppm")
        F.check(rc == 1 and err == "error: " + message, f"{name}: {err!r}, expected {message!r}")


def generated(c):
    """The conformance set of the generator."""
    layouts = {(0, 1): "pl1Bit", (0, 2): "pl4Bit", (0, 4): "pl4Bit", (3, 1): "pl1Bit", (3, 2): "pl4Bit",
               (3, 4): "pl4Bit", (2, 8): "pl24Bit", (2, 16): "pl24Bit", (6, 8): "pl32Bit", (6, 16): "pl32Bit"}
    for ct, depth in PAIRS:
        palette = random_palette(min(1 << depth, 256)) if ct == 3 else None
        for interlace in (0, 1):
            px = random_image(13, 11, ct, depth)
            kinds = RNG.integers(0, 5, size=64)
            data = png_file(px, ct, depth, interlace, filters=lambda n: int(kinds[n]), palette=palette, pieces=5)
            line = c.pixels(f"ct{ct}-{depth}-i{interlace}.png", data, render(px, ct, depth, palette), deep=depth == 16)
            layout = layouts.get((ct, depth), "pl8Bit")
            F.check(line == f"TPNGGraphic 13x11 {layout}", f"ct{ct}-{depth}: {line}")
    # Every filter alone, over 8-byte pixels and over packed 4-bit samples.
    for kind in range(5):
        for ct, depth in ((6, 16), (0, 4), (2, 8)):
            px = random_image(9, 5, ct, depth)
            data = png_file(px, ct, depth, filters=lambda n: kind)
            c.pixels(f"filter{kind}-ct{ct}-{depth}.png", data, render(px, ct, depth), deep=depth == 16)
    # Image data in one-byte chunks with empty ones between them.
    px = random_image(20, 20, 2, 8)
    z = zlib.compress(scanlines(px, 8, 0, lambda n: n % 5))
    extra_idat = b"".join(chunk(b"IDAT", z[i:i + 1]) + chunk(b"IDAT", b"") for i in range(len(z)))
    data = png_file(px, 2, 8, zdata=b"").replace(chunk(b"IDAT", b""), extra_idat)
    c.pixels("idat-bytes.png", data, render(px, 2, 8))
    # Palettes of 1 to 256 entries, and an index past the palette (black).
    for depth, sizes in ((8, (1, 2, 3, 17, 100, 255, 256)), (1, (1, 2)), (2, (1, 3, 4)), (4, (5, 16))):
        for n in sizes:
            palette = random_palette(n)
            px = random_image(10, 6, 3, depth, colours=n)
            c.pixels(f"palette{depth}-{n}.png", png_file(px, 3, depth, palette=palette), render(px, 3, depth, palette))
    palette = random_palette(3)
    px = random_image(10, 6, 3, 2)
    c.pixels("palette-short.png", png_file(px, 3, 2, palette=palette), render(px, 3, 2, palette), reference=False)
    # tRNS for every colour type: the colour of grey and RGB images.
    for ct, depth in PAIRS:
        px = random_image(9, 7, ct, depth, colours=4)
        palette = random_palette(4) if ct == 3 else None
        if ct in (0, 2):
            trns = struct.pack(">%dH" % CHANNELS[ct], *px[3, 4].tolist())
        else:
            trns = bytes([0, 128, 255]) if ct == 3 else b"\x00\x01" * CHANNELS[ct]
        data = png_file(px, ct, depth, 1 if depth == 4 else 0, palette=palette, trns=trns)
        c.pixels(f"trns-ct{ct}-{depth}.png", data, render(px, ct, depth, palette, trns), reference=ct not in (0, 2),
                 deep=depth == 16)
    # gAMA: the levels of every kind of image through the gamma formula.
    for (ct, depth), gama in zip(PAIRS, [45455, 100000, 22727, 70000, 100000, 100000, 50000, 100000, 100000,
                                         100000, 30000, 100000, 200000, 100000, 100000]):
        palette = random_palette(1 << depth) if ct == 3 else None
        px = random_image(11, 9, ct, depth)
        trns = struct.pack(">%dH" % CHANNELS[ct], *px[0, 0].tolist()) if ct in (0, 2) else None
        data = png_file(px, ct, depth, depth == 8, palette=palette, trns=trns, gama=gama)
        c.pixels(f"gamma{gama}-ct{ct}-{depth}.png", data, render(px, ct, depth, palette, trns, gama),
                 reference=False)
    # tRNS under gAMA: the key is matched on the stored samples, so that the
    # levels around it, which gamma (or the scaling of 16-bit samples) shows
    # in the key's colour, stay visible.
    for ct, depth, key in ((2, 8, 250), (0, 8, 250), (2, 16, 0xFA40), (0, 16, 0xFA40), (0, 16, 0x0140),
                           (0, 4, 15), (0, 16, 0)):
        near = np.clip(key + np.arange(-6, 7) * (1 if depth <= 8 else 97), 0, (1 << depth) - 1)
        px = RNG.choice(near, size=(9, 11, 1)).repeat(CHANNELS[ct], axis=2)
        px[1::3, ::2, -1] = key  # RGB pixels that differ from the key in one sample
        px[0, 0] = key
        trns = struct.pack(">%dH" % CHANNELS[ct], *[key] * CHANNELS[ct])
        for interlace in (0, 1):
            data = png_file(px, ct, depth, interlace, trns=trns, gama=100000)
            c.pixels(f"key-gamma-ct{ct}-{depth}-{key}-i{interlace}.png", data,
                     render(px, ct, depth, trns=trns, gama=100000), reference=False)
    # Interlaced images of every width and height from 1 to 9.
    for w in range(1, 10):
        for h in range(1, 10):
            ct, depth = ((2, 8), (0, 1), (3, 4), (4, 16))[(w + h) % 4]
            palette = random_palette(16) if ct == 3 else None
            px = random_image(w, h, ct, depth)
            c.pixels(f"adam7-{w}x{h}.png", png_file(px, ct, depth, 1, palette=palette),
                     render(px, ct, depth, palette), reference=w == h, deep=depth == 16)
    # Image data that run out: the rest shows the bKGD colour.
    for ct, depth, bkgd, colour in ((0, 8, b"\x00\x40", 0x40), (2, 16, b"\x12\x34\x80\x00\xff\xff", (18, 127, 255)),
                                    (3, 2, b"\x02", None), (6, 8, b"\x00\x10\x00\x20\x00\x30", (16, 32, 48))):
        palette = random_palette(4) if ct == 3 else None
        px = random_image(16, 12, ct, depth, colours=4)
        raw = scanlines(px, depth, 0, lambda n: n % 5)
        z = zlib.compress(raw, 9)[:-40]
        rows = len(zlib.decompressobj().decompress(z)) // (len(raw) // 12)
        expected = render(px, ct, depth, palette)
        expected[rows:] = palette[2] if ct == 3 else colour
        c.pixels(f"short-bkgd-ct{ct}.png", png_file(px, ct, depth, palette=palette, bkgd=bkgd, zdata=z), expected,
                 reference=False)
    # Chunk names ignore letter case; unknown ancillary chunks and their CRCs
    # are passed over.
    px = random_image(5, 4, 2, 8)
    unknown = chunk(b"teST", b"abc")[:-1] + b"\x00"
    c.pixels("lower-idat.png", png_file(px, 2, 8, idat=b"idat", extra=unknown), render(px, 2, 8), reference=False)


def made_by_tools(c):
    """Files of pnmtopng and ImageMagick against pngtopam."""
    d = c.d
    rgb = RNG.integers(0, 256, size=(13, 17, 3), dtype=np.uint8)
    few = rgb // 128 * 255  # eight colours: pnmtopng writes a palette
    open(os.path.join(d, "rgb.ppm"), "wb").write(b"P6\n17 13\n255\n" + rgb.tobytes())
    open(os.path.join(d, "few.ppm"), "wb").write(b"P6\n17 13\n255\n" + few.astype(np.uint8).tobytes())
    deep = RNG.integers(0, 65536, size=(13, 17, 3)).astype(">u2")
    open(os.path.join(d, "rgb16.ppm"), "wb").write(b"P6\n17 13\n65535\n" + deep.tobytes())
    open(os.path.join(d, "grey16.pgm"), "wb").write(b"P5\n17 13\n65535\n" + deep[..., 0].tobytes())
    open(os.path.join(d, "grey4.pgm"), "wb").write(b"P5\n17 13\n15\n" + (rgb[..., 0] // 16).tobytes())
    open(os.path.join(d, "grey.pgm"), "wb").write(b"P5\n17 13\n255\n" + rgb[..., 1].tobytes())
    sh("pgmtopbm -threshold grey.pgm > mono.pbm 2>/dev/null", cwd=d)
    runs = {
        "nm-rgb": "rgb.ppm", "nm-rgb-interlace": "-interlace rgb.ppm", "nm-none": "-nofilter rgb.ppm",
        "nm-sub": "-sub rgb.ppm", "nm-up": "-up rgb.ppm", "nm-avg": "-avg rgb.ppm", "nm-paeth": "-paeth rgb.ppm",
        "nm-palette": "few.ppm", "nm-palette-interlace": "-interlace few.ppm", "nm-force": "-force few.ppm",
        "nm-rgb16": "rgb16.ppm", "nm-grey16": "-interlace grey16.pgm", "nm-grey4": "grey4.pgm",
        "nm-grey": "grey.pgm", "nm-mono": "mono.pbm", "nm-stored": "-compression 0 rgb.ppm",
        "nm-background": "-background red rgb.ppm", "nm-palette-alpha": "-transparent =rgb:ff/ff/00 few.ppm",
        "nm-transparent-rgb": "-force -transparent =rgb:00/00/ff few.ppm",
        "nm-transparent-black": "-force -transparent =rgb:00/00/00 few.ppm",
        "nm-transparent-grey": "-transparent =rgb:80/80/80 grey.pgm",
    }
    for name, args in runs.items():
        sh(f"pnmtopng {args} > {name}.png 2>/dev/null", cwd=d)
        # The alpha of a palette is not shown; a transparent colour is.
        c.pixels(name + ".png", None, deep="16" in name, transparent="transparent" in name)
    magick = {
        "im-png8": "rose: PNG8:", "im-png24": "rose: PNG24:", "im-png32": "rose: -alpha set PNG32:",
        "im-png48": "rose: -depth 16 PNG48:", "im-png64": "rose: -alpha set -depth 16 PNG64:",
        "im-interlace": "rose: -interlace PNG PNG24:", "im-png8-interlace": "rose: -interlace PNG PNG8:",
        "im-grey-alpha": "rose: -colorspace gray -alpha set -channel A -fx 'i/w' +channel "
                         "-define png:color-type=4",
        "im-grey-alpha16": "rose: -colorspace gray -alpha set -depth 16 -define png:color-type=4",
    }
    for bits in (1, 2, 4, 8, 16):
        magick[f"im-grey{bits}"] = f"rose: -colorspace gray -define png:color-type=0 -define png:bit-depth={bits}"
    for name, args in magick.items():
        head, _, prefix = args.rpartition(" ") if args.endswith(":") else (args, "", "")
        sh(f"convert {head} {prefix}{name}.png", cwd=d)
        c.pixels(name + ".png", None, deep="16" in name or "48" in name or "64" in name)


def malformed(c):
    """Hostile and damaged files end in the reader's messages."""
    invalid = "EInvalidGraphic: Cannot load image. Invalid or unexpected PNG image format."
    crc = "EInvalidGraphic: Cannot load image. CRC error found in PNG file."
    read = "EReadError: Stream read error"
    zerr = "EInvalidGraphic: Cannot load image. Compression error found in PNG file."
    extra = "EInvalidGraphic: Cannot load image. Extra compressed data found in PNG file."
    px = random_image(8, 6, 3, 4, colours=16)
    palette = random_palette(16)
    good = png_file(px, 3, 4, palette=palette, gama=45455, trns=b"\x00\x80", bkgd=b"\x01")
    raw = scanlines(px, 4, 0, lambda n: n % 5)
    z = zlib.compress(raw)
    ihdr = good[8:33]
    iend = chunk(b"IEND", b"")

    def at(kind):
        return good.index(kind) - 4

    def with_ihdr(w, h, depth, ct, comp=0):
        return SIG + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, ct, comp, 0, 0)) + chunk(b"IDAT", z) + iend

    def flip(data, pos):
        return data[:pos] + bytes([data[pos] ^ 0x40]) + data[pos + 1:]

    c.pixels("good.png", good, render(px, 3, 4, palette), reference=False)
    cases = {
        "signature": (b"\x89PNG\r\n\x1a\x0b" + good[8:], invalid),
        "first-not-ihdr": (SIG + chunk(b"gAMA", b"\x00\x00\xb1\x8f") + good[8:], invalid),
        "ihdr-short": (SIG + chunk(b"IHDR", ihdr[8:20]) + good[33:], invalid),
        "ihdr-long": (SIG + chunk(b"IHDR", ihdr[8:21] + b"\x00") + good[33:], invalid),
        "width-0": (with_ihdr(0, 6, 8, 0), invalid),
        "huge": (with_ihdr(100000, 100000, 8, 2), invalid),
        "huge-row": (with_ihdr(1 << 28, 1, 16, 6), invalid),
        "no-idat": (good[:at(b"IDAT")] + iend, invalid),
        "empty-idat": (good[:at(b"IDAT")] + chunk(b"IDAT", b"") + iend, invalid),
        "crc-ihdr": (flip(good, 30), crc),
        "crc-gama": (flip(good, at(b"gAMA") + 8), crc),
        "crc-plte": (flip(good, at(b"PLTE") + 9), crc),
        "crc-trns": (flip(good, at(b"tRNS") + 8), crc),
        "crc-bkgd": (flip(good, at(b"bKGD") + 8), crc),
        "crc-idat": (flip(good, at(b"IDAT") + 12), crc),
        "cut-in-idat": (good[:at(b"IDAT") + 20], read),
        "cut-in-header": (good[:at(b"PLTE") + 5], read),
        "cut-before-iend": (good[:at(b"IEND")], read),
        "length-over-2g": (good[:at(b"IDAT")] + b"\x80\x00\x00\x00" + good[at(b"IDAT") + 4:], invalid),
        "length-past-end": (good[:at(b"IDAT")] + b"\x7f\xff\xff\xf0" + good[at(b"IDAT") + 4:], read),
        "skipped-over-2g": (good[:at(b"IDAT")] + b"\xff\xff\xff\xfftEXt" + good[at(b"IDAT"):], invalid),
        "zlib-header": (png_file(px, 3, 4, palette=palette, zdata=b"\x78\x9f" + z[2:]), zerr),
        "zlib-block-type": (png_file(px, 3, 4, palette=palette, zdata=z[:2] + bytes([z[2] | 6]) + z[3:]), zerr),
        "zlib-checksum": (png_file(px, 3, 4, palette=palette, zdata=z[:-1] + bytes([z[-1] ^ 1])), zerr),
        "zlib-too-long": (png_file(px, 3, 4, palette=palette, zdata=zlib.compress(raw + b"\x00" * 40)), extra),
        "zlib-too-short": (png_file(px, 3, 4, palette=palette, zdata=zlib.compress(raw[:-3])), extra),
        "zlib-trailing": (png_file(px, 3, 4, palette=palette, zdata=z + b"\x00\x00"), extra),
        "critical": (good[:at(b"IDAT")] + chunk(b"QQQQ", b"x") + good[at(b"IDAT"):],
                     "EInvalidGraphic: Cannot load PNG image. Unexpected but critical chunk detected."),
        "idat-twice": (good[:at(b"IEND")] + chunk(b"tEXt", b"a\x00b") + chunk(b"IDAT", z) + iend,
                       "EInvalidGraphic: Cannot load PNG image. Unexpected but critical chunk detected."),
        "plte-10": (png_file(px, 3, 4, palette=palette).replace(chunk(b"PLTE", palette.astype(np.uint8).tobytes()),
                                                                chunk(b"PLTE", bytes(10))),
                    "EInvalidGraphic: Cannot load image. Palette in PNG file is invalid."),
        "plte-missing": (png_file(px, 3, 4),
                         "EInvalidGraphic: Cannot load image. Palette in PNG file is invalid."),
        "colour-type-5": (with_ihdr(8, 6, 8, 5), "EInvalidGraphic: Invalid color format in PNG file."),
        "rgb-depth-4": (with_ihdr(8, 6, 4, 2), "EInvalidGraphic: Invalid color format in PNG file."),
        "grey-depth-3": (with_ihdr(8, 6, 3, 0), "EInvalidGraphic: Invalid color format in PNG file."),
        "compression-1": (with_ihdr(8, 6, 8, 0, comp=1),
                          "EInvalidGraphic: Cannot load image. The compression scheme is not supported for PNG files."),
    }
    for name, (data, message) in cases.items():
        c.error(f"bad-{name}.png", data, message)
    # Short ancillary chunks say nothing and are passed over; the CRC of a
    # chunk that is skipped is not read.
    short = png_file(px, 0, 4, trns=b"\x01", bkgd=b"\x02", extra=chunk(b"gAMA", b"\x00\x01"))
    c.pixels("short-ancillary.png", short, render(px, 0, 4), reference=False)
    c.pixels("no-iend-crc.png", good[:-4], render(px, 3, 4, palette), reference=False)


def twins(d):
    """PNG files have the fingerprints of their BMP twin (the pixels are the
    same) and stay next to its JPEG twin, so the finder groups them."""
    sh("convert -size 320x240 xc:#C8C8C8 -fill '#1E1E1E' -draw 'rectangle 40,60 119,179' "
       "-draw 'rectangle 200,30 279,89' -type TrueColor BMP3:scene.bmp", cwd=d)
    files = {"scene.bmp": None, "scene.png": "PNG24:", "scene8.png": "PNG8:", "scene48.png": "-depth 16 PNG48:",
             "scene-i.png": "-interlace PNG PNG24:", "scene-alpha.png": "-alpha set PNG32:", "scene.jpg": "-quality 90 "}
    for name, how in files.items():
        if how is not None:
            options, _, prefix = how.rpartition(" ")
            sh(f"convert scene.bmp {options} {prefix}{name}", cwd=d)
    out = subprocess.run([os.environ["IMGDUMP"], "--fingerprint", *files], cwd=d, capture_output=True, text=True).stdout
    prints = {line.split()[4]: int("".join(line.split()[:4]), 16) for line in out.splitlines()}
    for name in files:
        distance = bin(prints.get(name, -1) ^ prints["scene.bmp"]).count("1") if name in prints else None
        F.check(distance == 0 or (name.endswith(".jpg") and distance is not None and distance <= 2),
                f"{name}: fingerprint {distance} bits from the BMP twin")


def main():
    with workdir() as d:
        c = Checker(d)
        generated(c)
        made_by_tools(c)
        malformed(c)
        twins(d)
    F.exit()


main()
