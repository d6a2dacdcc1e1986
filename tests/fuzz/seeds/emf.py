"""Fuzz seeds: enhanced metafiles drawing rectangles, ellipses, lines and
polygons with pens and brushes, in several frames. Run as: emf.py OUTDIR."""
import os
import struct
import sys


def record(kind, payload=b""):
    return struct.pack("<II", kind, 8 + len(payload)) + payload


def rect(left, top, right, bottom):
    return struct.pack("<4i", left, top, right, bottom)


def emf(records, bounds, frame, handles):
    body = b"".join(records) + record(14, struct.pack("<III", 0, 16, 20))  # end of file
    count = len(records) + 2
    header_payload = (rect(*bounds) + rect(*frame) + struct.pack("<IIIIHHIII", 0x464D4520, 0x10000, 0, count,
                                                                   handles, 0, 0, 0, 0) +
                      struct.pack("<4i", 1024, 768, 320, 240))
    header = record(1, header_payload)
    size = len(header) + len(body)
    header = header[:48] + struct.pack("<I", size) + header[52:]
    return header + body


def drawing():
    return [
        record(39, struct.pack("<IIII", 1, 0, 0x00305080, 0)),   # solid brush as object 1
        record(37, struct.pack("<I", 1)),                        # select it
        record(38, struct.pack("<IIiiI", 2, 0, 4, 0, 0x00A00000)),  # pen as object 2
        record(37, struct.pack("<I", 2)),
        record(43, rect(10, 10, 150, 90)),                       # rectangle
        record(42, rect(100, 50, 190, 140)),                     # ellipse
        record(27, struct.pack("<ii", 0, 0)),                    # move to
        record(54, struct.pack("<ii", 199, 149)),                # line to
        record(86, rect(0, 0, 60, 60) + struct.pack("<I3h3h", 3, 5, 100, 30, 140, 55, 100)),  # polygon16
    ]


def main(outdir):
    files = {
        "shapes.emf": emf(drawing(), (0, 0, 199, 149), (0, 0, 5292, 3969), 3),
        "small-frame.emf": emf(drawing(), (0, 0, 199, 149), (0, 0, 500, 300), 3),
        "empty.emf": emf([], (0, 0, 10, 10), (0, 0, 265, 265), 1),
        "no-objects.emf": emf(drawing()[4:], (0, 0, 199, 149), (0, 0, 5292, 3969), 1),
    }
    for name, data in files.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
