"""Benchmark (not a test): time per file of loading large JPEG 2000
photographs through the picture registry (imgdump, one process per file,
nothing written) against opj_decompress decoding the same files (one
process per file, a PPM written to a scratch file in /dev/shm) in the same
run. Also shown is the decode time that opj_decompress reports itself,
which leaves out its start-up and its output: the strictest yardstick.

    /usr/bin/python3 bench/jp2_bench.py BUILD_DIR [--runs N] [--threads N] [FILE...]

BUILD_DIR is a Release build (cmake -S . -B build-rel -G Ninja
-DCMAKE_BUILD_TYPE=Release; cmake --build build-rel --target imgdump).
Without files, a 4000x3000 photograph-like picture is made with ImageMagick
and written lossy (ratio 20, irreversible) and lossless by opj_compress.

Both decoders use the library's thread setting: one thread unless told
otherwise. --threads N runs both with N threads (OPJ_NUM_THREADS for
imgdump, -threads for opj_decompress), so like is compared with like.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time


def timed(args, env):
    """Wall time of a run, and the decode time it reports (seconds) if any."""
    start = time.perf_counter()
    p = subprocess.run(args, check=True, capture_output=True, text=True, env=env)
    wall = time.perf_counter() - start
    m = re.search(r"decode time: (\d+) ms", p.stdout + p.stderr)
    return wall, int(m.group(1)) / 1000 if m else None


def make_pictures(tmp):
    photo = os.path.join(tmp, "photo.ppm")
    # Smooth structure with fine detail on top, closer to a photograph than noise.
    subprocess.run(["convert-im6.q16", "-seed", "21", "-size", "4000x3000", "plasma:fractal", "-blur", "0x2",
                    "(", "-size", "4000x3000", "xc:gray50", "+noise", "Gaussian", ")",
                    "-compose", "overlay", "-composite", "-depth", "8", photo], check=True)
    files = []
    for name, options in (("lossy.jp2", ["-I", "-r", "20"]), ("lossless.jp2", [])):
        target = os.path.join(tmp, name)
        subprocess.run(["opj_compress", "-i", photo, "-o", target, *options], check=True, stdout=subprocess.DEVNULL)
        files.append(target)
    return files


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("files", nargs="*")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--threads", type=int, default=1)
    args = parser.parse_intermixed_args()
    imgdump = os.path.join(args.build, "tools", "imgdump")
    env = dict(os.environ)
    env.pop("OPJ_NUM_THREADS", None)
    threads_option = []
    if args.threads > 1:
        env["OPJ_NUM_THREADS"] = str(args.threads)
        threads_option = ["-threads", str(args.threads)]

    with tempfile.TemporaryDirectory(prefix="jp2-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None) as tmp:
        files = args.files or make_pictures(tmp)
        scratch = os.path.join(tmp, "out.ppm")
        print(f"threads: {args.threads}, runs: {args.runs} (median per file)")
        print(f"{'file':<14} {'size':>9} {'imgdump s':>10} {'opj_decompress s':>17} {'ratio':>6}"
              f" {'its decode s':>13} {'ratio':>6}")
        worst = 0.0
        for path in files:
            ours, reference, decode = [], [], []
            for _ in range(args.runs):
                ours.append(timed([imgdump, path], env)[0])
                wall, own = timed(["opj_decompress", "-i", path, "-o", scratch, *threads_option], env)
                reference.append(wall)
                decode.append(own or wall)
            a, b, c = statistics.median(ours), statistics.median(reference), statistics.median(decode)
            worst = max(worst, a / b)
            print(f"{os.path.basename(path):<14} {os.path.getsize(path):>9} {a:>10.3f} {b:>17.3f} {a / b:>6.2f}"
                  f" {c:>13.3f} {a / c:>6.2f}")
        print(f"worst ratio to opj_decompress {worst:.2f} (goal: at most 1.30)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
