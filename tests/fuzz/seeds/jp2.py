"""Seeds for the fuzz target: small JPEG 2000 code streams (.jpc) and JP2
files (.jp2) written byte by byte, so that no tool is needed. Their packets
are empty (every coefficient zero), which leaves the headers, boxes, tiling,
subsampling, palettes and progression for the fuzzer to vary. Where
opj_compress is installed, two files with coded data are added from a
picture made here.

    /usr/bin/python3 tests/fuzz/seeds/jp2.py OUTDIR
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile


def marker(code, body=b""):
    return struct.pack(">H", code) + (struct.pack(">H", len(body) + 2) + body if body is not None else b"")


def codestream(width, height, comps, levels=2, tiles=(0, 0), offset=(0, 0), progression=0, mct=0,
               scod=0, truncate=None):
    """comps: list of (precision, signed, dx, dy). Tiles of 0 mean one tile."""
    tw, th = tiles[0] or width + offset[0], tiles[1] or height + offset[1]
    siz = struct.pack(">HIIIIIIIIH", 0, width + offset[0], height + offset[1], offset[0], offset[1],
                      tw, th, 0, 0, len(comps))
    for precision, signed, dx, dy in comps:
        siz += struct.pack(">BBB", (precision - 1) | (0x80 if signed else 0), dx, dy)
    cod = struct.pack(">BBHBBBBBB", scod, progression, 1, mct, levels, 4, 4, 0, 1)
    # Reversible coding: no quantisation, one exponent per sub-band.
    precision = comps[0][0]
    exponents = [precision] + [precision + 1, precision + 1, precision + 2] * levels
    qcd = bytes([0x40]) + bytes(e << 3 for e in exponents)
    header = marker(0xFF4F, None) + marker(0xFF51, siz) + marker(0xFF52, cod) + marker(0xFF5C, qcd)
    if truncate:
        return header[:truncate]
    tiles_x = -(-(width + offset[0]) // tw)
    tiles_y = -(-(height + offset[1]) // th)
    body = b""
    packets = bytes((levels + 1) * len(comps))  # one empty packet per resolution and component
    for index in range(tiles_x * tiles_y):
        psot = 12 + 2 + len(packets)
        body += marker(0xFF90, struct.pack(">HIBB", index, psot, 0, 1)) + marker(0xFF93, None) + packets
    return header + body + marker(0xFFD9, None)


def box(kind, body):
    return struct.pack(">I", len(body) + 8) + kind + body


def jp2(width, height, comps, colour_space, extra=b"", **options):
    cs = codestream(width, height, comps, **options)
    ncomps = len(comps)
    bpc = comps[0][0] - 1 | (0x80 if comps[0][1] else 0)
    ihdr = box(b"ihdr", struct.pack(">IIHBBBB", height, width, ncomps, bpc, 7, 0, 0))
    colr = box(b"colr", struct.pack(">BBBI", 1, 0, 0, colour_space))
    return (box(b"jP  ", b"\r\n\x87\n") + box(b"ftyp", b"jp2 " + bytes(4) + b"jp2 ")
            + box(b"jp2h", ihdr + colr + extra) + box(b"jp2c", cs))


def palette_boxes(entries):
    pclr = struct.pack(">HB", len(entries), 3) + bytes([7, 7, 7]) + b"".join(bytes(e) for e in entries)
    cmap = b"".join(struct.pack(">HBB", 0, 1, column) for column in range(3))
    return box(b"pclr", pclr) + box(b"cmap", cmap)


SRGB, GREY, SYCC = 16, 17, 18


def synthetic():
    rgb = [(8, False, 1, 1)] * 3
    return {
        "grey.jpc": codestream(16, 8, [(8, False, 1, 1)], levels=3),
        "rgb.jp2": jp2(16, 16, rgb, SRGB, mct=1),
        "sub420-offset.jp2": jp2(13, 7, [(8, False, 1, 1), (8, False, 2, 2), (8, False, 2, 2)], SYCC,
                                 offset=(3, 1), levels=1),
        "signed16.jpc": codestream(9, 5, [(16, True, 1, 1)], levels=1),
        "tiles-rpcl.jpc": codestream(20, 12, rgb, tiles=(8, 8), progression=2, levels=1),
        "palette.jp2": jp2(8, 4, [(8, False, 1, 1)], SRGB, extra=palette_boxes(
            [(0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 255)]), levels=1),
        "rgba.jp2": jp2(6, 6, rgb + [(8, False, 1, 1)], SRGB, levels=1),
        "header-only.jpc": codestream(16, 8, [(8, False, 1, 1)], truncate=60),
    }


def coded(outdir):
    """Two files with coded data from a fixed picture, when opj_compress exists."""
    if not shutil.which("opj_compress"):
        return
    with tempfile.TemporaryDirectory() as tmp:
        w, h = 24, 16
        pixels = bytes(((x * 11) ^ (y * 17)) & 0xFF for y in range(h) for x in range(w) for _ in range(3))
        source = os.path.join(tmp, "p.ppm")
        with open(source, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (w, h) + pixels)
        for name, options in (("coded.jp2", ["-n", "3", "-r", "4"]), ("coded-irreversible.j2k", ["-n", "2", "-I"])):
            target = os.path.join(tmp, name)
            subprocess.run(["opj_compress", "-i", source, "-o", target, *options], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            shutil.copyfile(target, os.path.join(outdir, name.replace(".j2k", ".jpc")))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: jp2.py OUTDIR")
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    for name, data in synthetic().items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)
    coded(outdir)


if __name__ == "__main__":
    main()
