#!/usr/bin/python3
"""Benchmark (not a test): time per file of loading large PCX, run-length SGI
and PPM files through the picture registry (imgdump, which loads through
TPicture::LoadPictureFile), against netpbm's pcxtoppm, sgitopnm and pnmtopnm
decoding the same files in the same run, output thrown away. Both sides are
one process per file; each figure is the best of several runs.

usage: bench_pcx_sgi_ppm.py IMGDUMP [WIDTH HEIGHT] (IMGDUMP from a Release build)
"""
import os
import subprocess
import sys
import tempfile
import time

IMGDUMP = sys.argv[1]
WIDTH, HEIGHT = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) > 3 else (4000, 3000)
RUNS = 5


def sh(cmd, cwd):
    subprocess.run(cmd, shell=True, check=True, cwd=cwd, stderr=subprocess.DEVNULL)


def best(args):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return min(times) * 1000


with tempfile.TemporaryDirectory(prefix="tolvane-bench-") as d:
    # A photograph-like picture: smooth areas (runs) and noise.
    sh(f"convert-im6.q16 -size {WIDTH}x{HEIGHT} plasma:fractal -attenuate 0.3 +noise Uniform -depth 8 big.ppm", d)
    sh("ppmtopcx -24bit big.ppm > big24.pcx; pnmquant 256 big.ppm | ppmtopcx -8bit > big8.pcx", d)
    sh("pnmtosgi -rle big.ppm > big.sgi; ppmtopgm big.ppm | pnmtosgi -rle > big.bw", d)
    sh("ppmtopgm big.ppm > big.pgm", d)
    cases = [("big24.pcx", "pcxtoppm"), ("big8.pcx", "pcxtoppm"), ("big.sgi", "sgitopnm"),
             ("big.bw", "sgitopnm"), ("big.ppm", "pnmtopnm"), ("big.pgm", "pnmtopnm")]
    print(f"{WIDTH}x{HEIGHT}, best of {RUNS}")
    print(f"{'file':<12} {'size':>10} {'imgdump':>10} {'reference':>20} {'ratio':>6}")
    worst = 0.0
    for name, tool in cases:
        path = os.path.join(d, name)
        ours = best([IMGDUMP, path])
        theirs = best([tool, path])
        worst = max(worst, ours / theirs)
        print(f"{name:<12} {os.path.getsize(path):>10} {ours:>7.1f} ms {tool:>9} {theirs:>7.1f} ms "
              f"{ours / theirs:>6.2f}")
    print(f"worst ratio {worst:.2f} (goal: at most 1.5)")
