"""The .411 thumbnail graphic through imgdump against a numpy model.

No tool writes .411 files, so a generator writes them with every pair of
chroma bytes and random luma, and a model of the conversion in extended
precision (numpy's longdouble, halves rounded to even) gives the expected
pixels. Files of any length load as 64 x 48; groups the file does not hold
in full stay white. The finder groups a thumbnail with its BMP twin.
"""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import IMGDUMP, Failures, imgdump, run, workdir  # noqa: E402

F = Failures()
RNG = np.random.default_rng(109)
GROUPS = 16 * 48
LD = np.longdouble


def model(groups):
    """Expected RGB pixels (48 x 64 x 3) of up to 768 whole groups (rows of 6 bytes)."""
    out = np.full((48 * 64, 3), 255, dtype=np.int16)
    g = groups.astype(np.int64)
    u = (g[:, 4] - 128).astype(LD)
    v = (g[:, 5] - 128).astype(LD)
    r_term = np.rint(LD("1.402") * v).astype(np.int64)
    g_term = np.rint(LD("0.34414") * u + LD("0.71414") * v).astype(np.int64)
    b_term = np.rint(LD("1.772") * u).astype(np.int64)
    for i in range(4):
        y = g[:, i]
        rgb = np.stack([y + r_term, y - g_term, y + b_term], axis=1)
        out[np.arange(len(g)) * 4 + i] = np.clip(rgb, 0, 255)
    return out.reshape(48, 64, 3)


def check(name, path, expected, tmp):
    rc, out, err, got = imgdump(path, os.path.join(tmp, "out.ppm"))
    if not F.check(rc == 0, f"{name}: imgdump failed: {err}"):
        return
    F.check(out == "Ta411Object 64x48 -", f"{name}: summary {out!r}")
    if got is not None and got.shape == expected.shape:
        bad = np.argwhere((got != expected).any(axis=2))
        F.check(len(bad) == 0, f"{name}: {len(bad)} pixels differ, first at {bad[:1].tolist()}")
    else:
        F.check(False, f"{name}: no pixels")


def model_sanity():
    # Values worked out by hand, among them green terms of exactly +-18.5.
    g = np.array([[16, 16, 16, 16, 128, 128], [100, 100, 100, 100, 78, 178], [100, 100, 100, 100, 178, 78],
                  [255, 255, 255, 255, 3, 128]])
    px = model(g)[0]
    F.check(px[0].tolist() == [16, 16, 16], "model: grey")
    F.check(px[4][1] == 82 and px[8][1] == 118, "model: halves of the green term")
    F.check(px[12][2] == 33, "model: half of the blue term")


def every_chroma_pair(tmp):
    u, v = np.meshgrid(np.arange(256), np.arange(256), indexing="ij")
    pairs = np.stack([u.ravel(), v.ravel()], axis=1)
    for start in range(0, len(pairs), GROUPS):
        chunk = pairs[start:start + GROUPS]
        groups = np.zeros((GROUPS, 6), dtype=np.uint8)
        groups[:, :4] = RNG.integers(0, 256, (GROUPS, 4))
        groups[: len(chunk), 4:] = chunk
        groups[len(chunk):, 4:] = RNG.integers(0, 256, (GROUPS - len(chunk), 2))
        path = os.path.join(tmp, "pairs.411")
        with open(path, "wb") as f:
            f.write(groups.tobytes())
        check(f"chroma pairs from {start}", path, model(groups), tmp)


def lengths(tmp):
    groups = RNG.integers(0, 256, (GROUPS, 6), dtype=np.uint8)
    data = groups.tobytes()
    for length in [0, 5, 6, 100, 461 * 6 + 2, 4607, 4608, 9000]:
        path = os.path.join(tmp, f"len{length}.411")
        with open(path, "wb") as f:
            f.write((data + bytes(RNG.integers(0, 256, 9000 - 4608, dtype=np.uint8)))[:length])
        check(f"{length} bytes", path, model(groups[: min(length, 4608) // 6]), tmp)


def twins(tmp):
    folder = os.path.join(tmp, "twins")
    os.mkdir(folder)
    ramp = np.zeros((GROUPS, 6), dtype=np.uint8)
    ramp[:, :4] = (np.arange(GROUPS) % 16 * 16)[:, None]
    ramp[:, 4:] = 128
    with open(os.path.join(folder, "thumb.411"), "wb") as f:
        f.write(ramp.tobytes())
    rc, _, err = run([IMGDUMP, "--write", os.path.join(folder, "thumb.411"), os.path.join(folder, "thumb.bmp")])
    F.check(rc == 0, f"BMP twin: {err}")
    rc, out, err = run([os.path.join(os.path.dirname(IMGDUMP), "finddups"), folder, "3"])
    F.check(rc == 0 and "thumb.411,thumb.bmp" in out, f"finddups: {out} {err}")


def main():
    model_sanity()
    with workdir() as tmp:
        every_chroma_pair(tmp)
        lengths(tmp)
        twins(tmp)
    F.exit()


main()
