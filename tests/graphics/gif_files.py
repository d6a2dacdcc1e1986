"""Writes GIF files from indices and palettes, without any tool: the test
scripts and the fuzz seeds use it for files that no encoder writes."""
import struct


def lzw_codes(indices, code_size):
    """LZW data that never lets the code width grow: a clear code before every
    run of 2^code_size - 2 pixels, each pixel a code of its own."""
    clear, width = 1 << code_size, code_size + 1
    per_clear = (1 << code_size) - 2
    codes = []
    for i, v in enumerate(indices):
        if i % per_clear == 0:
            codes.append(clear)
        codes.append(v)
    codes.append(clear + 1)
    bits = acc = 0
    out = bytearray()
    for c in codes:
        acc |= c << bits
        bits += width
        while bits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            bits -= 8
    if bits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data, size=255):
    out = bytearray()
    for i in range(0, len(data), size):
        out += bytes([len(data[i:i + size])]) + data[i:i + size]
    return bytes(out) + b"\x00"


def table(palette, n):
    """A colour table of 2^(n+1) entries from a list of (r, g, b)."""
    entries = list(palette) + [(0, 0, 0)] * ((2 << n) - len(palette))
    return b"".join(bytes(e) for e in entries[: 2 << n])


def interlace_order(height):
    return [y for first, step in ((0, 8), (4, 8), (2, 4), (1, 2)) for y in range(first, height, step)]


def gif_file(width, height, rows, palette, *, interlace=False, local=None, screen=None, descriptor_size=None,
             extensions=b"", code_size=None, data=None, version=b"89a", trailer=b";"):
    """rows: list of lists of indices. local: a palette for a local table
    (the global table is then palette). screen: (w, h) of the logical screen
    (the image's own size by default). descriptor_size: (w, h) written into
    the image descriptor. data: LZW data in place of the encoded rows."""
    n = max(1, (max(len(palette), 2) - 1).bit_length()) - 1
    sw, sh = screen or (width, height)
    out = b"GIF" + version + struct.pack("<HHBBB", sw, sh, 0x80 | n, 0, 0) + table(palette, n) + extensions
    dw, dh = descriptor_size or (width, height)
    flags = 0x40 if interlace else 0
    ln = 0
    if local is not None:
        ln = max(1, (max(len(local), 2) - 1).bit_length()) - 1
        flags |= 0x80 | ln
    out += b"," + struct.pack("<HHHHB", 0, 0, dw, dh, flags)
    if local is not None:
        out += table(local, ln)
    order = interlace_order(height) if interlace else range(height)
    indices = [v for y in order for v in rows[y]]
    cs = code_size or max(2, (n if local is None else ln) + 1)
    out += bytes([cs]) + sub_blocks(data if data is not None else lzw_codes(indices, cs))
    return out + trailer
