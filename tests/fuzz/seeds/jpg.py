"""Fuzz seeds for JPEG, written by Pillow from pixels made by formula:
baseline, progressive, grey, CMYK, 4:4:4, a truncated file, one padded after
its end marker, one whose header declares 65500 x 65500 and a progressive one
with comment and application segments before the frame and between scans."""
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


def with_segments(jpeg):
    """Comments and EXIF-like segments before the frame and after each scan's tables."""
    com = b"\xff\xfe" + struct.pack(">H", 12) + b"\xff\xd9" * 5
    app1 = b"\xff\xe1" + struct.pack(">H", 8) + b"Exif\0\0"
    out = bytearray(jpeg[:2] + com + app1 + jpeg[2:])
    at = out.find(b"\xff\xc4", out.find(b"\xff\xda"))
    return bytes(out[:at] + com + out[at:]) if at > 0 else bytes(out)


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
        "segments.jpg": with_segments(encode(rgb, progressive=True)),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
