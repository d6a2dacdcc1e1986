"""Writes Targa files from pixel bytes, without any tool: the test scripts
and the fuzz seeds use it for variants that no encoder writes."""
import struct


def packets(pixels, size):
    """Run-length packets over a list of pixel byte strings: runs of equal
    pixels, raw packets for the rest, at most 128 pixels each."""
    out = bytearray()
    i = 0
    while i < len(pixels):
        run = 1
        while i + run < len(pixels) and run < 128 and pixels[i + run] == pixels[i]:
            run += 1
        if run > 1:
            out += bytes([0x80 | (run - 1)]) + pixels[i]
            i += run
            continue
        j = i + 1
        while j < len(pixels) and j - i < 128 and not (j + 1 < len(pixels) and pixels[j] == pixels[j + 1]):
            j += 1
        out += bytes([j - i - 1]) + b"".join(pixels[i:j])
        i = j
    return bytes(out)


def tga_file(width, height, rows, depth, image_type, *, cmap=b"", map_type=None, map_length=0, entry_size=0,
             descriptor=0x20, ident=b"", across_rows=False):
    """rows: height rows of width pixel byte strings, in file order. Run-length
    types (9-11) code each row on its own, or the whole image as one stream
    with across_rows, so that packets run on from row to row."""
    if map_type is None:
        map_type = 1 if cmap else 0
    header = struct.pack("<BBBHHBHHHHBB", len(ident), map_type, image_type, 0, map_length, entry_size, 0, 0,
                         width, height, depth, descriptor)
    size = (depth + 7) // 8
    if image_type >= 9:
        if across_rows:
            data = packets([p for row in rows for p in row], size)
        else:
            data = b"".join(packets(row, size) for row in rows)
    else:
        data = b"".join(b"".join(row) for row in rows)
    return header + ident + cmap + data
