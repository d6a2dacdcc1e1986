"""The cursor graphic through imgdump against icotool.

icotool writes cursors of every depth with a hot spot (and PNG entries);
animated cursors are wrapped around its output by a small RIFF writer
(ani_files.py), as no Debian tool writes them. Each must draw on white as
its source picture does. Cursors written by `imgdump --write` must list and
extract in icotool with the pixels and transparency they were made from.
Malformed files, truncated at every tenth, end in "Invalid cursor". The
finder groups a cursor with its twins.
"""
import os
import struct
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
import ani_files  # noqa: E402
from imgtest import check_picture, IMGDUMP, Failures, imgdump, read_image, run, sh, workdir  # noqa: E402

F = Failures()
RNG = np.random.default_rng(115)
SYSTEM16 = np.array([(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
                     (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
                     (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)], dtype=np.uint8)
KEY = (0xF4, 0x4A, 0x6C)  # the transparent colour as R, G, B


def picture(size, monochrome=False):
    """RGBA: colours of the 16-colour palette (black and white only for
    monochrome), a third of the pixels transparent with black colour."""
    colours = SYSTEM16[[0, 15]] if monochrome else SYSTEM16
    rgb = colours[RNG.integers(0, len(colours), (size, size))]
    alpha = np.where(RNG.random((size, size)) < 0.33, 0, 255).astype(np.uint8)
    rgb[alpha == 0] = 0
    return np.dstack([rgb, alpha])


def on_white(rgba):
    return np.where(rgba[:, :, 3:] < 128, 255, rgba[:, :, :3]).astype(np.int16)


def animated(frames, flags=1):
    return ani_files.animated(frames, flags, rates=(10, 10))


def check_pixels(name, path, expected, tmp):
    check_picture(F, name, path, expected, tmp, "TzelCursorImage {w}x{h} -")


def icotool_cursors(tmp):
    for size in (32, 48):
        for depth in (1, 4, 8, 24, 32):
            rgba = picture(size, monochrome=depth == 1)
            src = os.path.join(tmp, f"src{size}_{depth}.png")
            Image.fromarray(rgba, "RGBA").save(src)
            cur = os.path.join(tmp, f"c{size}_{depth}.cur")
            sh(f"icotool -c --cursor -b {depth} -X 3 -Y {size - 1} -o {cur} {src}")
            rc, listing, _ = run(["icotool", "-l", cur])
            F.check(f"--hotspot-x=3 --hotspot-y={size - 1}" in listing, f"icotool -l {cur}: {listing}")
            check_pixels(f"icotool {size}x{size} {depth}-bit", cur, on_white(rgba), tmp)
    # A PNG entry, and a file of two sizes (the one nearest to 32 is shown).
    rgba = picture(32)
    Image.fromarray(rgba, "RGBA").save(f"{tmp}/p32.png")
    Image.fromarray(picture(16), "RGBA").save(f"{tmp}/p16.png")
    sh(f"icotool -c --cursor -r {tmp}/p32.png -o {tmp}/png.cur")
    check_pixels("PNG entry", f"{tmp}/png.cur", on_white(rgba), tmp)
    sh(f"icotool -c --cursor -b 8 -o {tmp}/two.cur {tmp}/p16.png {tmp}/p32.png")
    check_pixels("two sizes", f"{tmp}/two.cur", on_white(rgba), tmp)


def animated_cursors(tmp):
    first, second = picture(32), picture(32)
    frames = []
    for i, rgba in enumerate((first, second)):
        Image.fromarray(rgba, "RGBA").save(f"{tmp}/f{i}.png")
        sh(f"icotool -c --cursor -b 4 -o {tmp}/f{i}.cur {tmp}/f{i}.png")
        with open(f"{tmp}/f{i}.cur", "rb") as f:
            frames.append(f.read())
    with open(f"{tmp}/a.ani", "wb") as f:
        f.write(animated(frames))
    check_pixels("animated cursor", f"{tmp}/a.ani", on_white(first), tmp)
    with open(f"{tmp}/raw.ani", "wb") as f:
        f.write(animated(frames, flags=2))
    rc, _, err, _ = imgdump(f"{tmp}/raw.ani")
    F.check(rc == 1 and "Exception: Invalid cursor" in err, f"frames without the icon flag: {err}")
    # A RIFF size past the end of the file is bounded by the file.
    with open(f"{tmp}/long.ani", "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 0xFFFFFFF0) + animated(frames)[8:])
    check_pixels("RIFF size past the end", f"{tmp}/long.ani", on_white(first), tmp)
    return frames[0], animated(frames)


def written(tmp):
    # A bitmap with the transparent colour: those pixels come out transparent.
    rgb = SYSTEM16[RNG.integers(0, 16, (24, 24))]
    rgb[RNG.random((24, 24)) < 0.25] = KEY
    Image.fromarray(rgb, "RGB").save(f"{tmp}/w.bmp")
    rc, _, err = run([IMGDUMP, "--write", f"{tmp}/w.bmp", f"{tmp}/w.cur"])
    if not F.check(rc == 0, f"write: {err}"):
        return
    rc, listing, _ = run(["icotool", "-l", f"{tmp}/w.cur"])
    F.check("--cursor --index=1 --width=24 --height=24 --bit-depth=4 --palette-size=16" in listing,
            f"icotool -l of the written cursor: {listing}")
    sh(f"icotool -x -o {tmp}/w.png {tmp}/w.cur")
    back = np.asarray(Image.open(f"{tmp}/w.png").convert("RGBA")).astype(np.int16)
    key = (rgb == KEY).all(axis=2)
    F.check((back[:, :, 3] == np.where(key, 0, 255)).all(), "written cursor: transparency differs")
    F.check((back[~key][:, :3] == rgb[~key]).all(), "written cursor: colours differ")


def malformed(tmp, samples):
    for ext, data in samples:
        for tenth in range(10):
            path = os.path.join(tmp, f"cut{tenth}.{ext}")
            with open(path, "wb") as f:
                f.write(data[: len(data) * tenth // 10])
            rc, _, err, _ = imgdump(path, os.path.join(tmp, "out.ppm"))
            F.check(rc == 0 or (rc == 1 and "Exception: Invalid cursor" in err), f"{ext} cut at {tenth}/10: {err}")


def twins(tmp):
    # Cursors and icons draw unscaled from the top-left corner, so their
    # twins are the same picture as a cursor, an animated cursor or an icon.
    folder = os.path.join(tmp, "twins")
    os.mkdir(folder)
    rgba = picture(32)
    rgba[:16, :, 3] = 255  # mostly opaque, so that the picture has content
    rgba[:16, :, :3] = SYSTEM16[RNG.integers(0, 16, (16, 32))]
    Image.fromarray(rgba, "RGBA").save(f"{tmp}/t.png")
    sh(f"icotool -c --cursor -b 24 -o {folder}/t.cur {tmp}/t.png")
    sh(f"icotool -c -b 24 -o {folder}/t.ico {tmp}/t.png")
    with open(f"{folder}/t.cur", "rb") as f, open(f"{folder}/t.ani", "wb") as g:
        g.write(animated([f.read()]))
    rc, out, err = run([os.path.join(os.path.dirname(IMGDUMP), "finddups"), folder, "3"])
    groups = [set(line.split(",")) for line in out.splitlines()[2:]]
    F.check(rc == 0 and {"t.ani", "t.cur", "t.ico"} in groups, f"finddups: {out} {err}")


def main():
    with workdir() as tmp:
        icotool_cursors(tmp)
        cur, ani = animated_cursors(tmp)
        written(tmp)
        malformed(tmp, [("cur", cur), ("ani", ani)])
        twins(tmp)
    F.exit()


main()
