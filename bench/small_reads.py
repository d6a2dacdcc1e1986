#!/usr/bin/python3
"""Benchmark (not a test): pictures whose files are read in many small
pieces, loaded through the picture registry (imgdump, Release build)
against the fastest of giftopnm, ImageMagick and Pillow decoding the same
files in the same run. Each decoder runs as a process of its own with its
output thrown away; the best of several runs counts. A reference that
refuses a file is timed all the same and marked so. With strace on the
path, the read, pread64 and lseek calls of one imgdump load are counted
too.

    bench/small_reads.py [BUILD_DIR] [RUNS]

BUILD_DIR defaults to build-rel (configured and built here when missing);
IMGDUMP names another imgdump to time instead (an older build, say).
The files are made once in $BENCH_DIR (/tmp/tolvane-bench-small-reads):
2x2 GIF pictures behind 1 M and 32 M (256 MiB) graphic-control
extensions, a GIF photograph, Photoshop files of 0 x 7,798,784 pixels
(raw and PackBits), a PackBits picture of 1 x 300,000 pixels and an
ImageMagick photograph.
"""
import os
import shutil
import struct
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "graphics"))
from psd_files import psd  # noqa: E402

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-rel"))
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
DIR = os.environ.get("BENCH_DIR", "/tmp/tolvane-bench-small-reads")
IM = "convert-im6.q16"


def gif_behind_extensions(path, count):
    control = b"\x21\xf9\x04\x00\x00\x00\x00\x00"
    with open(path, "wb") as f:
        f.write(b"GIF89a" + struct.pack("<HHBBB", 2, 2, 0x80, 0, 0) + b"\x00\x00\x00\xff\xff\xff")
        for _ in range(count // 65536):
            f.write(control * 65536)
        f.write(control * (count % 65536))
        f.write(b"," + struct.pack("<HHHHB", 0, 0, 2, 2, 0) + b"\x02\x02\x84\x51\x00;")


def psd_without_pixels(path, compression):
    height = 7798784
    head = b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, height, 0, 8, 3) + struct.pack(">IIIH", 0, 0, 0, compression)
    with open(path, "wb") as f:
        f.write(head)
        if compression:
            f.write(b"\x00\x01" * (3 * height) + b"\x80" * (3 * height))


def thin_psd(path):
    planes = [[bytes([(y * 7 + c * 50) % 256]) for y in range(300000)] for c in range(3)]
    with open(path, "wb") as f:
        f.write(psd(planes, 3, width=1, compression=1))


FILES = {
    "extensions-1M.gif": lambda p: gif_behind_extensions(p, 1 << 20),
    "extensions-256MiB.gif": lambda p: gif_behind_extensions(p, 32 << 20),
    "photo-256.gif": lambda p: subprocess.run(f"{IM} -seed 1 -size 2000x1500 plasma:fractal -blur 0x1 -colors 256 "
                                              f"{p}", shell=True, check=True),
    "no-pixels.psd": lambda p: psd_without_pixels(p, 0),
    "no-pixels-rle.psd": lambda p: psd_without_pixels(p, 1),
    "thin-rle.psd": thin_psd,
    "photo-rle.psd": lambda p: subprocess.run(f"{IM} -seed 2 -size 2000x1500 plasma:fractal -blur 0x1 -compress RLE "
                                              f"{p}", shell=True, check=True),
}

PILLOW = "from PIL import Image; import sys; Image.MAX_IMAGE_PIXELS = None; Image.open(sys.argv[1]).load()"


def references(path):
    refs = {"ImageMagick": [IM, path, "ppm:-"], "Pillow": ["/usr/bin/python3", "-c", PILLOW, path]}
    if path.endswith(".gif"):
        refs["giftopnm"] = ["giftopnm", path]
    return refs


def best(args):
    times, ok = [], True
    for _ in range(RUNS):
        start = time.perf_counter()
        ok = subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0 and ok
        times.append(time.perf_counter() - start)
    return min(times) * 1000, ok


def system_calls(args):
    if not shutil.which("strace"):
        return ""
    out = subprocess.run(["strace", "-f", "-c", "-e", "trace=read,pread64,lseek"] + args,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True).stderr
    calls = {line.split()[-1]: line.split()[3] for line in out.splitlines()
             if line.split() and line.split()[-1] in ("read", "pread64", "lseek")}
    return " ".join(f"{k} {v}" for k, v in sorted(calls.items()))


def main():
    imgdump = os.environ.get("IMGDUMP") or os.path.join(BUILD, "tools", "imgdump")
    if not os.environ.get("IMGDUMP"):
        if not os.path.exists(imgdump):
            subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"],
                           check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", BUILD, "--target", "imgdump"], check=True, stdout=subprocess.DEVNULL)
    os.makedirs(DIR, exist_ok=True)
    for name, make in FILES.items():
        if not os.path.exists(os.path.join(DIR, name)):
            make(os.path.join(DIR, name))
    print(f"{'file':22} {'registry':>11} {'reference':>11} {'ratio':>6}")
    for name in FILES:
        path = os.path.join(DIR, name)
        a, ok = best([imgdump, path])
        timed = {ref: best(args) for ref, args in references(path).items()}
        decoded = {ref: t for ref, (t, good) in timed.items() if good}
        pool = decoded or {ref: t for ref, (t, _) in timed.items()}
        ref = min(pool, key=pool.get)
        b = pool[ref]
        note = "" if decoded else ", refused"
        print(f"{name:22} {a:8.1f} ms {b:8.1f} ms {a / b:6.2f}  ({ref}{note}){'' if ok else '  imgdump failed'}"
              f"  {system_calls([imgdump, path])}")


main()
