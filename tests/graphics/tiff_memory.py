"""The TIFF and EPS readers take memory by the picture, never by what a
header claims.

Small hostile files, written here from the format's layout, are loaded by
imgdump: a strip that claims a large picture but holds a few bytes of data,
in each coding whose output its data bound; a whole uncompressed strip (a
sparse file, so it costs no disk); grey with further samples beside each
pixel, whose strip rows are eight times the bitmap's; a layout with more
samples than the converters take; and strip arrays that claim far more
than the file holds. The peak resident memory of each run (os.wait4), less
that of a run on a one-pixel file, must stay within the picture's bitmap
and a small allowance for one piece of a strip.

    tiff_memory.py
"""
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import Failures, measure, workdir  # noqa: E402
from tiff_files import tiff  # noqa: E402

F = Failures()
MIB = 1 << 20
ALLOWANCE_MIB = 24
INVALID = "error: EInvalidGraphic: Cannot load image. Invalid or unexpected TIF/TIFF image format."
SAMPLES = "error: EColorConversionError: Sample count per pixel does not correspond to the given color scheme."


def layout(width, height, bits, photometric, compression, samples):
    return [(256, 4, [width]), (257, 4, [height]), (258, 3, [bits] * samples), (259, 3, [compression]),
            (262, 3, [photometric]), (277, 3, [samples])]


def patched(data, tag, count, value):
    """The file with the count and value field of tag's entry replaced."""
    out = bytearray(data)
    (ifd,) = struct.unpack_from("<I", out, 4)
    (n,) = struct.unpack_from("<H", out, ifd)
    for i in range(n):
        at = ifd + 2 + 12 * i
        if struct.unpack_from("<H", out, at)[0] == tag:
            struct.pack_into("<II", out, at + 4, count, value)
    return bytes(out)


def eps(preview):
    return struct.pack("<IIIIIIIH", 0xC6D3D0C5, 0, 0, 0, 0, 30, len(preview), 0xFFFF) + preview


def cases():
    """(name, file bytes, bytes of sparse strip data after them, expected output, bitmap MiB)."""
    side = 4096
    rgb = layout(side, side, 8, 2, 1, 3)
    bitmap = side * side * 3 / MIB
    little = {1: bytes(4096), 32773: bytes([0x81, 0x7F]) * 2048, 5: bytes([0x80]) + bytes(1023),
              8: zlib.compress(bytes(side * 3 * 64))}
    out = []
    for compression, data in little.items():
        entries = [e if e[0] != 259 else (259, 3, [compression]) for e in rgb]
        out.append((f"one-strip-{compression}.tif", tiff(entries, [data]), 0, "ok", bitmap))
    # The whole strip is there: 48 MiB of zeros after the directory.
    head = tiff(rgb, [b""])
    whole = side * side * 3
    head = patched(patched(head, 273, 1, len(head)), 279, 1, whole)
    out.append(("whole-strip.tif", head, whole, "ok", bitmap))
    grey = layout(side, side, 16, 1, 32773, 4)
    out.append(("grey-four-samples.tif", tiff(grey, [bytes([0x81, 0x7F]) * 512]), 0, "ok", side * side / MIB))
    tall = tiff(layout(16, 16121856, 1, 1, 1, 64), [bytes(range(48))])
    out.append(("sixty-four-samples.eps", eps(tall), 0, SAMPLES, 0))
    thin = tiff(layout(1, 1 << 28, 8, 2, 1, 3) + [(278, 3, [1])], [bytes(48)])
    thin = patched(patched(thin, 273, 1 << 28, 8), 279, 1 << 28, 8)
    out.append(("strip-arrays-claimed.tif", thin, 0, INVALID, 0))
    return out


def run(imgdump, d, name, data, sparse):
    path = os.path.join(d, name)
    with open(path, "wb") as f:
        f.write(data)
    os.truncate(path, len(data) + sparse)
    result = measure([imgdump, path], 0, d)
    os.remove(path)
    return result


def main():
    imgdump = os.environ["IMGDUMP"]
    with workdir() as d:
        rc, _, err, base = run(imgdump, d, "pixel.tif", tiff(layout(1, 1, 8, 1, 1, 1), [b"\x80"]), 0)
        F.check(rc == 0, f"one pixel: {err}")
        for name, data, sparse, want, bitmap in cases():
            rc, out, err, peak = run(imgdump, d, name, data, sparse)
            limit = base + bitmap + ALLOWANCE_MIB
            print(f"{name}: {len(data)} bytes: peak {peak} MiB (one pixel {base} MiB, limit {limit:.0f}); {out or err}")
            if want == "ok":
                F.check(rc == 0, f"{name}: {err}")
            else:
                F.check(rc == 1 and err.startswith(want), f"{name}: {out} {err}")
            F.check(peak <= limit, f"{name}: peak {peak} MiB above {limit:.0f} MiB")
    F.exit()


if __name__ == "__main__":
    main()
