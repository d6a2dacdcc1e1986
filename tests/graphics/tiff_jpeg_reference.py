"""The JPEG-in-TIFF decoder on strips of files that tiffcp compressed.

Images are made at run time; tiffcp writes them as JPEG TIFFs (abbreviated
strips with a JPEGTables field) and writes each such file back uncompressed,
which is libtiff's decode. This script cuts the strips out, also makes
self-contained strips by putting the tables into each one, runs our decoder
over them through tiff_jpeg_helper and compares the rows with libtiff's.
Strips that Pillow writes and that do not fit the image must be refused with
the decoder's messages.

usage: tiff_jpeg_reference.py TIFF_JPEG_HELPER
"""
import io
import os
import struct
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

HELPER = sys.argv[1]
FAILURES = []


def check(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + detail))
    if not ok:
        FAILURES.append(name)
    return ok


def sh(cmd, cwd):
    subprocess.run(cmd, shell=True, check=True, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Tiff:
    """The first directory of a TIFF file: its tags and strips."""

    TYPES = {1: "B", 2: "B", 3: "H", 4: "I", 7: "B"}

    def __init__(self, path):
        self.data = open(path, "rb").read()
        self.order = "<" if self.data[:2] == b"II" else ">"
        (ifd,) = self.unpack("I", 4)
        (count,) = self.unpack("H", ifd)
        self.tags = {}
        for i in range(count):
            tag, kind, n, value = self.unpack("HHI4s", ifd + 2 + 12 * i)
            fmt = self.TYPES.get(kind)
            if fmt is None:
                continue
            size = struct.calcsize(fmt) * n
            raw = value[:size] if size <= 4 else self.data[self.unpack("I", ifd + 10 + 12 * i)[0]:][:size]
            self.tags[tag] = list(struct.unpack(self.order + fmt * n, raw))

    def unpack(self, fmt, at):
        return struct.unpack_from(self.order + fmt, self.data, at)

    def get(self, tag, default=None):
        return self.tags.get(tag, default)

    def strips(self):
        return [self.data[o:o + n] for o, n in zip(self.tags[273], self.tags[279])]

    def pixels(self):
        """Uncompressed contiguous rows of 8-bit samples."""
        w, h, spp = self.get(256)[0], self.get(257)[0], self.get(277, [1])[0]
        return np.frombuffer(b"".join(self.strips()), np.uint8)[: w * h * spp].reshape(h, w, spp)


def with_tables(strip, tables):
    """A self-contained strip: the tables' segments right after its SOI."""
    return strip[:2] + tables[2:-2] + strip[2:]


def image_of(tiff):
    """What the TIFF reader hands the decoder about the image."""
    photometric = tiff.get(262)[0]
    # The reader fills the subsampling of YCbCr images only, 2 x 2 without
    # the tag.
    sub = tiff.get(530, [2, 2]) if photometric == 6 else [1, 1]
    return dict(width=tiff.get(256)[0], height=tiff.get(257)[0], rows=tiff.get(278)[0],
                samples=tiff.get(277, [1])[0], bits=tiff.get(258, [8])[0], planar=tiff.get(284, [1])[0],
                h=sub[0], v=sub[1], scheme={6: "ycbcr", 2: "rgb", 5: "cmyk"}.get(photometric, "grey"), extra=0)


def decode(work, image, strips, tables):
    """Our rows (red, green, blue; grey and CMYK samples as they come) and the
    warnings: count and last text; or None and the error line."""
    p = os.path.join
    job = p(work, "job.txt")
    with open(job, "w") as f:
        f.write("image {width} {height} {rows} {samples} {bits} {planar} {h} {v} {scheme} {extra}\n".format(**image))
        if tables:
            open(p(work, "tables.bin"), "wb").write(tables)
            f.write("tables %s\n" % p(work, "tables.bin"))
        for i, strip in enumerate(strips):
            open(p(work, "strip%d.bin" % i), "wb").write(strip)
            f.write("strip %s\n" % p(work, "strip%d.bin" % i))
    done = subprocess.run([HELPER, job, p(work, "out.bin")], capture_output=True, text=True)
    if done.returncode != 0:
        return None, done.stderr.strip()
    rows = np.frombuffer(open(p(work, "out.bin"), "rb").read(), np.uint8)
    count, last = (done.stdout.split("\n") + [""])[:2]
    rows = rows.reshape(image["height"], image["width"], -1)
    return rows[..., ::-1] if rows.shape[2] == 3 else rows, (int(count), last)


def jpeg(array, **options):
    out = io.BytesIO()
    Image.fromarray(array).save(out, "JPEG", quality=90, **options)
    return out.getvalue()


def refused(work):
    """Strips that do not fit the image end in the decoder's messages."""
    rng = np.random.default_rng(5)
    picture = rng.integers(0, 256, size=(100, 16, 3), dtype=np.uint8)
    strips = [jpeg(picture[y:y + 16], subsampling=0) for y in range(0, 100, 16)]
    image = dict(width=16, height=100, rows=16, samples=3, bits=8, planar=1, h=1, v=1, scheme="ycbcr", extra=0)
    # The last strip holds the 4 rows left; libjpeg's own decode is the reference.
    rows, info = decode(work, image, strips, b"")
    reference = np.concatenate([np.asarray(Image.open(io.BytesIO(s)).convert("RGB")) for s in strips])
    check("own strips: decode as libjpeg does", rows is not None and np.array_equal(rows, reference), str(info))
    grey = jpeg(picture[:16, :, 0])
    cases = {
        "sampling": (image, [jpeg(picture[:16], subsampling=2)], b"", "EGraphicCompression: Improper JPEG sampling factors."),
        "components": (image, [grey], b"", "EGraphicCompression: Improper JPEG component count."),
        "precision": (dict(image, bits=12), strips[:1], b"", "EGraphicCompression: Improper JPEG data precision."),
        "fractional": (dict(image, extra=5), strips[:1], b"", "EGraphicCompression: Fractional JPEG scanline unsupported."),
        "last-strip": (image, strips[:6] + [strips[0]], b"", "EGraphicCompression: Improper JPEG strip/tile size."),
        "tables": (image, strips, strips[0], "EGraphicCompression: Bogus JPEG tables field."),
        "damaged": (image, [bytes(40)], b"", "EInvalidGraphic: JPEG error #"),
        "cmyk from ycbcr": (dict(image, scheme="cmyk"), strips[:1], b"", "EInvalidGraphic: JPEG error #"),
    }
    for name, (img, strips_, tables, message) in cases.items():
        rows, info = decode(work, img, strips_, tables)
        check(f"refused {name}", rows is None and info.startswith("error: " + message), str(info))


def main():
    work = tempfile.mkdtemp(prefix="tiff_jpeg_reference_")
    rng = np.random.default_rng(12)
    # A smooth picture with noise, of a size that fills no strip or block evenly.
    h, w = 45, 61
    y, x = np.mgrid[0:h, 0:w]
    picture = np.stack([x * 4, y * 5, (x + y) * 2], axis=2) + rng.integers(0, 40, size=(h, w, 3))
    open(os.path.join(work, "src.ppm"), "wb").write(b"P6\n%d %d\n255\n" % (w, h) +
                                                    np.clip(picture, 0, 255).astype(np.uint8).tobytes())
    sh("pnmtotiff src.ppm > src.tif", work)
    cases = {"ycbcr-16": "-c jpeg -r 16", "ycbcr-32-q50": "-c jpeg:50 -r 32", "ycbcr-one-strip": "-c jpeg -r 64",
             "rgb-16": "-c jpeg:r -r 16"}
    for name, options in cases.items():
        sh(f"tiffcp {options} src.tif {name}.tif && tiffcp -c none {name}.tif {name}-plain.tif", work)
        tiff = Tiff(os.path.join(work, f"{name}.tif"))
        reference = Tiff(os.path.join(work, f"{name}-plain.tif")).pixels()
        tables = bytes(tiff.get(347, []))
        check(f"{name}: has JPEG tables", len(tables) > 4)
        for variant, strips, table in (("abbreviated", tiff.strips(), tables),
                                       ("self-contained", [with_tables(s, tables) for s in tiff.strips()], b"")):
            rows, info = decode(work, image_of(tiff), strips, table)
            if not check(f"{name} {variant}: decodes", rows is not None, str(info)):
                continue
            diff = int(np.abs(rows.astype(int) - reference.astype(int)).max())
            check(f"{name} {variant}: equals libtiff's decode", diff == 0, f"max difference {diff}")
            check(f"{name} {variant}: no warnings", info[0] == 0, f"{info} warnings")
    # A last strip that ends early: a warning, and the rows before the cut stay.
    tiff = Tiff(os.path.join(work, "ycbcr-16.tif"))
    strips = tiff.strips()
    strips[-1] = strips[-1][: len(strips[-1]) // 2]
    rows, info = decode(work, image_of(tiff), strips, bytes(tiff.get(347)))
    reference = Tiff(os.path.join(work, "ycbcr-16-plain.tif")).pixels()
    check("short strip: warns", rows is not None and info[0] >= 1 and
          info[1] == "Warning: JPEG decompression error. Unexpected end of input.", str(info))
    if rows is not None:
        check("short strip: earlier strips intact", np.array_equal(rows[:32], reference[:32]))
    # Grey and CMYK strips come out as the samples they hold.
    sh("ppmtopgm src.ppm | pnmtotiff > grey.tif && convert-im6.q16 src.ppm -colorspace cmyk cmyk.tif", work)
    for name in ("grey", "cmyk"):
        sh(f"tiffcp -c jpeg -r 16 {name}.tif {name}-jpeg.tif && tiffcp -c none {name}-jpeg.tif {name}-plain.tif", work)
        tiff = Tiff(os.path.join(work, f"{name}-jpeg.tif"))
        reference = Tiff(os.path.join(work, f"{name}-plain.tif")).pixels()
        rows, info = decode(work, image_of(tiff), tiff.strips(), bytes(tiff.get(347)))
        check(f"{name}: equals libtiff's decode", rows is not None and np.array_equal(rows, reference), str(info))
    refused(work)
    if FAILURES:
        print(f"{len(FAILURES)} check(s) failed")
        sys.exit(1)
    print("all checks passed")


main()
