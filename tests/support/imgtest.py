"""Helpers for script tests that compare imgdump with independent decoders.

Test files are made at test time in a temporary directory by Debian tools
(ImageMagick, netpbm, libjpeg-turbo, icoutils, ...) and never kept in git.
"""
import os
import resource
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

IMGDUMP = os.environ.get("IMGDUMP", "imgdump")


class Failures:
    """Collects failed checks so that one run reports all of them."""

    def __init__(self):
        self.messages = []

    def check(self, condition, message):
        if not condition:
            self.messages.append(message)
            print("FAIL:", message)
        return condition

    def exit(self):
        if self.messages:
            print(f"{len(self.messages)} check(s) failed")
            sys.exit(1)
        print("all checks passed")
        sys.exit(0)


def run(args, **kw):
    """Runs a command, returning (returncode, stdout, stderr) as text."""
    p = subprocess.run(args, capture_output=True, text=True, **kw)
    return p.returncode, p.stdout, p.stderr


def sh(cmd, cwd=None):
    """Runs a shell pipeline that must succeed (making test files)."""
    subprocess.run(cmd, shell=True, check=True, cwd=cwd, stdout=subprocess.DEVNULL)


def measure(args, address_limit, d):
    """Runs args; returns (returncode, stdout, stderr, peak resident MiB of that run)."""
    def limit():
        if address_limit:
            resource.setrlimit(resource.RLIMIT_AS, (address_limit, address_limit))
    with open(os.path.join(d, "out.txt"), "w+") as out, open(os.path.join(d, "err.txt"), "w+") as err:
        p = subprocess.Popen(args, stdout=out, stderr=err, preexec_fn=limit)
        _, status, usage = os.wait4(p.pid, 0)
        p.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        return p.returncode, out.read().strip(), err.read().strip(), usage.ru_maxrss // 1024


def imgdump(path, ppm=None, options=()):
    """imgdump's summary line and, with ppm, the rendered pixels (H x W x 3)."""
    args = [IMGDUMP, *options, path] + ([ppm] if ppm else [])
    rc, out, err = run(args)
    pixels = read_image(ppm) if (ppm and rc == 0) else None
    return rc, out.strip(), err.strip(), pixels


def dump(d, path):
    """imgdump with the pixels rendered into d; an empty picture has none."""
    rc, out, err, _ = imgdump(path)
    if rc != 0 or " 0x" in out or "x0 " in out:
        return rc, out, err, None
    return imgdump(path, os.path.join(d, "out.ppm"))


def save_and_dump(d, name, data):
    """Writes data as d/name, then dump()s it."""
    path = os.path.join(d, name)
    with open(path, "wb") as f:
        f.write(data)
    return dump(d, path)


def check_cuts(failures, d, path, cut_name, allowed):
    """The file at path, cut at each tenth of its length and saved as
    d/cut_name, must load what it holds or fail with one of the allowed
    error lines."""
    with open(path, "rb") as f:
        data = f.read()
    for tenth in range(1, 10):
        rc, _, err, _ = save_and_dump(d, cut_name, data[: len(data) * tenth // 10])
        failures.check(rc == 0 or err in allowed, f"{os.path.basename(path)} cut at {tenth}/10: {err}")


def check_picture(failures, name, path, expected, tmp, summary):
    """imgdump loads path with the summary line summary (with {w} and {h}
    for the expected size) and exactly the expected pixels (H x W x 3)."""
    rc, out, err, got = imgdump(path, os.path.join(tmp, "out.ppm"))
    if not failures.check(rc == 0, f"{name}: imgdump failed: {err}"):
        return
    h, w = expected.shape[:2]
    failures.check(out == summary.format(w=w, h=h), f"{name}: summary {out!r}")
    failures.check(got is not None and got.shape == expected.shape and (got == expected).all(),
                   f"{name}: pixels differ from the reference")


def read_image(path):
    with Image.open(path) as im:
        return np.asarray(im.convert("RGB"), dtype=np.int16)


def ref_pixels(cmd, cwd):
    """Pixels of a reference decode written as PNM/PNG/... by a shell command to ref.*"""
    out = os.path.join(cwd, "ref.ppm")
    sh(cmd.replace("{out}", out), cwd=cwd)
    return read_image(out)


def max_diff(a, b):
    if a is None or b is None or a.shape != b.shape:
        return None
    return int(np.abs(a - b).max()) if a.size else 0


def workdir():
    return tempfile.TemporaryDirectory(prefix="tolvane-test-")
