"""The Dr. Halo CUT, Alias/Wavefront RLA and Autodesk readers through imgdump.

CUT pictures with their palette files are checked against ImageMagick,
which reads both and follows the same block rule. Neither ImageMagick nor
rlatopam reads RLA files of this layout, so RLA pixels come from the writer;
Autodesk pixels are the palette's 6-bit values times 4. Malformed files,
truncated at every tenth of their length or with oversize headers, must end
in the readers' messages.
"""
import os
import shutil
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from cut_rla_cel_files import cel, cut, halo_palette, rla  # noqa: E402
from imgtest import IMGDUMP, Failures, imgdump, read_image, run, sh, workdir  # noqa: E402

F = Failures()
RNG = np.random.default_rng(20)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def check_pixels(name, path, expected, tmp, env_note=""):
    rc, out, err, got = imgdump(path, os.path.join(tmp, "out.ppm"))
    if not F.check(rc == 0, f"{name}: imgdump failed: {err}"):
        return
    F.check(got is not None and got.shape == expected.shape and (got == expected).all(),
            f"{name}{env_note}: pixels differ from the reference")


def cut_cases(tmp):
    # Runs, literals and long literals over several widths; a full palette
    # and a short one (indices beyond it are black).
    for width, height, count in [(13, 5, 256), (300, 7, 256), (1, 1, 16), (129, 3, 100)]:
        rows = RNG.integers(0, count, (height, width), dtype=np.uint8)
        rows[:, ::5] = rows[:, :1]  # runs
        entries = [tuple(int(v) for v in RNG.integers(0, 256, 3)) for _ in range(count)]
        stem = os.path.join(tmp, f"halo{width}")
        write(stem + ".cut", cut(rows.tolist()))
        write(stem + ".pal", halo_palette(entries))
        ref = os.path.join(tmp, "ref.ppm")
        sh(f"convert-im6.q16 {stem}.cut {ref}")
        im = read_image(ref)
        table = np.zeros((256, 3), dtype=np.int16)
        table[:count] = entries
        F.check((im == table[rows]).all(), f"CUT {width}x{height}: ImageMagick disagrees with the palette rule")
        check_pixels(f"CUT {width}x{height}", stem + ".cut", im, tmp)
    # The palette in capitals is found; without one the picture is grey.
    rows = [[0, 50, 100, 250]]
    write(os.path.join(tmp, "caps.cut"), cut(rows))
    write(os.path.join(tmp, "caps.PAL"), halo_palette([(i, 255 - i, 7) for i in range(256)]))
    expected = np.array([[[v, 255 - v, 7] for v in rows[0]]], dtype=np.int16)
    check_pixels("CUT with name.PAL", os.path.join(tmp, "caps.cut"), expected, tmp)
    os.remove(os.path.join(tmp, "caps.PAL"))
    grey = np.array([[[v, v, v] for v in rows[0]]], dtype=np.int16)
    check_pixels("CUT without palette", os.path.join(tmp, "caps.cut"), grey, tmp)


def rla_cases(tmp):
    for width, height, matte, bottom_up in [(9, 4, False, True), (9, 4, True, False), (200, 3, False, False),
                                            (1, 1, True, True)]:
        pixels = RNG.integers(0, 256, (height, width, 4), dtype=np.uint8)
        pixels[:, : width // 2] = pixels[:, :1]  # runs
        path = write(os.path.join(tmp, f"a{width}{matte}.rla"),
                     rla(pixels.tolist(), matte=matte, bottom_up=bottom_up, origin=(-3, 10)))
        check_pixels(f"RLA {width}x{height} matte={matte} bottom-up={bottom_up}", path,
                     pixels[:, :, :3].astype(np.int16), tmp)
    # The gamma field is the display gamma the samples were made for, read
    # with "." in every locale: "2.2" shows them as they are, "1.0" (linear)
    # brightens them.
    pixels = np.full((2, 3, 4), 64, dtype=np.uint8)
    os.environ["LC_ALL"] = "de_DE.UTF-8"
    for gamma, level in [(b"2.2", 64), (b"1.0", round(255 * (64 / 255) ** (1 / 2.2)))]:
        path = write(os.path.join(tmp, "gamma.rla"), rla(pixels.tolist(), gamma=gamma))
        rc, _, err, got = imgdump(path, os.path.join(tmp, "g.ppm"))
        F.check(rc == 0 and (got == level).all(), f"RLA gamma {gamma}: {err} levels {got} rather than {level}")
    os.environ.pop("LC_ALL")
    # A picture and its RLA copy with gamma 2.2 have one fingerprint; mid-dark
    # levels over black, which a wrong gamma would lift above the mean.
    sh("convert-im6.q16 -size 64x32 xc:black -fill 'rgb(20,20,20)' -draw 'rectangle 0,0 63,15' "
       "-fill white -draw 'rectangle 0,16 15,31' scene.ppm", cwd=tmp)
    scene = read_image(os.path.join(tmp, "scene.ppm"))
    copy = np.concatenate([scene, np.full(scene.shape[:2] + (1,), 255, dtype=np.int16)], axis=2)
    write(os.path.join(tmp, "scene.rla"), rla(copy.tolist(), gamma=b"2.2"))
    rc, out, err = run([IMGDUMP, "--fingerprint", "scene.ppm", "scene.rla"], cwd=tmp)
    prints = [line.split()[:4] for line in out.splitlines()]
    F.check(rc == 0 and len(prints) == 2 and prints[0] == prints[1], f"RLA copy: fingerprints differ: {out} {err}")
    # xyz pictures load as an empty graphic, silently.
    path = write(os.path.join(tmp, "xyz.rla"), rla(pixels.tolist(), space=b"xyz"))
    rc, out, err, _ = imgdump(path)
    F.check(rc == 0 and out.startswith("TRLAGraphic 0x0 "), f"RLA xyz: {out} {err}")


def cel_cases(tmp):
    for width, height in [(3, 2), (320, 200), (1, 1)]:
        palette = RNG.integers(0, 64, (256, 3), dtype=np.uint8)
        palette[0] = (63, 63, 63)
        rows = RNG.integers(0, 256, (height, width), dtype=np.uint8)
        path = write(os.path.join(tmp, f"a{width}.cel"), cel(rows.tolist(), palette.tolist()))
        shutil.copy(path, os.path.join(tmp, f"a{width}.pic"))
        expected = (palette.astype(np.int16) << 2)[rows]
        check_pixels(f"CEL {width}x{height}", path, expected, tmp)
        check_pixels(f"PIC {width}x{height}", os.path.join(tmp, f"a{width}.pic"), expected, tmp)


def malformed(tmp):
    invalid = "Cannot load image. Invalid or unexpected {} image format."
    read_error = "Stream read error"
    pixels = RNG.integers(0, 256, (6, 10, 4), dtype=np.uint8).tolist()
    files = {
        "cut": cut(RNG.integers(0, 256, (6, 10), dtype=np.uint8).tolist()),
        "rla": rla(pixels, matte=True),
        "cel": cel(RNG.integers(0, 256, (6, 10), dtype=np.uint8).tolist(), [(1, 2, 3)] * 256),
    }
    # Cut short anywhere: a clean message, or (CUT, Autodesk) a picture whose
    # missing rows are blank.
    for ext, data in files.items():
        for tenth in range(10):
            path = write(os.path.join(tmp, f"cut{tenth}.{ext}"), data[: len(data) * tenth // 10])
            rc, out, err, _ = imgdump(path)
            F.check(rc == 0 or (rc == 1 and err.startswith("error: ")), f"{ext} cut at {tenth}/10: {err}")
            if ext == "rla" and tenth > 0:
                F.check(read_error in err, f"rla cut at {tenth}/10: {err}")
    # Oversize and impossible headers are refused before anything is sized.
    big = [
        ("huge.cut", b"\xff\xff\xff\xff\0\0", invalid.format("CUT")),
        ("huge.cel", bytes.fromhex("1991ffffffff") + bytes(26), invalid.format("Autodesk")),
        ("magic.cel", b"\0" * 900, invalid.format("Autodesk")),
        ("wide.rla", rla([[(1, 2, 3, 4)] * 2], origin=(-32000, 0))[:8]
         + bytes.fromhex("83007fff83007fff") + rla([[(1, 2, 3, 4)] * 2])[16:], invalid.format("RLA")),
        ("empty.rla", rla([[(1, 2, 3, 4)] * 2])[:8] + bytes.fromhex("00050000")
         + rla([[(1, 2, 3, 4)] * 2])[12:], invalid.format("RLA")),
        ("bits16.rla", rla([[(1, 2, 3, 4)] * 2], bits=16), invalid.format("RLA")),
        ("space.rla", rla([[(1, 2, 3, 4)] * 2], space=b"rgb "),
         "Color conversion failed. Could not find a proper method."),
    ]
    for name, data, message in big:
        rc, out, err, _ = imgdump(write(os.path.join(tmp, name), data))
        F.check(rc == 1 and err.endswith(message), f"{name}: expected '{message}', got '{out}' '{err}'")
    # A row offset past the end of the file is a read error.
    data = bytearray(rla([[(1, 2, 3, 4)] * 2] * 2))
    data[740:744] = (10**6).to_bytes(4, "big")
    rc, _, err, _ = imgdump(write(os.path.join(tmp, "offset.rla"), bytes(data)))
    F.check(rc == 1 and read_error in err, f"RLA offset past the end: {err}")


def main():
    with workdir() as tmp:
        cut_cases(tmp)
        rla_cases(tmp)
        cel_cases(tmp)
        malformed(tmp)
    F.exit()


main()
