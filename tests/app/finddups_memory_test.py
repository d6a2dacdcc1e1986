"""The search's workers share one memory budget, whatever their number.

Tiny files declare large pictures (a few hundred bytes each, written from
the formats' layouts): run-length Targa, PCX, Dr. Halo and BMP data that
stop early, portable maps, SGI and Autodesk files without their pixels, and
a progressive JPEG whose decoder keeps the coefficients of its full size.
Each picture fits the budget given to finddups, two of them do not.
finddups runs over them with 1, 2, 4 and 8 workers; the peak resident
memory of each run (os.wait4) must stay within the budget above that of a
search of two small pictures, and the list must be the one of one thread.
AddressSanitizer keeps freed memory in quarantine, which would count as
resident; the runs go without it.

    finddups_memory_test.py FINDDUPS
"""
import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import Failures, sh, workdir  # noqa: E402

FINDDUPS = sys.argv[1]
MIB = 1 << 20
BUDGET_MIB = 160
# Allocator rounding, row buffers and the like beside the pictures.
SLACK_MIB = 48


def pcx_rgb(width, height):
    header = struct.pack("<BBBBHHHHHH48sBBHHHH54s", 10, 5, 1, 8, 0, 0, width - 1, height - 1, 72, 72,
                         bytes(48), 0, 3, width, 1, 0, 0, bytes(54))
    return header + bytes([0xFF, 0x80]) * 4  # four runs of 63, then the data end


def targa_rle32(width, height):
    return struct.pack("<BBBHHBHHHHBB", 0, 0, 10, 0, 0, 0, 0, 0, width, height, 32, 8) + bytes([0xFF, 1, 2, 3, 4])


def sgi_rgba(width, height):
    header = struct.pack(">HBBHHHHII4s80sI", 474, 0, 1, 3, width, height, 4, 0, 255, bytes(4), bytes(80), 0)
    return header.ljust(512, b"\0") + b"\x80" * 16


def bmp_rle8(width, height):
    palette = bytes(4 * 256)
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, 2, 0, 0, 256, 0)
    return b"BM" + struct.pack("<IHHI", offset + 2, 0, 0, offset) + info + palette + b"\0\1"  # end of bitmap


def halo_cut(width, height):
    return struct.pack("<HHH", width, height, 0) + struct.pack("<H", 3) + bytes([0x81, 5, 0])


def autodesk_cel(width, height):
    return struct.pack("<HHHHHBB", 0x9119, width, height, 0, 0, 8, 0).ljust(32, b"\0") + bytes(768 + 16)


def progressive_jpeg(d, width, height):
    """A small progressive JPEG whose frame header declares width x height."""
    sh("convert-im6.q16 -size 64x64 xc:gray40 ppm:- | cjpeg -progressive > small.jpg", cwd=d)
    data = bytearray(open(os.path.join(d, "small.jpg"), "rb").read())
    at = data.find(b"\xff\xc2")
    data[at + 5:at + 9] = struct.pack(">HH", height, width)
    os.remove(os.path.join(d, "small.jpg"))
    return bytes(data)


def write_hostile(d):
    # Megabytes each picture holds: 48, 150, 150, 64 and 64, 64, 64, 64, and
    # the JPEG's coefficients 108; the Targa and the pixmap come one after
    # the other, so one thread holding both would pass the budget too.
    files = {
        "a.pcx": pcx_rgb(4096, 4096),
        "b.tga": targa_rle32(6270, 6270),
        "c.ppm": b"P6\n7250 7250\n255\n" + b"\x80" * 16,
        "d.sgi": sgi_rgba(4096, 4096),
        "e.bmp": bmp_rle8(8192, 8192),
        "f.cut": halo_cut(8192, 8192),
        "g.cel": autodesk_cel(8192, 8192),
        "h.pgm": b"P5\n8192 8192\n255\n" + b"\x80" * 16,
        "p.jpg": progressive_jpeg(d, 6144, 6144),
    }
    for name, data in files.items():
        with open(os.path.join(d, name), "wb") as f:
            f.write(data)
    return sum(len(data) for data in files.values())


def write_ordinary(d):
    sh("convert-im6.q16 -size 64x48 xc:gray30 -fill white -draw 'rectangle 0,0 31,47' BMP3:x.bmp", cwd=d)
    sh("cp x.bmp y.bmp", cwd=d)


def environment():
    env = dict(os.environ)
    if "libasan" in subprocess.run(["ldd", FINDDUPS], capture_output=True, text=True).stdout:
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS", ""), "quarantine_size_mb=0"]))
    return env


def finddups(d, *args):
    """Runs finddups over d; returns (returncode, list, stderr, peak resident MiB)."""
    outside = os.path.dirname(d)
    with open(os.path.join(outside, "out.txt"), "w+b") as out, open(os.path.join(outside, "err.txt"), "w+") as err:
        p = subprocess.Popen([FINDDUPS, d, "1", *args], stdout=out, stderr=err, env=environment())
        _, status, usage = os.wait4(p.pid, 0)
        out.seek(0)
        err.seek(0)
        return os.waitstatus_to_exitcode(status), out.read(), err.read().strip(), usage.ru_maxrss / 1024


def main():
    F = Failures()
    with workdir() as root:
        d = os.path.join(root, "pictures")
        os.mkdir(d)
        write_ordinary(d)
        rc, small_list, err, base = finddups(d, "--jobs", "2")
        F.check(rc == 0 and b"x.bmp,y.bmp" in small_list, f"two pictures: {rc} {err} {small_list!r}")
        size = write_hostile(d)
        print(f"hostile files: {size} bytes; two small pictures alone: peak {base:.0f} MiB")
        limit = base + BUDGET_MIB + SLACK_MIB
        lists = {}
        for jobs in (1, 2, 4, 8):
            rc, listed, err, peak = finddups(d, "--jobs", str(jobs), "--budget", str(BUDGET_MIB))
            print(f"--jobs {jobs}: peak {peak:.0f} MiB (limit {limit:.0f})")
            F.check(rc == 0, f"--jobs {jobs}: {rc} {err}")
            F.check(peak <= limit, f"--jobs {jobs}: peak {peak:.0f} MiB over {limit:.0f} MiB")
            lists[jobs] = listed
        for jobs, listed in lists.items():
            F.check(listed == lists[1], f"--jobs {jobs} lists other groups than one thread: {listed!r}")
        F.check(b"x.bmp,y.bmp" in lists[1], f"the small pictures' group is missing: {lists[1]!r}")
    F.exit()


if __name__ == "__main__":
    main()
