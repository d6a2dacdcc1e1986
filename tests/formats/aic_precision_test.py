"""The AIC codec built unoptimised and optimised writes the same bit stream
and decodes it to the same pixels: no floating-point step may depend on the
compiler's choices."""
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

PICTURES = [["rose:"], ["-size", "53x37", "-seed", "11", "plasma:fractal"]]
QUALITIES = [1, 37, 75, 98, 100]


def main():
    probes = sys.argv[1:3]
    if shutil.which("convert") is None:
        print("ImageMagick's convert is not installed; skipped")
        return 0
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        sources = []
        for n, args in enumerate(PICTURES):
            sources.append(os.path.join(tmp, "in%d.bmp" % n))
            subprocess.run(["convert"] + args + ["-type", "TrueColor", "BMP3:" + sources[-1]], check=True)
        # A grey picture with the 256-entry grey palette, coded as one plane.
        sources.append(os.path.join(tmp, "grey.bmp"))
        Image.open(sources[0]).convert("L").save(sources[-1])
        for n, src in enumerate(sources):
            for quality in QUALITIES:
                outputs = []
                for level, probe in enumerate(probes):
                    aic, bmp = (os.path.join(tmp, "%d-%d-%d.%s" % (n, quality, level, e)) for e in ("aic", "bmp"))
                    subprocess.run([probe, src, str(quality), aic, bmp], check=True)
                    with open(aic, "rb") as f, open(bmp, "rb") as g:
                        outputs.append((f.read(), g.read()))
                if outputs[0] != outputs[1]:
                    print("FAIL: %s at quality %d differs between the builds" % (src, quality))
                    failures += 1
    print("%d differences" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
