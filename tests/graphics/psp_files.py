"""A small Paint Shop Pro writer: files made from the format's block layout
with pixels known by construction.

Nothing in Debian writes the format; the reference test and the fuzz seeds
both use this writer. It needs nothing but Python.
"""
import struct
import zlib

SIGNATURE = b"Paint Shop Pro Image File\n\x1a"


def rle(data):
    """Run-length codes: 128 + n repeats the next byte n times, n < 128 copies n bytes."""
    out, i = bytearray(), 0
    while i < len(data):
        j = i
        while j < len(data) and j - i < 127 and data[j] == data[i]:
            j += 1
        if j - i >= 3:
            out += bytes([128 + j - i, data[i]])
            i = j
            continue
        j = i
        while j < len(data) and j - i < 127 and not (j + 2 < len(data) and data[j] == data[j + 1] == data[j + 2]):
            j += 1
        out += bytes([j - i]) + bytes(data[i:j])
        i = j
    return bytes(out)


def block(version, kind, body):
    head = b"~BK\0" + struct.pack("<H", kind)
    if version == 3:
        head += struct.pack("<I", len(body))
    return head + struct.pack("<I", len(body)) + body


def chunk(version, body):
    """A chunk with its length (counting the length field) from version 4 on."""
    return (struct.pack("<I", len(body) + 4) if version > 3 else b"") + body


def channel(version, ctype, plane, compression, stored=None, uncompressed=None, bitmap=None):
    """A channel block; bitmap is the bitmap type field (by default 1 for a
    composite channel, which marks the transparency bitmap, else 0)."""
    raw = bytes(plane)
    data = stored if stored is not None else {0: raw, 1: rle(raw), 2: zlib.compress(raw)}[compression]
    if bitmap is None:
        bitmap = 1 if ctype == 0 else 0
    info = struct.pack("<IIHH", len(data), len(raw) if uncompressed is None else uncompressed, bitmap, ctype)
    return block(version, 5, chunk(version, info) + data)


def layer(version, ltype, channels, width, height, name=b"Layer"):
    # Type, the layer's rectangle and its saved rectangle, opacity, blend mode, visibility.
    info = bytes([ltype]) + struct.pack("<iiii", 0, 0, width, height) * 2 + bytes([255, 0, 1]) + bytes(79)
    if version == 3:
        head = name.ljust(256, b"\0") + info + struct.pack("<HH", 1, len(channels))
    else:
        info = struct.pack("<H", len(name)) + name + info
        head = chunk(version, info) + chunk(version, struct.pack("<HH", 1, len(channels)))
    return block(version, 4, head + b"".join(channels))


def psp(version, depth, grey, compression, layers, palette=None, *, width, height, sig=None,
        resolution=72.0, unit=1, first=None, colour_count=None, creator=b"creator data"):
    """A whole file. palette: (r, g, b) or (r, g, b, reserved) entries;
    colour_count: the attributes' colour count (by default 2 ** depth);
    creator: the creator block's body, or None for no creator block."""
    head = (sig or SIGNATURE).ljust(32, b"\0") + struct.pack("<HH", version, 0)
    if colour_count is None:
        colour_count = 1 << min(depth, 24)
    attrs = struct.pack("<IIdBHHHIB", width, height, resolution, unit, compression, depth, 1, colour_count,
                        1 if grey else 0) + bytes(14)
    out = head + block(version, 0 if first is None else first, chunk(version, attrs))
    if creator is not None:
        out += block(version, 1, creator)
    if palette is not None:
        # The chunk holds the count; the entries follow it.
        out += block(version, 2, chunk(version, struct.pack("<I", len(palette))) +
                     b"".join(bytes([c[2], c[1], c[0], c[3] if len(c) > 3 else 0]) for c in palette))
    out += block(version, 3, b"".join(layers))
    return out
