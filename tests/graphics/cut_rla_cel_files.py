"""Writers of Dr. Halo CUT (with its palette file), Alias/Wavefront RLA and
Autodesk Animator cel files whose pixels are known by construction.

No Debian tool writes these formats; the reference test and the fuzz seeds
both use these writers.
"""
import struct


def cut_row(row):
    """One CUT row: its stored length, then runs (bit 7 set) and literals, then 0."""
    body = bytearray()
    i = 0
    while i < len(row):
        j = i
        while j < len(row) and row[j] == row[i] and j - i < 127:
            j += 1
        if j - i >= 3:
            body += bytes([0x80 | (j - i), row[i]])
            i = j
            continue
        k = i
        while k < len(row) and k - i < 127:
            if k + 2 < len(row) and row[k] == row[k + 1] == row[k + 2]:
                break
            k += 1
        body += bytes([k - i]) + bytes(row[i:k])
        i = k
    body += b"\0"
    return struct.pack("<H", len(body)) + bytes(body)


def cut(rows):
    """A CUT picture of rows (lists of palette indices, top row first)."""
    width = len(rows[0]) if rows else 0
    return struct.pack("<HHH", width, len(rows), 0) + b"".join(cut_row(r) for r in rows)


def halo_palette(entries, count=None):
    """A Dr. Halo palette file: a 40-byte header whose maxima are 255, then
    6-byte entries that never cross a 512-byte block; count defaults to
    len(entries) - 1 as stored."""
    stored = len(entries) - 1 if count is None else count
    header = b"AH" + struct.pack("<HHBBHHHHHH", 0x0100, 0, ord("P"), 0, 0, 0, stored, 255, 255, 255) + bytes(20)
    data = bytearray(header)
    offset = len(header)
    for red, green, blue in entries:
        if offset > 506:
            data += bytes(512 - offset)
            offset = 0
        data += struct.pack("<HHH", red, green, blue)
        offset += 6
    if offset:
        data += bytes(512 - offset)
    return bytes(data)


def rla_channel(data):
    """One RLA channel row: count k >= 0 repeats the next byte k + 1 times,
    k < 0 copies -k literal bytes."""
    out = bytearray()
    i = 0
    while i < len(data):
        j = i
        while j < len(data) and data[j] == data[i] and j - i < 128:
            j += 1
        if j - i >= 2:
            out += struct.pack("b", j - i - 1) + bytes([data[i]])
            i = j
            continue
        k = i + 1
        while k < len(data) and k - i < 128 and not (k + 1 < len(data) and data[k] == data[k + 1]):
            k += 1
        out += struct.pack("b", -(k - i)) + bytes(data[i:k])
        i = k
    return struct.pack(">H", len(out)) + bytes(out)


def rla(pixels, matte=False, bottom_up=True, gamma=b"", space=b"rgb", bits=8, origin=(0, 0)):
    """An RLA picture of pixels (rows of (r, g, b, a) tuples, top row first)."""
    height, width = len(pixels), len(pixels[0])
    left, low = origin
    header = bytearray(740)
    bottom, top = (low, low + height - 1) if bottom_up else (low + height - 1, low)
    struct.pack_into(">4h", header, 0, left, left + width - 1, low, low + height - 1)
    struct.pack_into(">4h", header, 8, left, left + width - 1, bottom, top)
    struct.pack_into(">hhhhhH", header, 16, 0, 0, 3, 1 if matte else 0, 0, 0xFFFE)
    header[28:28 + len(gamma)] = gamma
    header[580:580 + len(space)] = space
    struct.pack_into(">h", header, 658, bits)
    rows = []
    for i in range(height):
        y = height - 1 - i if bottom_up else i
        rows.append(b"".join(rla_channel(bytes(p[c] for p in pixels[y])) for c in range(4 if matte else 3)))
    offset = 740 + 4 * height
    table = bytearray()
    for row in rows:
        table += struct.pack(">I", offset)
        offset += len(row)
    return bytes(header) + bytes(table) + b"".join(rows)


def cel(rows, palette):
    """An Autodesk Animator cel: palette of 256 (r, g, b) 6-bit values."""
    width = len(rows[0]) if rows else 0
    header = struct.pack("<HHHHHBB", 0x9119, width, len(rows), 0, 0, 8, 0).ljust(32, b"\0")
    colours = b"".join(bytes(entry) for entry in palette).ljust(768, b"\0")
    return header + colours + b"".join(bytes(r) for r in rows)
