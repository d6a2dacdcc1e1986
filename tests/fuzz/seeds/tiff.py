"""Fuzz seeds for the TIFF, fax and EPS readers: small files, valid and odd,
written from the format's layout; only the JPEG strips come from Pillow.

    /usr/bin/python3 tests/fuzz/seeds/tiff.py OUTDIR
"""
import io
import os
import struct
import sys
import zlib

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "graphics"))
from tiff_files import bits_msb, tiff  # noqa: E402


def base(width, height, bits, photometric, compression, samples=1, rows=None):
    return [(256, 3, [width]), (257, 3, [height]), (258, 3, [bits] * samples), (259, 3, [compression]),
            (262, 3, [photometric]), (277, 3, [samples]), (278, 3, [rows or height]),
            (282, 5, [(72, 1)]), (283, 5, [(72, 1)]), (296, 3, [2])]


def packbits(data):
    out = bytearray()
    for i in range(0, len(data), 128):
        chunk = data[i:i + 128]
        out += bytes([len(chunk) - 1]) + chunk
    return bytes(out)


def lzw(data):
    """TIFF LZW, most significant bit first; the width grows once the next
    entry would need the wider code (one code early)."""
    table = {bytes([i]): i for i in range(256)}
    codes, width, free, current = [(256, 9)], 9, 258, b""

    def emit(code):
        nonlocal width, free
        codes.append((code, width))
        free += 1
        if free == 1 << width and width < 12:
            width += 1

    for byte in data:
        grown = current + bytes([byte])
        if grown in table:
            current = grown
            continue
        table[grown] = free
        emit(table[current])
        current = bytes([byte])
    emit(table[current])
    codes.append((257, width))
    out, buffer, bits = bytearray(), 0, 0
    for code, size in codes:
        buffer, bits = buffer << size | code, bits + size
        while bits >= 8:
            bits -= 8
            out.append(buffer >> bits & 0xFF)
    if bits:
        out.append(buffer << (8 - bits) & 0xFF)
    return bytes(out)


def difference(rows, width, samples):
    out = bytearray()
    for row in rows:
        prev = [0] * samples
        for x in range(width):
            for k in range(samples):
                v = row[x * samples + k]
                out.append((v - prev[k]) & 0xFF)
                prev[k] = v
    return bytes(out)


def main(outdir):
    os.makedirs(outdir, exist_ok=True)
    files = {}
    w, h = 16, 8
    grey = bytes((x * 16 + y * 8) & 0xFF for y in range(h) for x in range(w))
    files["grey.tif"] = tiff(base(w, h, 8, 1, 1, rows=3), [grey[:48], grey[48:96], grey[96:]])
    rgb = bytes((x * 15, y * 30, (x ^ y) * 17)[k] & 0xFF for y in range(h) for x in range(w) for k in range(3))
    files["rgb-packbits.tiff"] = tiff(base(w, h, 8, 2, 32773, 3), [packbits(rgb)], big=True)
    rows = [rgb[y * w * 3:(y + 1) * w * 3] for y in range(h)]
    files["rgb-zip-predictor.tif"] = tiff(base(w, h, 8, 2, 8, 3) + [(317, 3, [2])],
                                          [zlib.compress(difference(rows, w, 3))])
    files["rgb-lzw-predictor.tif"] = tiff(base(w, h, 8, 2, 5, 3, rows=5) + [(317, 3, [2])],
                                          [lzw(difference(rows[:5], w, 3)), lzw(difference(rows[5:], w, 3))])
    files["grey-lzw.tiff"] = tiff(base(w, h, 8, 1, 5), [lzw(grey)], big=True)
    palette = [i * 4369 for i in range(16)] + [65535 - i * 4369 for i in range(16)] + [32768] * 16
    files["palette4.tif"] = tiff(base(w, h, 4, 3, 1) + [(320, 3, palette)], [bytes(range(64))])
    deep = b"".join(struct.pack(">H", (x * 4000 + y * 300) & 0xFFFF) for y in range(h) for x in range(w))
    files["grey16-msb.tiff"] = tiff(base(w, h, 16, 0, 8), [zlib.compress(deep)], big=True)
    # 16 pixels a row: white 3, black 5, white 8; then white 0, black 16.
    mh_rows = ["1000" "0011" "10011", "00110101" "0000010111"]
    files["mh.fax"] = tiff(base(16, 4, 1, 0, 2), [b"".join(bits_msb(mh_rows[y % 2]) for y in range(4))])
    eol = "000000000001"
    g3 = "".join("0000" + eol + mh_rows[y % 2] for y in range(4)) + eol * 6
    files["g3-lsb.fax"] = tiff(base(16, 4, 1, 0, 3) + [(266, 3, [2]), (292, 4, [4])],
                               [bytes(int(f"{b:08b}"[::-1], 2) for b in bits_msb(g3))])
    cmyk = bytes((x * 16, y * 32, 128, x * y) [k] & 0xFF for k in range(4) for y in range(h) for x in range(w))
    files["cmyk-planar.tiff"] = tiff(base(w, h, 8, 5, 1, 4) + [(284, 3, [2])],
                                     [cmyk[i * w * h:(i + 1) * w * h] for i in range(4)])
    # JPEG strips of grey and CMYK, one per eight rows.
    for mode, photometric, samples in (("L", 1, 1), ("CMYK", 5, 4)):
        strip = io.BytesIO()
        Image.frombytes("L", (w, h), grey).convert(mode).save(strip, "JPEG", quality=80)
        files[f"jpeg-{mode.lower()}.tif"] = tiff(base(w, h, 8, photometric, 7, samples), [strip.getvalue()])
    # No Compression tag: uncompressed.
    files["no-compression.tif"] = tiff([x for x in base(w, h, 8, 1, 1) if x[0] != 259], [grey])
    # Odd: rows per strip 0, a short strip, a colour map of three values.
    files["odd.tif"] = tiff([x if x[0] != 278 else (278, 4, [0]) for x in base(w, h, 8, 3, 1)] +
                            [(320, 3, [1, 2, 3])], [grey[:40]])
    preview = files["grey.tif"]
    header = struct.pack("<IIIIIIIH", 0xC6D3D0C5, 30, 16, 0, 0, 64, len(preview), 0xFFFF)
    files["preview.eps"] = header + b"%!PS-Adobe-3.0 EPSF-3.0\n".ljust(34, b" ") + preview
    for name, data in files.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
