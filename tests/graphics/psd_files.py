"""A small Photoshop writer for what no tool writes: files made from the
format's layout with pixels known by construction.

The reference test and the fuzz seeds both use this writer. It needs
nothing but Python.
"""
import struct


def packbits(row):
    """PackBits as Photoshop stores it: runs of 3 or more, literals between."""
    out, i = bytearray(), 0
    while i < len(row):
        j = i
        while j < len(row) and j - i < 128 and row[j] == row[i]:
            j += 1
        if j - i >= 3:
            out += bytes([257 - (j - i), row[i]])
            i = j
            continue
        j = i
        while j < len(row) and j - i < 128 and not (j + 2 < len(row) and row[j] == row[j + 1] == row[j + 2]):
            j += 1
        out += bytes([j - i - 1]) + bytes(row[i:j])
        i = j
    return bytes(out)


def psd(planes, mode, *, width, depth=8, compression=0, color_data=b"", version=1, channels=None, sig=b"8BPS",
        rows_packed=None, resources=b""):
    """planes: one list of rows a channel, each row as stored (for depth 1
    the packed rows, for 16 the big-endian words); the height is their
    number. width goes into the header as it is."""
    rows = [[bytes(r) for r in p] for p in planes]
    height = len(rows[0])
    n = len(planes) if channels is None else channels
    head = sig + struct.pack(">H6xHIIHH", version, n, height, width, depth, mode)
    body = struct.pack(">I", len(color_data)) + color_data + struct.pack(">I", len(resources)) + resources
    body += struct.pack(">I", 0)  # no layers
    body += struct.pack(">H", compression)
    if compression == 1:
        packed = rows_packed or [[packbits(r) for r in p] for p in rows]
        body += b"".join(struct.pack(">H", len(r)) for p in packed for r in p)
        body += b"".join(r for p in packed for r in p)
    else:
        body += b"".join(r for p in rows for r in p)
    return head + body
