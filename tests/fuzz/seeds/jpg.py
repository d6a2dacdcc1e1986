"""Fuzz seeds for JPEG, written by Pillow from pixels made by formula:
baseline, progressive, grey, CMYK, 4:4:4, a truncated file, one padded after
its end marker and one whose header declares 65500 x 65500."""
import io
import os
import struct
import sys

from PIL import Image


def picture(mode, w, h):
    im = Image.new("RGB", (w, h))
    im.putdata([((x * 7) & 255, (y * 11) & 255, ((x ^ y) * 5) & 255) for y in range(h) for x in range(w)])
    return im.convert(mode)


def encode(im, **options):
    out = io.BytesIO()
    im.save(out, "JPEG", quality=80, **options)
    return out.getvalue()


def main(out):
    rgb = picture("RGB", 40, 24)
    base = encode(rgb)
    big = bytearray(base)
    at = big.find(b"\xff\xc0")
    big[at + 5:at + 9] = struct.pack(">HH", 65500, 65500)
    files = {
        "baseline.jpg": base,
        "progressive.jpg": encode(rgb, progressive=True),
        "grey.jpg": encode(picture("L", 33, 17)),
        "cmyk.jpg": encode(picture("CMYK", 16, 16)),
        "s444.jpg": encode(rgb, subsampling=0),
        "truncated.jpg": base[:-30],
        "padded.jpg": base + b"\xff\xd8" + bytes(300),
        "declares-65500.jpg": bytes(big),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
