"""A small TIFF writer for strips made by hand.

The reference test and the fuzz seeds both use it. It needs nothing but
Python.
"""
import struct


def tiff(entries, strips, big=False):
    """A one-directory TIFF: the strips after the header, then the directory
    (entries are (tag, type, values), rationals as (numerator, denominator)
    pairs; 273 and 279 are added), then the values that do not fit their
    entries."""
    e = ">" if big else "<"
    body, offsets = bytearray(), []
    for s in strips:
        offsets.append(8 + len(body))
        body += s
    body += b"\0" * (len(body) % 2)
    ifd = 8 + len(body)
    entries = sorted(entries + [(273, 4, offsets), (279, 4, [len(s) for s in strips])], key=lambda x: x[0])
    extra_at = ifd + 2 + 12 * len(entries) + 4
    directory, extra = bytearray(struct.pack(e + "H", len(entries))), bytearray()
    for tag, typ, values in entries:
        fmt = {1: "B", 3: "H", 4: "I", 5: "II"}[typ]
        flat = [v for pair in values for v in pair] if typ == 5 else values
        raw = struct.pack(e + fmt * len(values), *flat)
        if len(raw) <= 4:
            field = raw.ljust(4, b"\0")
        else:
            field = struct.pack(e + "I", extra_at + len(extra))
            extra += raw
        directory += struct.pack(e + "HHI", tag, typ, len(values)) + field
    directory += struct.pack(e + "I", 0)
    header = (b"MM" if big else b"II") + struct.pack(e + "HI", 42, ifd)
    return header + bytes(body) + bytes(directory) + bytes(extra)


def bits_msb(bitstring):
    """A string of 0 and 1 as bytes, most significant bit first, the last byte padded with 0."""
    bitstring += "0" * (-len(bitstring) % 8)
    return bytes(int(bitstring[i:i + 8], 2) for i in range(0, len(bitstring), 8))
