"""Fuzz seeds: JPEG files, baseline and progressive, colour and grey, with
several chroma subsamplings, written by Pillow from pixels made by formula.
Run as: jpg.py OUTDIR."""
import os
import sys

from PIL import Image


def picture(mode, width, height):
    im = Image.new("RGB", (width, height))
    im.putdata([(x * 11 % 256, y * 23 % 256, (x * y) % 256) for y in range(height) for x in range(width)])
    return im.convert(mode)


def main(outdir):
    saves = {
        "baseline.jpg": (picture("RGB", 24, 16), dict(quality=75)),
        "grey.jpg": (picture("L", 17, 9), dict(quality=90)),
        "progressive.jpg": (picture("RGB", 20, 12), dict(quality=60, progressive=True)),
        "full-chroma.jpg": (picture("RGB", 9, 9), dict(quality=95, subsampling=0)),
        "cmyk.jpg": (picture("CMYK", 8, 8), dict(quality=80)),
        "restart.jpg": (picture("RGB", 32, 16), dict(quality=50, restart_marker_blocks=1)),
    }
    for name, (im, options) in saves.items():
        im.save(os.path.join(outdir, name), "JPEG", **options)


if __name__ == "__main__":
    main(sys.argv[1])
