"""Fuzz seeds: small WBMP pictures and AutoCAD slides."""
import os
import struct
import sys

out = sys.argv[1]


def save(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


save("a.wbmp", bytes([0, 0, 10, 3]) + bytes([0x12, 0xC0, 0xFF, 0x00, 0xAA, 0x55]))
save("long.wbmp", bytes([0, 0, 0x81, 0x00, 2]) + bytes(range(32)))
save("empty.wbmp", bytes([0, 0, 0, 5]))

header = b"AutoCAD Slide\r\n\x1a\x00" + bytes([0x56, 2]) + struct.pack("<HHIHH", 99, 59, 7500000, 0, 0x1234)
records = [bytes([1, 0xFF]), struct.pack("<HHHH", 5, 5, 90, 50), struct.pack("<bBb", 10, 0xFE, -3),
           struct.pack("<bBbbb", 2, 0xFB, 2, 20, -10), bytes([3, 0xFF]),
           bytes([0, 0xFD]) + struct.pack("<hh", 0, -1), bytes([0, 0xFD]) + struct.pack("<hh", 10, 10),
           bytes([0, 0xFD]) + struct.pack("<hh", 40, 12), bytes([0, 0xFD]) + struct.pack("<hh", 20, 40),
           bytes([0, 0xFD]) + struct.pack("<hh", 0, -1), bytes([0, 0xFC])]
save("lines.sld", header + b"".join(records))
save("bare.sld", header)
