"""Icons whose image is a PNG: grey and palette entries load with the pixels
Pillow gives for the same PNG, and a large one loads in the time the PNG
alone takes (the test's time-out catches a pixel-at-a-time conversion)."""
import os
import struct
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import Failures, imgdump, max_diff, workdir  # noqa: E402

F = Failures()


def icon_of(png_bytes, width, height):
    # Sizes of 256 and more are written as 0 in the directory.
    entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(png_bytes), 22)
    return struct.pack("<HHH", 0, 1, 1) + entry + png_bytes


def check(d, name, image):
    png = os.path.join(d, name + ".png")
    image.save(png)
    ico = os.path.join(d, name + ".ico")
    with open(png, "rb") as f:
        open(ico, "wb").write(icon_of(f.read(), *image.size))
    rc, line, err, px = imgdump(ico, os.path.join(d, "out.ppm"))
    if not F.check(rc == 0, f"{name}: {err}"):
        return
    F.check(line == f"TIcon {image.size[0]}x{image.size[1]} -", f"{name}: {line}")
    want = np.asarray(image.convert("RGB"), dtype=np.int16)
    F.check(max_diff(px, want) == 0, f"{name}: pixels differ from Pillow's (max {max_diff(px, want)})")


def main():
    with workdir() as d:
        y, x = np.mgrid[0:4096, 0:4096]
        check(d, "grey4096", Image.fromarray(((x + 3 * y) % 256).astype(np.uint8), "L"))
        palette = Image.fromarray(((x[:300, :200] // 7 + y[:300, :200] // 5) % 64).astype(np.uint8), "P")
        palette.putpalette([v for i in range(64) for v in (i * 4, 255 - i * 4, (i * 37) % 256)])
        check(d, "palette", palette)
        check(d, "grey-small", Image.fromarray((x[:16, :16] * 16).astype(np.uint8), "L"))
    F.exit()


if __name__ == "__main__":
    main()
