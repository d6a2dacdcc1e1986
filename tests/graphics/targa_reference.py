"""The Targa reader and writer through imgdump, on files made at run time.

ImageMagick, Pillow and ppmtotga write the conformance set; tgatoppm and
Pillow decode it for reference. Hand-made files cover what the encoders do
not write: 15- and 16-bit pixels, 15-, 16- and 32-bit colour maps, maps in
true-colour and grey files, packets that run on across rows, grey with
alpha, the four orientations in every depth, colour maps that start above
index 0. The writer: BMP files of every layout written through
imgdump --write and read back by tgatoppm, Pillow and imgdump itself.
Malformed files end in the reader's messages.
"""
import os
import random
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from imgtest import Failures, imgdump, max_diff, read_image, run, sh, workdir  # noqa: E402
from targa_files import tga_file  # noqa: E402

F = Failures()
IMGDUMP = os.environ["IMGDUMP"]
READ = "error: EReadError: Stream read error"
RND = random.Random(20)


def write(d, name, data):
    path = os.path.join(d, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def ours(d, name, layout=None):
    path = os.path.join(d, name)
    rc, out, err, px = imgdump(path, path + ".ppm")
    F.check(rc == 0 and (layout is None or out.endswith(" " + layout)), f"{name}: {out} {err}")
    return px


def tgatoppm(d, name):
    sh(f"tgatoppm {name} > {name}.ref.ppm 2>/dev/null", cwd=d)
    return read_image(os.path.join(d, name + ".ref.ppm"))


def pillow(d, name):
    with Image.open(os.path.join(d, name)) as im:
        if im.mode == "LA":
            im = im.getchannel("L")
        return np.asarray(im.convert("RGB"), dtype=np.int16)


def check(d, name, layout=None, references=("tgatoppm", "pillow"), expected=None, tolerance=0):
    """tolerance: for 5-bit samples, which tgatoppm scales by rounding where
    the bitmap repeats the top bits, and Pillow by other rules."""
    px = ours(d, name, layout)
    refs = {"tgatoppm": tgatoppm, "pillow": pillow}
    for ref in references:
        diff = max_diff(px, refs[ref](d, name))
        F.check(diff is not None and diff <= tolerance, f"{name}: pixels differ from {ref} ({diff})")
    if expected is not None:
        F.check(max_diff(px, np.asarray(expected, dtype=np.int16)) == 0, f"{name}: pixels differ from the made ones")


# ---- Files written by tools -----------------------------------------------------


def tool_set(d):
    sh("convert-im6.q16 -size 83x59 plasma:fractal -seed 4 photo.ppm", cwd=d)
    im = {
        "im-2.tga": ("", "pl24Bit"),
        "im-10.tga": ("-compress RLE", "pl24Bit"),
        "im-1.tga": ("-colors 60 -type Palette", "pl8Bit"),
        "im-9.tga": ("-colors 60 -type Palette -compress RLE", "pl8Bit"),
        "im-3.tga": ("-type Grayscale", "pl8Bit"),
        "im-11.tga": ("-type Grayscale -compress RLE", "pl8Bit"),
        "im-32.tga": ("-alpha set -compress RLE", "pl32Bit"),
    }
    for name, (options, layout) in im.items():
        sh(f"convert-im6.q16 photo.ppm {options} {name}", cwd=d)
        check(d, name, layout)
    photo = Image.open(os.path.join(d, "photo.ppm"))
    modes = {"L": photo.convert("L"), "LA": photo.convert("LA"), "P": photo.quantize(100), "RGB": photo,
             "RGBA": photo.convert("RGBA")}
    layouts = {"L": "pl8Bit", "LA": "pl8Bit", "P": "pl8Bit", "RGB": "pl24Bit", "RGBA": "pl32Bit"}
    for mode, image in modes.items():
        for rle in (False, True):
            for orientation in (-1, 1):
                name = f"pil-{mode}{'-rle' if rle else ''}{'-top' if orientation == 1 else ''}.tga"
                image.save(os.path.join(d, name), compression="tga_rle" if rle else None, orientation=orientation,
                           id_section=b"made by Pillow" if rle else b"")
                check(d, name, layouts[mode], references=("pillow",) if mode == "LA" else ("tgatoppm", "pillow"))
    sh("pnmquant 200 photo.ppm > q200.ppm 2>/dev/null && ppmtopgm photo.ppm > grey.pgm", cwd=d)
    netpbm = {
        "ppmtotga.tga": "ppmtotga -rgb photo.ppm",
        "ppmtotga-norle.tga": "ppmtotga -rgb -norle -name picture photo.ppm",
        "ppmtotga-cmap.tga": "ppmtotga -cmap q200.ppm",
        "ppmtotga-cmap-norle.tga": "ppmtotga -cmap -norle -name mapped q200.ppm",
        "ppmtotga-cmap16.tga": "ppmtotga -cmap16 q200.ppm",
        "ppmtotga-mono.tga": "ppmtotga -mono grey.pgm",
        "ppmtotga-mono-norle.tga": "ppmtotga -mono -norle grey.pgm",
    }
    for name, cmd in netpbm.items():
        sh(f"{cmd} > {name} 2>/dev/null", cwd=d)
        # 16-bit map entries are scaled by 8 (31 gives 248); tgatoppm scales
        # them to the full range.
        check(d, name, references=("tgatoppm",) if "cmap16" in name else ("tgatoppm", "pillow"),
              tolerance=7 if "cmap16" in name else 0)


# ---- Hand-made files ------------------------------------------------------------


def expand5(v):
    """A 5-bit sample as the bitmap shows it: its top bits repeated below."""
    v &= 0x1F
    return v << 3 | v >> 2


def hand_made(d):
    w, h = 13, 7
    # 15- and 16-bit pixels: 5-5-5 words, the top bit not colour.
    words = [[RND.randrange(0x10000) for _ in range(w)] for _ in range(h)]
    for y in range(h):  # runs, so that run packets appear
        words[y][3:9] = [words[y][3]] * 6
    rows = [[v.to_bytes(2, "little") for v in row] for row in words]
    colours = [[(expand5(v >> 10), expand5(v >> 5), expand5(v)) for v in row] for row in words]
    for depth in (15, 16):
        for image_type in (2, 10):
            name = f"rgb{depth}-{image_type}.tga"
            write(d, name, tga_file(w, h, rows, depth, image_type))
            check(d, name, "pl15Bit", references=("tgatoppm",), expected=colours, tolerance=1)
            name = f"rgb{depth}-{image_type}-bottom.tga"
            write(d, name, tga_file(w, h, rows[::-1], depth, image_type, descriptor=0))
            check(d, name, "pl15Bit", references=("tgatoppm",), expected=colours, tolerance=1)

    # 8-bit indices with maps of every entry size.
    entries = [(RND.randrange(256), RND.randrange(256), RND.randrange(256)) for _ in range(40)]
    idx = [[RND.randrange(40) for _ in range(w)] for _ in range(h)]
    irows = [[bytes([v]) for v in row] for row in idx]
    maps = {
        24: (b"".join(bytes((b, g, r)) for r, g, b in entries), entries),
        32: (b"".join(bytes((b, g, r, 0x80)) for r, g, b in entries), entries),
    }
    for size in (15, 16):
        ws = [(r >> 3) << 10 | (g >> 3) << 5 | b >> 3 | (0x8000 if size == 16 else 0) for r, g, b in entries]
        maps[size] = (b"".join(v.to_bytes(2, "little") for v in ws), [(r & 0xF8, g & 0xF8, b & 0xF8) for r, g, b in entries])
    for size, (cmap, pal) in maps.items():
        expected = [[pal[v] for v in row] for row in idx]
        for image_type in (1, 9):
            name = f"map{size}-{image_type}.tga"
            write(d, name, tga_file(w, h, irows, 8, image_type, cmap=cmap, map_length=40, entry_size=size,
                                    ident=bytes(range(255))))
            check(d, name, "pl8Bit", references={15: (), 16: (), 24: ("tgatoppm", "pillow"), 32: ("tgatoppm",)}[size],
                  expected=expected)
    # A 15-bit entry of all ones gives 248 in each channel.
    write(d, "map15-white.tga", tga_file(1, 1, [[b"\x00"]], 8, 1, cmap=b"\xff\x7f", map_length=1, entry_size=15))
    check(d, "map15-white.tga", references=(), expected=[[(248, 248, 248)]])

    # Colour maps that the pixels do not use are passed over.
    tc = [[bytes((RND.randrange(256), RND.randrange(256), RND.randrange(256))) for _ in range(w)] for _ in range(h)]
    tcx = [[(p[2], p[1], p[0]) for p in row] for row in tc]
    write(d, "rgb24-with-map.tga", tga_file(w, h, tc, 24, 10, cmap=maps[24][0], map_length=40, entry_size=24))
    check(d, "rgb24-with-map.tga", "pl24Bit", references=("tgatoppm",), expected=tcx)
    grey = [[bytes([RND.randrange(256)]) for _ in range(w)] for _ in range(h)]
    greyx = [[(p[0],) * 3 for p in row] for row in grey]
    for size in (15, 24, 32):
        name = f"grey-with-map{size}.tga"
        write(d, name, tga_file(w, h, grey, 8, 3, cmap=maps[size][0], map_length=40, entry_size=size))
        check(d, name, "pl8Bit", references=(), expected=greyx)
    # Grey with alpha: the grey byte is the pixel.
    ga = [[p + bytes([RND.randrange(256)]) for p in row] for row in grey]
    for image_type in (3, 11):
        name = f"grey-alpha-{image_type}.tga"
        write(d, name, tga_file(w, h, ga, 16, image_type))
        check(d, name, "pl8Bit", references=("pillow",), expected=greyx)
    # A true-colour file with entry size 0 and no map.
    write(d, "entry-0.tga", tga_file(w, h, tc, 24, 2))
    check(d, "entry-0.tga", "pl24Bit", expected=tcx)

    # Packets that run on across rows: long runs and long raw packets over
    # narrow rows, with the last packet cut at the image's end.
    for width, depth in ((1, 8), (3, 24), (5, 32), (7, 16), (200, 24)):
        size = (depth + 7) // 8
        height = 9
        flat = []
        while len(flat) < width * height:
            if RND.random() < 0.5:
                flat += [bytes(RND.randrange(256) for _ in range(size))] * RND.randrange(2, 140)
            else:
                flat += [bytes(RND.randrange(256) for _ in range(size)) for _ in range(RND.randrange(1, 140))]
        crows = [flat[y * width:(y + 1) * width] for y in range(height)]
        name = f"across-{width}x{depth}.tga"
        image_type = 11 if depth == 8 else 10
        data = tga_file(width, height, crows, depth, image_type, across_rows=True)
        extra = tga_file(width, height + 3, crows + [flat[:width]] * 3, depth, image_type, across_rows=True)
        write(d, name, data[:18] + extra[18:])  # packets go on past the last row
        layout = {8: "pl8Bit", 16: "pl15Bit", 24: "pl24Bit", 32: "pl32Bit"}[depth]
        diff = max_diff(ours(d, name, layout), tgatoppm(d, name))
        F.check(diff is not None and diff <= (1 if depth == 16 else 0), f"{name}: pixels differ from tgatoppm")
        if depth == 24:
            check(d, name, layout, references=(), expected=[[(p[2], p[1], p[0]) for p in row] for row in crows])


# ---- Orientations and the colour map's first index -------------------------------


def orientations(d):
    """Files of every depth stored in the four orientations, raw and
    run-length coded (packets within rows and across them), show the picture
    they were made from; Pillow, which honours both descriptor bits, agrees."""
    w, h = 13, 7
    entries = [(RND.randrange(256), RND.randrange(256), RND.randrange(256)) for _ in range(40)]
    cmap = b"".join(bytes((b, g, r)) for r, g, b in entries)
    words = [[RND.randrange(0x10000) for _ in range(w)] for _ in range(h)]
    idx = [[RND.randrange(40) for _ in range(w)] for _ in range(h)]
    grey = [[RND.randrange(256) for _ in range(w)] for _ in range(h)]
    rgba = [[bytes(RND.randrange(256) for _ in range(4)) for _ in range(w)] for _ in range(h)]
    for rows in (words, idx, grey, rgba):
        for row in rows:  # runs, so that run packets appear
            row[2:7] = [row[2]] * 5
    # name: (depth, raw type, pixels in picture order, their colours, map, Pillow reads it)
    kinds = {
        "map": (8, 1, [[bytes([v]) for v in r] for r in idx], [[entries[v] for v in r] for r in idx], cmap, True),
        "grey": (8, 3, [[bytes([v]) for v in r] for r in grey], [[(v,) * 3 for v in r] for r in grey], b"", True),
        "grey-alpha": (16, 3, [[bytes([v, 255 - v]) for v in r] for r in grey], [[(v,) * 3 for v in r] for r in grey],
                       b"", False),
        "rgb15": (15, 2, [[v.to_bytes(2, "little") for v in r] for r in words],
                  [[(expand5(v >> 10), expand5(v >> 5), expand5(v)) for v in r] for r in words], b"", False),
        "rgb16": (16, 2, [[v.to_bytes(2, "little") for v in r] for r in words],
                  [[(expand5(v >> 10), expand5(v >> 5), expand5(v)) for v in r] for r in words], b"", False),
        "rgb24": (24, 2, [[p[:3] for p in r] for r in rgba], [[(p[2], p[1], p[0]) for p in r] for r in rgba], b"", True),
        "rgb32": (32, 2, rgba, [[(p[2], p[1], p[0]) for p in r] for r in rgba], b"", True),
    }
    for kind, (depth, raw_type, pixels, colours, colour_map, by_pillow) in kinds.items():
        for descriptor in (0x00, 0x10, 0x20, 0x30):
            rows = pixels if descriptor & 0x20 else pixels[::-1]
            if descriptor & 0x10:
                rows = [row[::-1] for row in rows]
            for image_type, across in ((raw_type, False), (raw_type + 8, False), (raw_type + 8, True)):
                name = f"orient-{kind}-{descriptor:02x}-{image_type}{'-across' if across else ''}.tga"
                write(d, name, tga_file(w, h, rows, depth, image_type, cmap=colour_map,
                                        map_length=40 if colour_map else 0, entry_size=24 if colour_map else 0,
                                        descriptor=descriptor, across_rows=across))
                check(d, name, references=("pillow",) if by_pillow else (), expected=colours)


def first_index(d):
    """Pixels index a colour map from its first entry on; indices below it or
    past the map's end are black. tgatoppm and Pillow read the map the same
    way within it."""
    w, h = 11, 5
    first, length = 30, 40
    for size in (15, 24):
        entries = [(RND.randrange(256), RND.randrange(256), RND.randrange(256)) for _ in range(length)]
        if size == 15:
            cmap = b"".join(((r >> 3) << 10 | (g >> 3) << 5 | b >> 3).to_bytes(2, "little") for r, g, b in entries)
            entries = [(r & 0xF8, g & 0xF8, b & 0xF8) for r, g, b in entries]
        else:
            cmap = b"".join(bytes((b, g, r)) for r, g, b in entries)
        inside = [[first + RND.randrange(length) for _ in range(w)] for _ in range(h)]
        outside = [row[:] for row in inside]
        outside[0][:4] = [0, first - 1, first + length, 255]
        for image_type in (1, 9):
            for pixels, refs in ((inside, ("tgatoppm", "pillow") if size == 24 else ()), (outside, ())):
                data = bytearray(tga_file(w, h, [[bytes([v]) for v in r] for r in pixels], 8, image_type, cmap=cmap,
                                          map_length=length, entry_size=size))
                data[3:5] = first.to_bytes(2, "little")
                name = f"first-{size}-{image_type}{'-outside' if pixels is outside else ''}.tga"
                write(d, name, bytes(data))
                expected = [[entries[v - first] if first <= v < first + length else (0, 0, 0) for v in r]
                            for r in pixels]
                check(d, name, "pl8Bit", references=refs, expected=expected)
    # A first index past every 8-bit pixel leaves nothing to show but black.
    data = bytearray(tga_file(2, 1, [[b"\x00", b"\xff"]], 8, 1, cmap=b"\x10\x20\x30", map_length=1, entry_size=24))
    data[3:5] = (300).to_bytes(2, "little")
    write(d, "first-300.tga", bytes(data))
    check(d, "first-300.tga", "pl8Bit", references=(), expected=[[(0, 0, 0)] * 2])


# ---- Writer -------------------------------------------------------------------------


def writer(d):
    sh("convert-im6.q16 -size 45x31 plasma:fractal -seed 6 w.ppm", cwd=d)
    bmps = {
        "w1.bmp": ("-type Bilevel BMP3:", "pl1Bit"),
        "w4.bmp": ("-colors 12 BMP3:", "pl4Bit"),
        "w8.bmp": ("-colors 180 BMP3:", "pl8Bit"),
        "w555.bmp": ("-define bmp:subtype=RGB555 BMP:", "pl15Bit"),
        "w565.bmp": ("-define bmp:subtype=RGB565 BMP:", "pl16Bit"),
        "w24.bmp": ("-type TrueColor BMP3:", "pl24Bit"),
        "w32.bmp": ("-alpha set -define bmp:format=bmp4 BMP:", "pl32Bit"),
    }
    for name, (options, layout) in bmps.items():
        option, _, prefix = options.rpartition(" ")
        sh(f"convert-im6.q16 w.ppm {option} {prefix}{name}", cwd=d)
        source = ours(d, name, layout)
        out = name.replace(".bmp", ".tga")
        rc, _, err = run([IMGDUMP, "--write", os.path.join(d, name), os.path.join(d, out)])
        F.check(rc == 0, f"--write {name}: {err}")
        # 5-5-5 samples: the other readers scale 5 bits to 8 their own way.
        tolerance = 1 if layout == "pl15Bit" else 0
        for ref, px in (("imgdump", ours(d, out)), ("tgatoppm", tgatoppm(d, out)), ("pillow", pillow(d, out))):
            diff = max_diff(px, source)
            F.check(diff is not None and diff <= (0 if ref == "imgdump" else tolerance),
                    f"{out}: read back by {ref}, pixels differ from {name} ({diff})")
        header = open(os.path.join(d, out), "rb").read(18)
        depth = {"pl1Bit": 8, "pl4Bit": 8, "pl8Bit": 8, "pl15Bit": 16, "pl16Bit": 24, "pl24Bit": 24, "pl32Bit": 32}
        # Top to bottom, left to right, the map from index 0.
        F.check(header[2] == (9 if depth[layout] == 8 else 10) and header[16] == depth[layout] and header[17] == 0x20
                and header[3:5] == b"\0\0", f"{out}: header {header.hex()}")


# ---- Malformed files ----------------------------------------------------------------


def expect(d, name, data, summary=None, error=None):
    path = write(d, name, data)
    rc, out, err, _ = imgdump(path)
    if error:
        F.check(rc == 1 and err == error, f"{name}: expected {error!r}, got rc {rc} {out!r} {err!r}")
    else:
        F.check(rc == 0 and out == summary, f"{name}: expected {summary!r}, got {out!r} {err!r}")


def malformed(d):
    rows = [[b"\x01\x02\x03"] * 4] * 4
    good = tga_file(4, 4, rows, 24, 2)
    expect(d, "header-cut.tga", good[:10], error=READ)
    expect(d, "raw-cut.tga", good[:-5], error=READ)
    expect(d, "rle-cut.tga", tga_file(4, 4, rows, 24, 10)[:-2], "TTargaGraphic 4x4 pl24Bit")
    expect(d, "depth-12.tga", tga_file(4, 4, rows, 12, 2), error="error: EColorConversionError: "
           "Sample count per pixel does not correspond to the given color scheme.")
    expect(d, "huge.tga", tga_file(65535, 65535, [], 32, 2),
           error="error: EInvalidGraphic: Cannot load image. Invalid or unexpected TGA image format.")
    expect(d, "type-5.tga", tga_file(4, 4, rows, 24, 5), "TTargaGraphic 4x4 pl24Bit")
    expect(d, "map-cut.tga", tga_file(4, 4, [[b"\x00"] * 4] * 4, 8, 1, cmap=b"\x00" * 30, map_length=256,
                                      entry_size=24), error=READ)
    for name in ("im-10.tga", "pil-P-rle.tga", "ppmtotga-cmap-norle.tga", "across-3x24.tga"):
        data = open(os.path.join(d, name), "rb").read()
        for tenth in range(1, 10):
            path = write(d, f"cut{tenth}-{name}", data[: len(data) * tenth // 10])
            rc, out, err = run([IMGDUMP, path, path + ".ppm"])
            F.check((rc == 0 and out.startswith("TTargaGraphic")) or (rc == 1 and err.strip() == READ),
                    f"cut {tenth}/10 of {name}: rc {rc} {out!r} {err!r}")


def twins(d):
    """A Targa file has the fingerprint of its BMP twin, also one the writer made."""
    sh("convert-im6.q16 -size 320x240 xc:#C8C8C8 -fill '#1E1E1E' -draw 'rectangle 40,60 119,179' "
       "-type TrueColor BMP3:scene.bmp && convert-im6.q16 scene.bmp -compress RLE scene.tga && "
       "ppmtotga -rgb -norle scene.bmp > scene-raw.tga 2>/dev/null || "
       "(bmptopnm scene.bmp | ppmtotga -rgb -norle > scene-raw.tga)", cwd=d)
    run([IMGDUMP, "--write", os.path.join(d, "scene.bmp"), os.path.join(d, "scene-w.tga")])
    names = ["scene.bmp", "scene.tga", "scene-raw.tga", "scene-w.tga"]
    rc, out, err = run([IMGDUMP, "--fingerprint", *names], cwd=d)
    prints = {line.split()[4]: line.split()[:4] for line in out.splitlines()}
    F.check(len(prints) == 4 and all(prints[n] == prints["scene.bmp"] for n in names), f"fingerprints differ: {out}")


def main():
    with workdir() as d:
        tool_set(d)
        hand_made(d)
        orientations(d)
        first_index(d)
        writer(d)
        malformed(d)
        twins(d)
    F.exit()


main()
