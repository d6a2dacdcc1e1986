"""Checks the library's decoders against independent encoders and decoders.

Test images are made at run time; ImageMagick, netpbm and libtiff-tools
compress them into real files, this script cuts the packed data out of those
files, decode_helper decodes it with our decoder, and the result must equal
the reference decode (the image itself for lossless formats, giftopnm for
GIF, the uncompressed strips of tiffcp for TIFF). Finally our Targa encoder
writes files that ImageMagick must read back pixel for pixel.

usage: decoders_reference.py DECODE_HELPER
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

HELPER = sys.argv[1]
WORK = tempfile.mkdtemp(prefix="decoders_reference_")
FAILURES = []


def path(name):
    return os.path.join(WORK, name)


def run(*args, stdout=None):
    subprocess.run(args, check=True, stdout=stdout, stderr=subprocess.DEVNULL)


def run_to(target, *args):
    with open(target, "wb") as out:
        run(*args, stdout=out)


def check(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + detail))
    if not ok:
        FAILURES.append(name)


def decode(kind, param, packed, jobs):
    """Runs decode_helper over the jobs (offset, packed size, unpacked size);
    returns the output and each call's source advance."""
    with open(path("packed.bin"), "wb") as f:
        f.write(packed)
    with open(path("jobs.txt"), "w") as f:
        f.writelines("%d %d %d\n" % job for job in jobs)
    done = subprocess.run([HELPER, kind, str(param), path("packed.bin"), path("jobs.txt"), path("out.bin")],
                          check=True, capture_output=True, text=True)
    with open(path("out.bin"), "rb") as f:
        return f.read(), [int(v) for v in done.stdout.split()]


def test_image(width, height, seed, colours=None):
    """An RGB image with noise, flat areas and gradients, so that run-length
    coders meet both runs and literals and LZW tables fill and clear."""
    rng = np.random.RandomState(seed)
    img = rng.randint(0, 256, (height, width, 3)).astype(np.uint8)
    img[: height // 3, :, :] = np.arange(width, dtype=np.uint8)[None, :, None] * 3
    img[height // 3 : height // 2, : width // 2] = (200, 30, 60)
    img[height // 2 :: 5, :, 1] = 7
    if colours is not None:
        palette = rng.randint(0, 256, (colours, 3)).astype(np.uint8)
        index = rng.randint(0, colours, (height, width))
        index[: height // 3, :] = (np.arange(width) // 3 % colours)[None, :]
        index[height // 3 : height // 2, : width // 2] = colours - 1
        img = palette[index]
    return img


def save_ppm(img, name):
    Image.fromarray(img).save(path(name))
    return path(name)


def save_ppm16(img16, name):
    height, width = img16.shape[:2]
    with open(path(name), "wb") as f:
        f.write(b"P6\n%d %d\n65535\n" % (width, height))
        f.write(img16.astype(">u2").tobytes())
    return path(name)


def read_pnm(name):
    return np.asarray(Image.open(name).convert("RGB"))


# --- TIFF: LZW and PackBits strips against the uncompressed strips --------

def tiff_strips(name):
    data = open(name, "rb").read()
    order = "<" if data[:2] == b"II" else ">"
    (ifd,) = struct.unpack(order + "I", data[4:8])
    (count,) = struct.unpack(order + "H", data[ifd : ifd + 2])
    tags = {}
    for i in range(count):
        tag, kind, n, value = struct.unpack(order + "HHI4s", data[ifd + 2 + 12 * i : ifd + 14 + 12 * i])
        size = {3: 2, 4: 4}[kind] if kind in (3, 4) else 1
        raw = value if n * size <= 4 else data[struct.unpack(order + "I", value)[0] :][: n * size]
        fmt = {3: "H", 4: "I"}.get(kind, "B")
        tags[tag] = list(struct.unpack(order + fmt * n, raw[: n * size]))
    width, height = tags[256][0], tags[257][0]
    bits = tags.get(258, [1])[0] * tags.get(277, [1])[0]
    rows = tags.get(278, [height])[0]
    row_bytes = (width * bits + 7) // 8
    strips = [data[o : o + n] for o, n in zip(tags[273], tags[279])]
    unpacked = [min(rows, height - i * rows) * row_bytes for i in range(len(strips))]
    return strips, unpacked, tags.get(259, [1])[0]


def check_tiff(label, img, rows_per_strip):
    Image.fromarray(img).save(path("src.tif"))
    run("tiffcp", "-c", "none", "-r", str(rows_per_strip), path("src.tif"), path("none.tif"))
    reference = b"".join(tiff_strips(path("none.tif"))[0])
    for method, kind, code in (("lzw", "tifflzw", 5), ("packbits", "packbits", 32773)):
        run("tiffcp", "-c", method, "-r", str(rows_per_strip), path("src.tif"), path(method + ".tif"))
        strips, unpacked, compression = tiff_strips(path(method + ".tif"))
        assert compression == code
        packed = b"".join(strips)
        jobs, at = [], 0
        for strip, size in zip(strips, unpacked):
            jobs.append((at, len(strip), size))
            at += len(strip)
        out, _ = decode(kind, 0, packed, jobs)
        check("tiff %s %s (%d strips)" % (method, label, len(strips)), out == reference)


def test_tiff():
    check_tiff("rgb 97x83", test_image(97, 83, 1), 16)
    check_tiff("rgb 160x120 one strip", test_image(160, 120, 2), 120)
    check_tiff("grey 301x64", test_image(301, 64, 3)[:, :, 0].copy(), 7)


# --- GIF: LZW image data against giftopnm ---------------------------------

def gif_image(name):
    """The first image of a GIF: size, colour table, minimum code size and
    the joined data sub-blocks."""
    data = open(name, "rb").read()
    flags = data[10]
    at, table = 13, None
    if flags & 0x80:
        size = 3 << ((flags & 7) + 1)
        table, at = data[at : at + size], at + size
    while data[at] == 0x21:  # extensions
        at += 2
        while data[at]:
            at += data[at] + 1
        at += 1
    assert data[at] == 0x2C
    width, height, local = struct.unpack("<HHB", data[at + 5 : at + 10])
    assert not local & 0x40, "interlaced"
    at += 10
    if local & 0x80:
        size = 3 << ((local & 7) + 1)
        table, at = data[at : at + size], at + size
    code_size = data[at]
    at += 1
    blocks = bytearray()
    while data[at]:
        blocks += data[at + 1 : at + 1 + data[at]]
        at += data[at] + 1
    return width, height, np.frombuffer(table, np.uint8).reshape(-1, 3), code_size, bytes(blocks)


def check_gif(label, img):
    source = save_ppm(img, "gif_src.ppm")
    for encoder in ("pamtogif", "convert"):
        if encoder == "pamtogif":
            run_to(path("t.gif"), "pamtogif", source)
        else:
            run("convert", source, path("t.gif"))
        width, height, table, code_size, blocks = gif_image(path("t.gif"))
        run_to(path("gif.ppm"), "giftopnm", path("t.gif"))
        reference = read_pnm(path("gif.ppm"))
        out, _ = decode("giflzw", code_size, blocks, [(0, len(blocks), width * height)])
        index = np.frombuffer(out, np.uint8).reshape(height, width)
        ok = index.max() < len(table) and np.array_equal(table[index], reference)
        check("gif %s %s (code size %d)" % (encoder, label, code_size), ok)


def test_gif():
    check_gif("2 colours", test_image(53, 31, 4, colours=2))
    check_gif("4 colours", test_image(64, 40, 5, colours=4))
    check_gif("16 colours", test_image(77, 50, 6, colours=16))
    check_gif("256 colours", test_image(200, 150, 7, colours=256))


# --- SGI: run-length rows against the image -------------------------------

def check_sgi(label, name, expected, bytes_per_sample):
    data = open(name, "rb").read()
    magic, storage, bpc, _, width, height, channels = struct.unpack(">HBBHHHH", data[:12])
    assert magic == 474 and storage == 1 and bpc == bytes_per_sample
    count = height * channels
    starts = struct.unpack(">%dI" % count, data[512 : 512 + 4 * count])
    lengths = struct.unpack(">%dI" % count, data[512 + 4 * count : 512 + 8 * count])
    jobs = [(s, n, width * bpc) for s, n in zip(starts, lengths)]
    out, _ = decode("sgi", 8 * bpc, data, jobs)
    dtype = ">u2" if bpc == 2 else np.uint8
    planes = np.frombuffer(out, dtype).reshape(channels, height, width)
    image = planes.transpose(1, 2, 0)[::-1]  # rows are stored bottom-up
    check("sgi " + label, np.array_equal(image, expected.reshape(image.shape)))


def test_sgi():
    img = test_image(61, 37, 8)
    source = save_ppm(img, "sgi_src.ppm")
    run_to(path("n.sgi"), "pnmtosgi", "-rle", source)
    check_sgi("pnmtosgi rgb", path("n.sgi"), img, 1)
    run("convert", source, "-compress", "RLE", path("m.sgi"))
    check_sgi("convert rgb", path("m.sgi"), img, 1)
    grey = img[:, :, 1].copy()
    Image.fromarray(grey).save(path("sgi_src.pgm"))
    run_to(path("g.sgi"), "pnmtosgi", "-rle", path("sgi_src.pgm"))
    check_sgi("pnmtosgi grey", path("g.sgi"), grey, 1)
    deep = img.astype(np.uint16) * 257
    deep[::3, ::2, 0] ^= 0x5A  # low bytes that differ from the high ones
    run_to(path("d.sgi"), "pnmtosgi", "-rle", save_ppm16(deep, "sgi16.ppm"))
    check_sgi("pnmtosgi rgb 16-bit", path("d.sgi"), deep, 2)


# --- PCX: run-length image against the image ------------------------------

def check_pcx(label, name, expected):
    data = open(name, "rb").read()
    bits, = struct.unpack("<B", data[3:4])
    xmin, ymin, xmax, ymax = struct.unpack("<4H", data[4:12])
    planes, line = data[65], struct.unpack("<H", data[66:68])[0]
    width, height = xmax - xmin + 1, ymax - ymin + 1
    paletted = bits == 8 and planes == 1
    end = len(data) - 769 if paletted else len(data)
    out, _ = decode("pcx", 0, data[128:end], [(0, end - 128, planes * line * height)])
    rows = np.frombuffer(out, np.uint8).reshape(height, planes, line)[:, :, :width]
    if paletted:
        assert data[end] == 12
        palette = np.frombuffer(data[end + 1 :], np.uint8).reshape(256, 3)
        image = palette[rows[:, 0]]
    else:
        image = rows.transpose(0, 2, 1)
    check("pcx " + label, np.array_equal(image, expected))


def test_pcx():
    img = test_image(75, 41, 9)  # odd width: lines are padded to even bytes
    source = save_ppm(img, "pcx_src.ppm")
    run_to(path("n.pcx"), "ppmtopcx", "-24bit", source)
    check_pcx("ppmtopcx 24-bit", path("n.pcx"), img)
    run("convert", source, path("m.pcx"))
    check_pcx("convert 24-bit", path("m.pcx"), img)
    few = test_image(64, 33, 10, colours=200)
    source = save_ppm(few, "pcx_few.ppm")
    run_to(path("p.pcx"), "ppmtopcx", "-8bit", source)
    check_pcx("ppmtopcx 8-bit", path("p.pcx"), few)
    run("convert", source, path("q.pcx"))
    check_pcx("convert 8-bit", path("q.pcx"), few)


# --- Targa: run-length images against the image ---------------------------

def targa_pixels(name):
    """Decodes a run-length Targa file with our decoder, whole image at once
    and, where the packets keep to rows, row by row; returns RGB(A) rows
    top-down."""
    data = open(name, "rb").read()
    idlen, cmaptype, kind, cfirst, clen, csize, _, _, width, height, depth, desc = struct.unpack(
        "<BBBHHBHHHHBB", data[:18])
    assert kind in (9, 10, 11), kind
    at = 18 + idlen + clen * ((csize + 7) // 8)
    size = (depth + 1) // 8
    out, used = decode("targa", depth, data, [(at, len(data) - at, width * height)])
    pixels = np.frombuffer(out, np.uint8).reshape(height, width, size)
    if kind == 9:
        cmap = np.frombuffer(data[18 + idlen : at], np.uint8).reshape(clen, csize // 8)
        pixels = cmap[pixels[:, :, 0].astype(int) - cfirst]
    if pixels.shape[2] >= 3:
        pixels = pixels[:, :, [2, 1, 0] + ([3] if pixels.shape[2] == 4 else [])]
    if not desc & 0x20:
        pixels = pixels[::-1]
    return pixels, (data, at, width, height, depth, used[0])


def check_targa(label, name, expected):
    pixels, (data, at, width, height, depth, used) = targa_pixels(name)
    check("targa " + label, np.array_equal(pixels.reshape(expected.shape), expected))
    # Row by row, the advance of the source pointer chains the calls; this
    # must give the same pixels whenever no packet crosses a row.
    rows, advances = decode("targa", depth, data, [(at, -1, width)] + [(-1, -1, width)] * (height - 1))
    whole, _ = decode("targa", depth, data, [(at, len(data) - at, width * height)])
    check("targa %s row by row" % label, rows == whole and sum(advances) == used)


def test_targa():
    img = test_image(83, 29, 11)
    source = save_ppm(img, "tga_src.ppm")
    run_to(path("n.tga"), "pamtotga", source)
    check_targa("pamtotga rgb", path("n.tga"), img)
    # This ImageMagick writes its rows top-down whatever the header says
    # unless told the orientation; with it, the file is a consistent one.
    run("convert", source, "-orient", "TopLeft", "-compress", "RLE", path("m.tga"))
    check_targa("convert rgb", path("m.tga"), img)
    grey = img[:, :, 0].copy()
    Image.fromarray(grey).save(path("tga_grey.pgm"))
    run_to(path("g.tga"), "pamtotga", path("tga_grey.pgm"))
    check_targa("pamtotga grey", path("g.tga"), grey)
    few = test_image(70, 20, 12, colours=50)
    run_to(path("c.tga"), "pamtotga", "-cmap", save_ppm(few, "tga_few.ppm"))
    check_targa("pamtotga colour-mapped", path("c.tga"), few)
    rgba = np.dstack([img, test_image(83, 29, 13)[:, :, 2]])
    Image.fromarray(rgba, "RGBA").save(path("tga_rgba.png"))
    run("convert", path("tga_rgba.png"), "-orient", "TopLeft", "-compress", "RLE", path("a.tga"))
    check_targa("convert rgba", path("a.tga"), rgba)


def write_targa(name, kind, depth, width, height, packed):
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, kind, 0, 0, 0, 0, 0, width, height, depth,
                         8 if depth == 32 else (1 if depth == 16 else 0))
    with open(name, "wb") as f:
        f.write(header + packed)


def read_targa_imagemagick(name, mode):
    """ImageMagick's reading of a Targa file (it keeps a bottom-up file's
    rows in file order unless asked to orient them)."""
    run("convert", "tga:" + name, "-auto-orient", path("back.png"))
    return np.asarray(Image.open(path("back.png")).convert(mode))


def encode_targa(depth, pixels, width):
    with open(path("pixels.bin"), "wb") as f:
        f.write(pixels)
    run(HELPER, "encode-targa", str(depth), path("pixels.bin"), str(width), path("encoded.bin"))
    with open(path("encoded.bin"), "rb") as f:
        return f.read()


def test_targa_encoder():
    img = test_image(131, 23, 14)
    img[5, 10:60] = (1, 2, 3)  # runs longer than one packet can carry are split
    height, width = img.shape[:2]
    bgr = img[::-1, :, ::-1].tobytes()  # bottom-up rows of B, G, R
    packed = encode_targa(24, bgr, width)
    write_targa(path("e24.tga"), 10, 24, width, height, packed)
    check("targa encoder 24-bit read by ImageMagick", np.array_equal(read_targa_imagemagick(path("e24.tga"), "RGB"), img))
    out, _ = decode("targa", 24, packed, [(0, len(packed), width * height)])
    check("targa encoder 24-bit round trip", out == bgr)

    alpha = test_image(131, 23, 15)[:, :, 0]
    alpha[:, :40] = 255
    rgba = np.dstack([img, alpha])
    packed = encode_targa(32, rgba[::-1][:, :, [2, 1, 0, 3]].tobytes(), width)
    write_targa(path("e32.tga"), 10, 32, width, height, packed)
    check("targa encoder 32-bit read by ImageMagick",
          np.array_equal(read_targa_imagemagick(path("e32.tga"), "RGBA"), rgba))

    grey = img[:, :, 1].copy()
    packed = encode_targa(8, grey[::-1].tobytes(), width)
    write_targa(path("e8.tga"), 11, 8, width, height, packed)
    check("targa encoder 8-bit grey read by ImageMagick",
          np.array_equal(read_targa_imagemagick(path("e8.tga"), "L"), grey))

    five = (img >> 3).astype(np.uint16)
    words = (five[:, :, 0] << 10) | (five[:, :, 1] << 5) | five[:, :, 2] | 0x8000
    packed = encode_targa(16, words[::-1].astype("<u2").tobytes(), width)
    write_targa(path("e16.tga"), 10, 16, width, height, packed)
    back = read_targa_imagemagick(path("e16.tga"), "RGB").astype(int)
    expected = (five.astype(int) * 255 + 15) // 31
    check("targa encoder 16-bit read by ImageMagick", np.abs(back - expected).max() <= 1,
          "largest difference %d" % np.abs(back - expected).max())


def main():
    try:
        for test in (test_tiff, test_gif, test_sgi, test_pcx, test_targa, test_targa_encoder):
            test()
    finally:
        shutil.rmtree(WORK, ignore_errors=True)
    if FAILURES:
        print("%d failed" % len(FAILURES))
        return 1
    print("all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
