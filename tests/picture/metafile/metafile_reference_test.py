"""Metafiles written by independent producers (libuemf, libEMF, fig2dev,
and LibreOffice's export of drawings),
drawn by imgdump and by independent renderers (emf2svg-conv with
rsvg-convert for enhanced metafiles, wmf2gd for Windows metafiles).

Tolerance: the references antialias their edges and we do not, so two
measures are used. Where the reference is flat (its 3 x 3 neighbourhood
varies by at most 8 in every channel) at most 0.2 % of the pixels may
differ from ours by more than 48 in some channel; over the whole picture at
most 6 % may differ by more than 64. Features the references draw wrongly
or not at all (clipping, transforms, bitmaps and paths in emf2svg;
ellipses, rounded corners and bitmaps in wmf2gd) are checked by exact
pixel values instead.

usage: metafile_reference_test.py UEMF_SAMPLES LIBEMF_SAMPLES SAMPLE_FIG
"""
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from numpy.lib.stride_tricks import sliding_window_view
from PIL import Image

IMGDUMP = os.environ["IMGDUMP"]
FAILURES = []
PASSED = [0]


def check(ok, message):
    print(("ok   " if ok else "FAIL ") + message)
    if ok:
        PASSED[0] += 1
    else:
        FAILURES.append(message)


def run(args, **kw):
    env = kw.pop("env", dict(os.environ, ASAN_OPTIONS="detect_leaks=0"))
    return subprocess.run(args, check=True, capture_output=True, text=True, env=env, **kw)


def ours(path):
    out = path + ".ppm"
    line = run([IMGDUMP, path, out]).stdout.split()
    assert line[0] == "TMetafile", line
    return np.asarray(Image.open(out).convert("RGB")).astype(int)


def reference(path, width, height):
    png = path + ".ref.png"
    if path.endswith(".emf"):
        run(["emf2svg-conv", "-i", path, "-o", path + ".svg"])
        run(["rsvg-convert", "-w", str(width), "-h", str(height), "-b", "white", path + ".svg", "-o", png])
    else:
        run(["wmf2gd", "--maxwidth=%d" % width, "--maxheight=%d" % height, "--maxsize", "-o", png, path])
    return np.asarray(Image.open(png).convert("RGB")).astype(int)


def compare(a, b, name, overall_limit=0.06, interior_limit=0.002):
    if a.shape != b.shape:
        check(False, "%s: sizes %s and %s" % (name, a.shape, b.shape))
        return
    diff = np.abs(a - b).max(axis=2)
    padded = np.pad(b, ((1, 1), (1, 1), (0, 0)), mode="edge")
    windows = sliding_window_view(padded, (3, 3), axis=(0, 1))
    flat = (windows.max(axis=(-1, -2)) - windows.min(axis=(-1, -2))).max(axis=2) <= 8
    interior = ((diff > 48) & flat).sum() / max(1, flat.sum())
    overall = (diff > 64).mean()
    check(interior <= interior_limit and overall <= overall_limit,
          "%s: %.2f %% of flat pixels and %.2f %% of all pixels differ" % (name, 100 * interior, 100 * overall))


def pixels(image, name, expected):
    """expected: (x, y) -> (r, g, b), exact."""
    for (x, y), rgb in expected.items():
        got = tuple(int(v) for v in image[y, x])
        check(got == rgb, "%s: pixel (%d, %d) is %s, expected %s" % (name, x, y, got, rgb))


HALF_SVG = """<svg xmlns="http://www.w3.org/2000/svg" width="320" height="160" viewBox="0 0 320 160">
<rect x="0" y="0" width="320" height="160" fill="white"/><rect x="0" y="0" width="160" height="160" fill="black"/></svg>"""

SHAPES_SVG = """<svg xmlns="http://www.w3.org/2000/svg" width="320" height="200" viewBox="0 0 320 200">
<rect x="0" y="0" width="320" height="200" fill="white"/>
<rect x="20" y="20" width="120" height="70" fill="#2080ff" stroke="black" stroke-width="3"/>
<ellipse cx="230" cy="60" rx="60" ry="35" fill="#ff4000" stroke="#004000" stroke-width="4"/>
<polygon points="40,180 120,110 200,180" fill="#ffd000" stroke="#800080" stroke-width="2"/>
<line x1="220" y1="120" x2="300" y2="190" stroke="#008000" stroke-width="6"/></svg>"""


def check_office_exports(work):
    """Drawings exported as Windows and enhanced metafiles by an office suite."""
    for name, text in (("office_half.svg", HALF_SVG), ("office_shapes.svg", SHAPES_SVG)):
        with open(os.path.join(work, name), "w") as out:
            out.write(text)
    env_home = dict(HOME=work)
    for kind in ("wmf", "emf"):
        run(["soffice", "--headless", "--convert-to", kind, "--outdir", work,
             os.path.join(work, "office_half.svg"), os.path.join(work, "office_shapes.svg")],
            env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0", **env_home))
    f = lambda name: os.path.join(work, name)
    lines = run([IMGDUMP, "--fingerprint", f("office_half.wmf"), f("office_half.emf")]).stdout.splitlines()
    for line in lines:
        words, name = line.split()[:4], line.split()[4]
        check(words == ["00FF00FF"] * 4, "fingerprint of %s: %s" % (os.path.basename(name), " ".join(words)))
    # Both record sets of one drawing play alike, and the shapes' insides
    # have their colours (the export crops the page a little, so points are
    # taken well inside each shape).
    wmf, emf = ours(f("office_shapes.wmf")), ours(f("office_shapes.emf"))
    compare(wmf, emf, "office_shapes.wmf against office_shapes.emf", 0.02, 0.002)
    h, w = wmf.shape[:2]
    at = lambda x, y: (int(x * w / 320), int(y * h / 200))
    pixels(wmf, "office_shapes.wmf", {at(80, 55): (0x20, 0x80, 0xFF), at(230, 60): (0xFF, 0x40, 0x00),
                                      at(120, 160): (0xFF, 0xD0, 0x00), at(300, 20): (255, 255, 255)})


def main():
    uemf_samples, libemf_samples, fig = sys.argv[1:4]
    work = tempfile.mkdtemp(prefix="metafiles-")
    try:
        run([uemf_samples, work])
        run([libemf_samples, work])
        run(["fig2dev", "-L", "emf", fig, os.path.join(work, "fig2dev.emf")])
        f = lambda name: os.path.join(work, name)

        for name in ["uemf_shapes.emf", "uemf_text.emf", "libemf_shapes.emf", "libemf_text.emf",
                     "fig2dev.emf", "uemf_shapes.wmf"]:
            a = ours(f(name))
            compare(a, reference(f(name), a.shape[1], a.shape[0]), name)

        # The drawing state: a clipped, transformed rectangle, a restored
        # state, a 4 x 4 checkerboard stretched to 96 x 96 (red in its
        # bottom-left cell) and a filled Bezier path.
        state = ours(f("uemf_state.emf"))
        orange, red, blue, purple, white = (255, 128, 0), (255, 0, 0), (0, 0, 255), (128, 0, 128), (255, 255, 255)
        pixels(state, "uemf_state.emf", {
            (50, 40): orange, (5, 40): white, (50, 75): white, (105, 40): white, (135, 40): orange,
            (182, 22): blue, (206, 22): red, (182, 94): red, (254, 94): blue, (80, 170): purple, (10, 100): white})

        # Rounded corners, an ellipse and a bitmap, in a plain Windows
        # metafile whose size is its window.
        plain = ours(f("uemf_plain.wmf"))
        cyan, yellow = (0, 200, 200), (200, 200, 0)
        pixels(plain, "uemf_plain.wmf", {
            (121, 11): white, (130, 20): blue, (268, 88): white, (195, 50): blue,
            (60, 140): cyan, (12, 102): white, (108, 102): white,
            (220, 112): blue, (236, 112): red, (220, 160): red, (268, 160): blue, (140, 130): yellow})

        # The same text through both record kinds draws alike; glyphs may
        # move by a pixel, as the enhanced file stores rounded advances.
        compare(ours(f("uemf_text.wmf")), ours(f("uemf_text.emf")), "uemf_text.wmf against uemf_text.emf", 0.04, 0.02)

        check_office_exports(work)

        # Fingerprints of the worked example from three producers, each after
        # a file that covers the target differently.
        halves = [f("uemf_half.emf"), f("uemf_half.wmf"), f("libemf_half.emf")]
        args = [IMGDUMP, "--fingerprint"]
        for h in halves:
            args += [f("uemf_shapes.emf"), h]
        lines = run(args).stdout.splitlines()
        for line in lines[1::2]:
            words, name = line.split()[:4], line.split()[4]
            check(words == ["00FF00FF"] * 4, "fingerprint of %s: %s" % (os.path.basename(name), " ".join(words)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (PASSED[0], len(FAILURES)))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
