"""Fuzz seeds for icons: entries of 1, 8 and 32 bits, a 32-bit entry without
its mask, PNG entries (one with a text chunk), and a directory whose entries point outside."""
import os
import struct
import sys
import zlib


def dib_entry(size, bpp, mask=True):
    colours = 1 << bpp if bpp <= 8 else 0
    head = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bpp, 0, 0, 0, 0, 0, 0)
    table = b"".join(bytes(((i * 37) & 255, (i * 91) & 255, (i * 13) & 255, 0)) for i in range(colours))
    stride = ((size * bpp + 31) // 32) * 4
    pixels = bytes((x * 7 + y) & 0xFF for y in range(size) for x in range(stride))
    and_stride = ((size + 31) // 32) * 4
    return head + table + pixels + (bytes((y * 3) & 0xFF for y in range(size * and_stride)) if mask else b"")


def png_entry(w, h, text=b""):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + bytes((x * 9 + y * 5) & 0xFF for x in range(w)) for y in range(h))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 0))
            + (chunk(b"tEXt", text) if text else b"")
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon(entries, kind=1, bad_offset=False):
    out = struct.pack("<HHH", 0, kind, len(entries))
    offset = 6 + 16 * len(entries)
    for size, data in entries:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), 1 << 30 if bad_offset else offset)
        offset += len(data)
    return out + b"".join(d for _, d in entries)


def main(out):
    files = {
        "three.ico": icon([(16, dib_entry(16, 1)), (32, dib_entry(32, 8)), (48, dib_entry(48, 32))]),
        "alpha-no-mask.ico": icon([(32, dib_entry(32, 32, mask=False))]),
        "png-grey.ico": icon([(40, png_entry(40, 40))]),
        "png-text.ico": icon([(24, png_entry(24, 24, b"Comment\0" + bytes(range(256)) * 4))]),
        "cursor.ico": icon([(8, dib_entry(8, 4))], kind=2),
        "outside.ico": icon([(16, dib_entry(16, 8))], bad_offset=True),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
