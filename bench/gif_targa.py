#!/usr/bin/python3
"""Benchmark (not a test): time per file of loading large GIF and run-length
Targa files through the picture registry (imgdump, Release build) against
giftopnm and tgatoppm decoding the same files, in the same run. Each
decoder runs as a process of its own with its output thrown away; the best
of several runs counts.

    bench/gif_targa.py [BUILD_DIR] [RUNS]

BUILD_DIR defaults to build-rel (configured and built here when missing).
Test pictures are made once with ImageMagick in $BENCH_DIR
(/tmp/tolvane-bench-gif-targa).
"""
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-rel"))
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 5
DIR = os.environ.get("BENCH_DIR", "/tmp/tolvane-bench-gif-targa")
IM = "convert-im6.q16"

FILES = {
    "photo-256.gif": f"{IM} -seed 1 -size 4000x3000 plasma:fractal -blur 0x1 -colors 256 photo-256.gif",
    "photo-interlaced.gif": f"{IM} -seed 2 -size 4000x3000 plasma:fractal -blur 0x1 -colors 128 "
                            "-interlace GIF photo-interlaced.gif",
    "drawing-16.gif": f"{IM} -size 4000x3000 xc:white -fill navy -draw 'circle 2000,1500 2000,200' "
                      "-fill red -draw 'rectangle 100,100 1500,900' -colors 16 drawing-16.gif",
    "photo-rle24.tga": f"{IM} -seed 3 -size 4000x3000 plasma:fractal -blur 0x1 -compress RLE photo-rle24.tga",
    "drawing-rle24.tga": f"{IM} -size 4000x3000 xc:white -fill navy -draw 'circle 2000,1500 2000,200' "
                         "-fill red -draw 'rectangle 100,100 1500,900' -type TrueColor -compress RLE "
                         "drawing-rle24.tga",
    "photo-rle32.tga": f"{IM} -seed 4 -size 4000x3000 plasma:fractal -blur 0x1 -alpha set -compress RLE "
                       "photo-rle32.tga",
    "photo-rle8.tga": f"{IM} -seed 5 -size 4000x3000 plasma:fractal -blur 0x1 -colors 200 -type Palette "
                      "-compress RLE photo-rle8.tga",
}


def best(args):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        times.append(time.perf_counter() - start)
    return min(times) * 1000


def main():
    imgdump = os.path.join(BUILD, "tools", "imgdump")
    if not os.path.exists(imgdump):
        subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"], check=True,
                       stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "--target", "imgdump"], check=True, stdout=subprocess.DEVNULL)
    os.makedirs(DIR, exist_ok=True)
    for name, cmd in FILES.items():
        if not os.path.exists(os.path.join(DIR, name)):
            subprocess.run(cmd, shell=True, check=True, cwd=DIR)
    print(f"{'file':24} {'registry':>11} {'reference':>11} {'ratio':>6}")
    worst = 0
    for name in FILES:
        path = os.path.join(DIR, name)
        reference = "giftopnm" if name.endswith(".gif") else "tgatoppm"
        a = best([imgdump, path])
        b = best([reference, path])
        worst = max(worst, a / b)
        print(f"{name:24} {a:8.1f} ms {b:8.1f} ms {a / b:6.2f}  ({reference})")
    print(f"worst ratio {worst:.2f}")


main()
