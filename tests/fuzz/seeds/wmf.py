"""Fuzz seeds: Windows metafiles, placeable and plain, drawing rectangles,
ellipses, polygons, lines and text with pens and brushes. Run as:
wmf.py OUTDIR."""
import os
import struct
import sys


def record(function, *words, raw=b""):
    params = struct.pack("<%dh" % len(words), *words) + raw
    if len(params) % 2:
        params += b"\0"
    return struct.pack("<IH", 3 + len(params) // 2, function) + params


def colour(r, g, b):
    return struct.pack("<BBBB", r, g, b, 0)


def metafile(records, objects, placeable=True, inch=1440):
    body = b"".join(records) + record(0x0000)
    words = 9 + len(body) // 2
    biggest = max(struct.unpack_from("<I", body, i)[0] for i in offsets(body))
    header = struct.pack("<HHHIHIH", 1, 9, 0x0300, words, objects, biggest, 0)
    if not placeable:
        return header + body
    fields = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, 0, 0, 400, 300, inch, 0)
    checksum = 0
    for (word,) in struct.iter_unpack("<H", fields):
        checksum ^= word
    return fields + struct.pack("<H", checksum) + header + body


def offsets(body):
    at = 0
    while at < len(body):
        yield at
        at += struct.unpack_from("<I", body, at)[0] * 2


def shapes():
    return [
        record(0x020B, 0, 0),                                   # window origin (y, x)
        record(0x020C, 300, 400),                               # window extent (y, x)
        record(0x02FC, 0, raw=colour(200, 30, 30) + b"\0\0"),   # solid brush
        record(0x012D, 0),                                      # select it
        record(0x02FA, 0, 3, 0, raw=colour(0, 0, 160)),         # pen: style, width (x, y), colour
        record(0x012D, 1),
        record(0x041B, 150, 200, 20, 20),                       # rectangle (bottom, right, top, left)
        record(0x0418, 280, 380, 160, 220),                     # ellipse
        record(0x0324, 3, raw=struct.pack("<6h", 10, 290, 100, 200, 190, 290)),  # polygon
        record(0x0214, 10, 390),                                # move to (y, x)
        record(0x0213, 290, 10),                                # line to
    ]


def text():
    message = b"Tolvane"
    return [record(0x0209, raw=colour(0, 90, 0)),                # text colour
            record(0x0521, len(message), raw=message + struct.pack("<hh", 100, 40))]  # text out


def main(outdir):
    files = {
        "shapes.wmf": metafile(shapes(), 2),
        "plain.wmf": metafile(shapes(), 2, placeable=False),
        "text.wmf": metafile(shapes()[:2] + text(), 0),
        "empty.wmf": metafile([], 0),
        "coarse.wmf": metafile(shapes(), 2, inch=96),
    }
    for name, data in files.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
