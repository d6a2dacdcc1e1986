"""imgdump reads JPEG 2000 files that opj_compress wrote in many variants with
the pixels of opj_decompress (ImageMagick and Pillow as second opinions),
writes JP2 files that opj_decompress reads back exactly, sees a JPEG 2000
file and its BMP twin alike, and names damaged files with the codec's text."""
import os
import re
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from imgtest import Failures, imgdump, read_image, run, sh, workdir  # noqa: E402

DECODE_ERROR = "error: EInvalidGraphicOperation: Internal error (TQorJP2FileFormat): Unable to decode image"
COLOUR_ERROR = ("error: EInvalidGraphicOperation: Internal error (TQorJP2FileFormat): "
                "Only RGB and grayscale output color spaces supported")


def read_pnm(path):
    """A binary PGM/PPM of any depth as (H x W x channels int array, maxval)."""
    with open(path, "rb") as f:
        data = f.read()
    m = re.match(rb"(P[56])(?:\s+|#[^\n]*\n)+(\d+)\s+(\d+)\s+(\d+)\s", data)
    magic, w, h, maxval = m.group(1), int(m.group(2)), int(m.group(3)), int(m.group(4))
    channels = 3 if magic == b"P6" else 1
    dtype = ">u2" if maxval > 255 else "u1"
    pixels = np.frombuffer(data[m.end():], dtype=dtype, count=w * h * channels)
    return pixels.reshape(h, w, channels).astype(np.int64), maxval


def to_rgb8(pixels, maxval):
    """Reference samples brought to 8 bits the way the codec does it."""
    bits = maxval.bit_length()
    if bits > 8:
        pixels = pixels >> (bits - 8)
    elif bits < 8:
        pixels = (pixels * 255 + maxval // 2) // maxval
    if pixels.shape[2] == 1:
        pixels = np.repeat(pixels, 3, axis=2)
    return pixels


def ours(f, path, ppm):
    rc, out, err, pixels = imgdump(path, ppm)
    f.check(rc == 0, f"{os.path.basename(path)}: {err}")
    return out, pixels


def reference(path, out):
    rc, _, err = run(["opj_decompress", "-i", path, "-o", out])
    if rc != 0:
        raise RuntimeError(f"opj_decompress {path}: {err}")
    return to_rgb8(*read_pnm(out))


def compare(f, name, mine, ref):
    same = mine is not None and ref is not None and mine.shape == ref.shape and bool((mine == ref).all())
    f.check(same, f"{name}: pixels differ from opj_decompress"
            + ("" if mine is None or mine.shape != ref.shape else f" (max {int(np.abs(mine - ref).max())})"))


def conformance(f, d):
    p = lambda name: os.path.join(d, name)  # noqa: E731
    sh("convert-im6.q16 -seed 21 -size 97x61 plasma:fractal -depth 8 rose.ppm", cwd=d)
    sh("convert-im6.q16 rose.ppm -colorspace gray -depth 8 grey.pgm", cwd=d)
    sh("pamdepth 65535 rose.ppm > rose16.ppm && pamdepth 4095 grey.pgm > grey12.pgm", cwd=d)
    sh("convert-im6.q16 rose.ppm rose.bmp", cwd=d)
    # (name, source, opj_compress options, extension)
    cases = [
        ("lossless", "rose.ppm", "", "jp2"),
        ("codestream", "rose.ppm", "", "jpc"),
        ("grey", "grey.pgm", "", "jp2"),
        ("grey-lossy", "grey.pgm", "-r 15", "jpc"),
        ("res2", "rose.ppm", "-n 2", "jp2"),
        ("ratios", "rose.ppm", "-r 40,20,10", "jp2"),
        ("irreversible", "rose.ppm", "-I -r 8", "jp2"),
        ("no-mct", "rose.ppm", "-mct 0", "jpc"),
        ("tiles", "rose.ppm", "-t 32,32", "jp2"),
        ("odd-tiles", "rose.ppm", "-t 23,17 -n 3 -r 12", "jpc"),
        ("rpcl", "rose.ppm", "-p RPCL -r 10,5", "jp2"),
        ("cprl", "rose.ppm", "-p CPRL -t 48,48", "jpc"),
        ("pcrl-sop-eph", "rose.ppm", "-p PCRL -SOP -EPH", "jp2"),
        ("blocks", "rose.ppm", "-b 16,16 -c [32,32],[64,64]", "jp2"),
        ("thin-blocks", "rose.ppm", "-b 64,4 -M 63", "jpc"),
        ("offset", "rose.ppm", "-d 5,3", "jp2"),
        ("16bit", "rose16.ppm", "", "jp2"),
        ("16bit-lossy", "rose16.ppm", "-I -r 30", "jpc"),
        ("12bit-grey", "grey12.pgm", "", "jp2"),
    ]
    for name, source, options, ext in cases:
        target = p(f"{name}.{ext}")
        # opj_compress picks the code-stream writer for .j2k names.
        written = target if ext == "jp2" else p(f"{name}.j2k")
        sh(f"opj_compress -i {source} -o {written} {options}", cwd=d)
        if written != target:
            os.rename(written, target)
        out, mine = ours(f, target, p(f"{name}.mine.ppm"))
        ref_ext = "pgm" if source.endswith(".pgm") else "ppm"
        ref = reference(target, p(f"{name}.ref.{ref_ext}"))
        compare(f, name, mine, ref)
        layout = "pl8Bit" if ref_ext == "pgm" else "pl24Bit"
        f.check(out == f"TQorImage {ref.shape[1]}x{ref.shape[0]} {layout}", f"{name}: {out}")

    # Second opinions on a few files: ImageMagick and Pillow read them alike.
    for name in ("lossless", "irreversible", "tiles"):
        _, mine = ours(f, p(f"{name}.jp2"), p(f"{name}.mine.ppm"))
        sh(f"convert-im6.q16 {name}.jp2 {name}.magick.ppm", cwd=d)
        compare(f, name + " (ImageMagick)", mine, read_image(p(f"{name}.magick.ppm")))
        rc, _, err = run(["/usr/bin/python3", "-c", "import sys; from PIL import Image; "
                          "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])",
                          p(f"{name}.jp2"), p(f"{name}.pil.ppm")])
        f.check(rc == 0, f"Pillow {name}: {err}")
        if rc == 0:
            compare(f, name + " (Pillow)", mine, read_image(p(f"{name}.pil.ppm")))

    # Subsampled chroma (raw planes, pixels known by construction): each
    # pixel takes the nearest sample at or before it on the component's grid.
    # These files are sYCC, which the library does not convert, so they are
    # compared with the planes rather than with opj_decompress.
    w, h = 38, 22
    planes = [(np.arange(w * h) % 251).reshape(h, w),
              (np.arange(19 * 11) * 9 % 256).reshape(11, 19),
              (np.arange(19 * 22) * 5 % 256).reshape(22, 19)]
    with open(p("sub.raw"), "wb") as out_file:
        out_file.write(b"".join(pl.astype(np.uint8).tobytes() for pl in planes))
    sh(f"opj_compress -i sub.raw -o sub.jp2 -n 3 -F {w},{h},3,8,u@1x1:2x2:2x1", cwd=d)
    _, mine = ours(f, p("sub.jp2"), p("sub.mine.ppm"))
    ys, xs = np.mgrid[0:h, 0:w]
    expected = np.stack([planes[0], planes[1][ys // 2, xs // 2], planes[2][ys, xs // 2]], axis=2)
    compare(f, "subsampled", mine, expected)

    # Four components (RGBA) are refused.
    sh("convert-im6.q16 rose.ppm -alpha set -channel A -fx 0.5 rgba.png && "
       "opj_compress -i rgba.png -o rgba.jp2", cwd=d)
    rc, _, err, _ = imgdump(p("rgba.jp2"))
    f.check(rc == 1 and err == COLOUR_ERROR, "rgba.jp2: " + err)


def writer(f, d):
    p = lambda name: os.path.join(d, name)  # noqa: E731
    sh("convert-im6.q16 -size 16x8 gradient:red-blue small.bmp", cwd=d)
    for source, target, comps, resolutions in (("rose.bmp", "rose-out.jp2", 3, 6),
                                               ("lossless.jp2", "rose-out.jpc", 3, 6),
                                               ("grey.jp2", "grey-out.jp2", 1, 6),
                                               ("small.bmp", "small-out.jp2", 3, 4)):
        rc, _, err = run([os.environ["IMGDUMP"], "--write", p(source), p(target)])
        if not f.check(rc == 0, f"write {target}: {err}"):
            continue
        with open(p(target), "rb") as fh:
            head = fh.read(24)
        f.check(head[:12] == bytes.fromhex("0000000c6a5020200d0a870a") and head[16:24] == b"ftypjp2 ",
                f"{target}: not a JP2 file")
        rc, dump, err = run(["opj_dump", "-i", p(target)])
        f.check(rc == 0 and f"numcomps={comps}" in dump, f"{target}: opj_dump {err}")
        f.check(set(re.findall(r"numlayers=(\d+)", dump)) == {"1"}, f"{target}: layers")
        f.check(set(re.findall(r"numresolutions=(\d+)", dump)) == {str(resolutions)}, f"{target}: resolutions")
        # What was written is read back by the reference exactly (quality 100).
        copy = p(target + ".jp2") if target.endswith(".jpc") else p(target)
        if copy != p(target):
            os.link(p(target), copy)
        ext = "pgm" if comps == 1 else "ppm"
        ref = reference(copy, p(f"{target}.ref.{ext}"))
        _, mine = ours(f, p(source), p(f"{target}.src.ppm"))
        compare(f, "written " + target, mine, ref)


def finder_and_errors(f, d):
    p = lambda name: os.path.join(d, name)  # noqa: E731
    # The finder groups a photograph with its lossless and lossy JPEG 2000
    # twins, and not with another picture.
    os.mkdir(p("search"))
    sh("convert-im6.q16 rose: photo.ppm && convert-im6.q16 photo.ppm search/photo.bmp && "
       "cp rose.bmp search/plasma.bmp && opj_compress -i photo.ppm -o search/photo.jp2 && "
       "opj_compress -i photo.ppm -o search/photo5.j2k -r 5 && mv search/photo5.j2k search/photo5.jpc", cwd=d)
    finddups = os.path.join(os.path.dirname(os.environ["IMGDUMP"]), "finddups")
    rc, out, err = run([finddups, p("search"), "10"])
    f.check(rc == 0 and out.splitlines()[2:] == ["photo.bmp,photo.jp2,photo5.jpc"], "finddups: " + out + err)

    sh("opj_compress -i rose.ppm -o twin.jp2 -r 20", cwd=d)
    with open(p("twin.jp2"), "rb") as fh:
        data = fh.read()
    for name, content in (("cut.jp2", data[: len(data) * 2 // 3]), ("head.jpc", data[:60]),
                          ("bmp-inside.jp2", open(p("rose.bmp"), "rb").read()), ("empty.jpc", b"")):
        with open(p(name), "wb") as fh:
            fh.write(content)
        rc, _, err, _ = imgdump(p(name))
        f.check(rc == 1 and err == DECODE_ERROR, f"{name}: {err}")


def fuzz_seeds(f, d):
    """The fuzz seeds load as made (or fail as meant), and so do the inputs
    that once went wrong, kept in tests/fuzz/regressions."""
    here = os.path.dirname(os.path.abspath(__file__))
    seeds = os.path.join(d, "seeds")
    sh(f"/usr/bin/python3 {os.path.join(here, '..', 'fuzz', 'seeds', 'jp2.py')} {seeds}")
    expected = {"grey.jpc": "16x8 pl8Bit", "rgb.jp2": "16x16 pl24Bit", "sub420-offset.jp2": "13x7 pl24Bit",
                "signed16.jpc": "9x5 pl8Bit", "tiles-rpcl.jpc": "20x12 pl24Bit", "palette.jp2": "8x4 pl24Bit",
                "rgba.jp2": COLOUR_ERROR, "header-only.jpc": DECODE_ERROR}
    for name, result in expected.items():
        rc, out, err, _ = imgdump(os.path.join(seeds, name))
        f.check((out == "TQorImage " + result) if rc == 0 else err == result, f"seed {name}: {out}{err}")
    # A palette is expanded only while decoding; its columns count in the
    # size check beforehand (here 2^28 pixels of one component would pass,
    # three more palette columns make 4 GiB of samples).
    sys.path.insert(0, os.path.join(here, "..", "fuzz", "seeds"))
    import jp2 as seedmaker  # noqa: E402
    big = seedmaker.jp2(16384, 16384, [(8, False, 1, 1)], seedmaker.SRGB,
                        extra=seedmaker.palette_boxes([(0, 0, 0), (255, 255, 255)]), levels=1)
    with open(os.path.join(d, "big-palette.jp2"), "wb") as fh:
        fh.write(big)
    rc, out, err, _ = imgdump(os.path.join(d, "big-palette.jp2"))
    f.check(rc == 1 and err == DECODE_ERROR, "big-palette.jp2: " + out + err)

    # A small picture whose last tile-part runs over 150 MiB of padding (a
    # sparse file): the coded data taken is bounded by the picture.
    cs = bytearray(seedmaker.codestream(16, 8, [(8, False, 1, 1)], levels=3))
    sot = cs.index(b"\xff\x90")
    cs[sot + 6:sot + 10] = bytes(4)  # tile-part length 0: up to the end
    for name, padding in (("plain.jpc", 0), ("padded.jpc", 150 << 20)):
        with open(os.path.join(d, name), "wb") as fh:
            fh.write(cs[:-2])
            fh.seek(padding, 1)
            fh.write(cs[-2:])
    peak = {}
    for name in ("plain.jpc", "padded.jpc"):
        rc, out, err = run(["/usr/bin/python3", "-c", "import resource, subprocess, sys; "
                            "r = subprocess.run(sys.argv[1:], capture_output=True); "
                            "print(r.returncode, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)",
                            os.environ["IMGDUMP"], os.path.join(d, name)])
        code, peak[name] = (int(v) for v in out.split())
        f.check(code in (0, 1), f"{name}: exit {code}")
    f.check(peak["padded.jpc"] - peak["plain.jpc"] < 80 << 10,
            f"padding cost {(peak['padded.jpc'] - peak['plain.jpc']) >> 10} MiB")

    regressions = os.path.join(here, "..", "fuzz", "regressions")
    for name in sorted(os.listdir(regressions)) if os.path.isdir(regressions) else []:
        if name.endswith((".jp2", ".jpc")):
            rc, out, err, _ = imgdump(os.path.join(regressions, name))
            f.check(rc == 0 or err in (DECODE_ERROR, COLOUR_ERROR), f"regression {name}: {err}")


def main():
    f = Failures()
    with workdir() as d:
        conformance(f, d)
        writer(f, d)
        finder_and_errors(f, d)
        fuzz_seeds(f, d)
    f.exit()


if __name__ == "__main__":
    main()
