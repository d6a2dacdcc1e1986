"""imgdump reads AIC files that the codec wrote and writes pictures through
the codec framework: round trips through BMP and AIC files made from
ImageMagick pictures, grey files, the finder's fingerprint of an AIC file
and its BMP twin, and the error lines of files that cannot be read or written."""
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

IMGDUMP = os.environ["IMGDUMP"]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def imgdump(*args):
    return subprocess.run([IMGDUMP, *args], capture_output=True, text=True)


def pixels(path):
    return np.asarray(Image.open(path).convert("RGB"), dtype=np.float64)


def psnr(a, b):
    mse = ((a - b) ** 2).mean()
    return float("inf") if mse == 0 else 10 * np.log10(255.0 ** 2 / mse)


def fingerprint(path):
    r = imgdump("--fingerprint", path)
    check(r.returncode == 0, "fingerprint of %s: %s" % (path, r.stderr))
    return [int(w, 16) for w in r.stdout.split()[:4]]


def main():
    if shutil.which("convert") is None:
        print("ImageMagick's convert is not installed; skipped")
        return 0
    with tempfile.TemporaryDirectory() as tmp:
        p = lambda name: os.path.join(tmp, name)
        subprocess.run(["convert", "rose:", "BMP3:" + p("rose.bmp")], check=True)
        # Pillow writes a grey picture as 8 bits with the 256-entry grey ramp.
        subprocess.run(["convert", "-size", "45x29", "-seed", "4", "plasma:fractal",
                        "-colorspace", "gray", "-depth", "8", "pgm:" + p("grey.pgm")], check=True)
        Image.open(p("grey.pgm")).save(p("grey.bmp"))

        # Colour: BMP -> AIC -> PPM, and back to BMP with the same pixels.
        r = imgdump("--write", p("rose.bmp"), p("rose.aic"))
        check(r.returncode == 0 and r.stderr == "", "write rose.aic: " + r.stderr)
        r = imgdump(p("rose.aic"), p("rose.ppm"))
        check(r.stdout.strip() == "TQorImage 70x46 pl24Bit", "dump rose.aic: " + r.stdout + r.stderr)
        check(psnr(pixels(p("rose.bmp")), pixels(p("rose.ppm"))) >= 40, "rose.aic PSNR below 40 dB")
        r = imgdump("--write", p("rose.aic"), p("back.bmp"))
        check(r.returncode == 0, "write back.bmp: " + r.stderr)
        check(np.array_equal(pixels(p("back.bmp")), pixels(p("rose.ppm"))), "AIC -> BMP changed pixels")

        # The extension selects the codec whatever its case.
        r = imgdump("--write", p("rose.bmp"), p("ROSE.AIC"))
        check(r.returncode == 0, "write ROSE.AIC: " + r.stderr)
        with open(p("ROSE.AIC"), "rb") as f, open(p("rose.aic"), "rb") as g:
            check(f.read() == g.read(), "ROSE.AIC differs from rose.aic")

        # Grey: an 8-bit grey BMP stays one grey plane.
        r = imgdump("--write", p("grey.bmp"), p("grey.aic"))
        check(r.returncode == 0, "write grey.aic: " + r.stderr)
        with open(p("grey.aic"), "rb") as f:
            header = f.read(10)
        check(header[:4] == b"AIC\x0a" and header[8] == 0 and header[9] == 100, "grey header %r" % header)
        r = imgdump(p("grey.aic"), p("grey.ppm"))
        check(r.stdout.strip() == "TQorImage 45x29 pl8Bit", "dump grey.aic: " + r.stdout + r.stderr)
        check(psnr(pixels(p("grey.bmp")), pixels(p("grey.ppm"))) >= 40, "grey.aic PSNR below 40 dB")

        # The finder sees an AIC file and its BMP twin alike.
        a, b = fingerprint(p("rose.bmp")), fingerprint(p("rose.aic"))
        distance = sum(bin(x ^ y).count("1") for x, y in zip(a, b))
        check(distance <= 4, "fingerprints of rose.bmp and rose.aic differ in %d bits" % distance)

        # Errors: damaged and unknown files.
        with open(p("rose.aic"), "rb") as f:
            data = f.read()
        with open(p("cut.aic"), "wb") as f:
            f.write(data[: len(data) // 2])
        r = imgdump(p("cut.aic"))
        check(r.returncode == 1 and r.stderr.strip() == "error: EAICError: Invalid AIC file", "cut.aic: " + r.stderr)
        with open(p("v11.aic"), "wb") as f:
            f.write(data[:3] + b"\x0b" + data[4:])
        r = imgdump(p("v11.aic"))
        check(r.returncode == 1 and r.stderr.strip() == "error: EAICError: Unknown AIC file version",
              "v11.aic: " + r.stderr)
        r = imgdump("--write", p("rose.bmp"), p("rose.unknownext"))
        check(r.returncode == 1 and r.stderr.startswith("error: EInvalidGraphic: Unknown picture file extension"),
              "unknown extension: " + r.stderr)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
