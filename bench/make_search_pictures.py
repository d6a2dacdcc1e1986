"""Pictures for bench/finddups.sh, made deterministically (fixed seeds):
photograph-like scenes (smooth shapes, texture and sensor noise).
  make_search_pictures.py DIR JPEG_COUNT PNG_COUNT
DIR/jpeg: JPEG_COUNT JPEG files of 1600 x 1200, a fifth of them copies of
the others, resized or recompressed; DIR/png: PNG_COUNT PNG files of
2000 x 1500. Files already there are kept."""
import os
import sys
from multiprocessing import Pool

import numpy as np
from PIL import Image


def scene(seed, width, height):
    rng = np.random.default_rng(seed)
    picture = np.zeros((height, width, 3), np.float32)
    # Coarse shapes, then finer texture, each a small random field enlarged.
    for cells, weight in ((4, 120.0), (24, 50.0), (160, 18.0)):
        small = rng.random((max(2, cells * 3 // 4), cells, 3), np.float32)
        field = Image.fromarray((small * 255).astype(np.uint8)).resize((width, height), Image.BICUBIC)
        picture += (np.asarray(field, np.float32) - 128.0) * (weight / 128.0)
    picture += 128.0 + rng.normal(0.0, 4.0, picture.shape).astype(np.float32)
    return Image.fromarray(np.clip(picture, 0, 255).astype(np.uint8))


def make_jpeg(job):
    directory, i, originals = job
    name = os.path.join(directory, f"photo{i:05d}.jpg")
    if os.path.exists(name):
        return
    if i < originals:
        scene(i, 1600, 1200).save(name, "JPEG", quality=90)
        return
    # A copy of an original: every other one resized (down and back up to
    # the same size), the rest recompressed at a lower quality.
    original = scene((i - originals) * 7 % originals, 1600, 1200)
    if i % 2:
        original = original.resize((1200, 900), Image.LANCZOS).resize((1600, 1200), Image.BICUBIC)
        original.save(name, "JPEG", quality=85)
    else:
        original.save(name, "JPEG", quality=60)


def make_png(job):
    directory, i = job
    name = os.path.join(directory, f"photo{i:05d}.png")
    if not os.path.exists(name):
        scene(100000 + i, 2000, 1500).save(name, "PNG")


def main():
    directory, jpegs, pngs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    jpeg_dir, png_dir = os.path.join(directory, "jpeg"), os.path.join(directory, "png")
    os.makedirs(jpeg_dir, exist_ok=True)
    os.makedirs(png_dir, exist_ok=True)
    originals = jpegs - jpegs // 5
    workers = int(os.environ.get("BENCH_MAKE_JOBS", "4"))
    with Pool(workers) as pool:
        pool.map(make_jpeg, [(jpeg_dir, i, originals) for i in range(jpegs)], chunksize=8)
        pool.map(make_png, [(png_dir, i) for i in range(pngs)], chunksize=2)


if __name__ == "__main__":
    main()
