"""Fuzz seeds for BMP: every header size, bit fields, colour tables, rows of
each depth, run-length 4 and 8 bits, top-down. Pixels are made by formula."""
import os
import struct
import sys


def info(size, w, h, bpp, compression=0, colours=0, masks=()):
    head = struct.pack("<IiiHHIIiiII", size, w, h, 1, bpp, compression, 0, 2835, 2835, colours, 0)
    head += b"".join(struct.pack("<I", m) for m in masks)
    return head + bytes(size - len(head)) if size > len(head) else head


def bmp(dib, table, bits):
    off = 14 + len(dib) + len(table)
    return b"BM" + struct.pack("<IHHI", off + len(bits), 0, 0, off) + dib + table + bits


def rows(w, h, bpp):
    stride = ((w * bpp + 31) // 32) * 4
    return bytes((x * 5 + y * 3) & 0xFF for y in range(h) for x in range(stride))


def table(n, entry=4):
    return b"".join(bytes(((i * 37) & 255, (i * 91) & 255, (i * 13) & 255))[:entry] + bytes(entry - 3) for i in range(n))


def main(out):
    files = {
        "core8.bmp": bmp(struct.pack("<IHHHH", 12, 7, 5, 1, 8), table(256, 3), rows(7, 5, 8)),
        "info1.bmp": bmp(info(40, 19, 6, 1, colours=2), table(2), rows(19, 6, 1)),
        "info4-topdown.bmp": bmp(info(40, 9, -4, 4, colours=16), table(16), rows(9, 4, 4)),
        "info24.bmp": bmp(info(40, 11, 7, 24), b"", rows(11, 7, 24)),
        "v5-565.bmp": bmp(info(124, 6, 3, 16, 3, masks=(0xF800, 0x07E0, 0x001F)), b"", rows(6, 3, 16)),
        "bitfields32.bmp": bmp(info(40, 5, 3, 32, 3), struct.pack("<3I", 0xFF0, 0xF000F, 0xF00000), rows(5, 3, 32)),
        "rle8.bmp": bmp(info(40, 12, 4, 8, 1, 4), table(4),
                        bytes([3, 1, 0, 4, 1, 2, 3, 0, 0, 0, 0, 2, 2, 1, 5, 3, 0, 0, 0, 1])),
        "rle4.bmp": bmp(info(40, 13, 3, 4, 2, 16), table(16),
                        bytes([5, 0x12, 0, 5, 0x34, 0x56, 0x70, 0, 0, 0, 0, 2, 1, 1, 3, 0xAB, 0, 0, 0, 1])),
        "short-rows.bmp": bmp(info(40, 64, 64, 32), b"", rows(64, 2, 32)),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
