"""finddups end to end: pictures made by ImageMagick with known
near-duplicates (the same scene resized, recompressed as JPEG, brightened,
and with one extra mark), unrelated pictures, a JPEG that fails only when it
is drawn and a file that is no picture; the list written must be exactly the
expected one at each threshold. Unreadable files are in no row."""
import os
import shutil
import subprocess
import sys
import tempfile

FINDDUPS = sys.argv[1]
HEADER = "KVL- Tolvane Duplicates List\r\nDirectory={}\r\n"

# A JPEG whose header reads but whose quantisation table is never defined.
BROKEN_JPEG = bytes.fromhex("ffd8ffc0000b080008000801011100ffda000801010000 3f001234ffd9".replace(" ", ""))


def convert(*args):
    subprocess.run(["convert", *args], check=True)


def make_pictures(d):
    # Edges lie on the 16 x 8 cells of the fingerprint (20 x 30 pixels), so
    # resizing and recompressing cannot move a cell across the mean.
    scene = os.path.join(d, "scene.bmp")
    convert("-size", "320x240", "xc:#C8C8C8", "-fill", "#1E1E1E",
            "-draw", "rectangle 40,60 119,179", "-draw", "rectangle 200,30 279,89", "-type", "TrueColor",
            "BMP3:" + scene)
    convert(scene, "-resize", "160x120", "-quality", "85", os.path.join(d, "scene_small.jpg"))
    convert(scene, "-quality", "30", os.path.join(d, "scene_q30.jpg"))
    convert(scene, "-modulate", "108", "BMP3:" + os.path.join(d, "scene_bright.bmp"))
    # One more dark cell: 1 bit away from the scene.
    convert(scene, "-fill", "#1E1E1E", "-draw", "rectangle 300,210 319,239",
            "BMP3:" + os.path.join(d, "scene_marked.bmp"))
    convert(scene, "-flop", "BMP3:" + os.path.join(d, "mirror.bmp"))
    convert("-size", "240x320", "gradient:black-white", "-rotate", "90", os.path.join(d, "ramp.jpg"))
    convert("-size", "320x240", "pattern:checkerboard", "-scale", "400%", "-crop", "320x240+0+0",
            "-type", "TrueColor", "BMP3:" + os.path.join(d, "bars.bmp"))
    with open(os.path.join(d, "broken.jpg"), "wb") as f:
        f.write(BROKEN_JPEG)
    with open(os.path.join(d, "garbage.bmp"), "wb") as f:
        f.write(b"BM not a bitmap")
    with open(os.path.join(d, "notes.txt"), "w") as f:
        f.write("not listed")
    os.mkdir(os.path.join(d, "sub"))
    shutil.copy(scene, os.path.join(d, "sub", "scene copy.bmp"))
    os.mkdir(os.path.join(d, ".hidden"))
    shutil.copy(scene, os.path.join(d, ".hidden", "scene.bmp"))


def run_finddups(*args):
    r = subprocess.run([FINDDUPS, *args], capture_output=True, check=True)
    return r.stdout.decode("utf-8"), r.stderr.decode("utf-8")


class JobsDiffer(Exception):
    pass


def finddups(*args):
    """Runs the search on every core, and checks that one thread and three
    threads write exactly the same list and messages."""
    out, err = run_finddups(*args)
    for jobs in ("1", "3"):
        other = run_finddups(*args, "--jobs", jobs)
        if other != (out, err):
            raise JobsDiffer(f"{args} --jobs {jobs}:\n {other!r}\n all cores: {(out, err)!r}")
    return out, err


def make_mixed(d):
    """Several hundred small pictures in the formats the finder reads, the
    same scenes in several formats and sizes, with truncated copies among
    them: workers finish files out of order, fail on some, and the list
    must still be the one-thread list."""
    import random
    from PIL import Image, ImageDraw
    rng = random.Random(24)
    forms = [("bmp", "BMP"), ("jpg", "JPEG"), ("png", "PNG"), ("ppm", "PPM"), ("pcx", "PCX"),
             ("tga", "TGA"), ("gif", "GIF"), ("tif", "TIFF"), ("sgi", "SGI"), ("ico", "ICO"), ("jp2", "JPEG2000"), ("xbm", "XBM")]
    n = 0
    for scene in range(40):
        w, h = rng.randint(16, 96), rng.randint(8, 64)
        base = Image.new("RGB", (w, h), tuple(rng.randrange(256) for _ in range(3)))
        draw = ImageDraw.Draw(base)
        for _ in range(4):
            x0, y0 = rng.randrange(w), rng.randrange(h)
            draw.rectangle([x0, y0, x0 + rng.randint(2, w), y0 + rng.randint(2, h)],
                           fill=tuple(rng.randrange(256) for _ in range(3)))
        for ext, kind in rng.sample(forms, 6):
            picture = base if rng.random() < 0.6 else base.resize((w * 2, h * 2))
            if kind == "XBM":
                picture = picture.convert("1")
            elif kind in ("GIF", "PCX") or (kind == "PNG" and rng.random() < 0.3):
                picture = picture.convert("P")
            name = os.path.join(d, f"{n:04d}_{scene}.{ext}")
            picture.save(name, kind)
            n += 1
            if rng.random() < 0.08:
                with open(name, "rb") as f:
                    data = f.read()
                with open(name, "r+b") as f:
                    f.truncate(max(1, len(data) * rng.randint(1, 9) // 10))
    # JPEG strips cut short: their decoder warns, and the warnings must
    # come out once per strip and in list order, whichever thread decodes.
    import struct
    for i in range(4):
        name = os.path.join(d, f"{i * 60 + 3:04d}_short.tif")
        Image.new("RGB", (64, 48), (40 * i, 90, 200)).save(name, "TIFF", compression="jpeg", rowsperstrip=16)
        with open(name, "r+b") as f:
            data = bytearray(f.read())
            ifd = struct.unpack_from("<I", data, 4)[0]
            for k in range(struct.unpack_from("<H", data, ifd)[0]):
                tag, kind, count, value = struct.unpack_from("<HHII", data, ifd + 2 + 12 * k)
                if tag == 279:  # strip byte counts
                    size = 2 if kind == 3 else 4
                    at = value if count * size > 4 else ifd + 2 + 12 * k + 8
                    for j in range(count):
                        struct.pack_into("<H" if size == 2 else "<I", data, at + size * j, 40)
            f.seek(0)
            f.write(data)
    os.mkdir(os.path.join(d, "deeper"))
    for i in range(20):
        Image.new("L", (24, 12), i * 12).save(os.path.join(d, "deeper", f"grey{i}.pgm"))


def make_unreadable(d):
    """Empty and damaged PNG, GIF and JPEG files, a flat grey picture (all
    its bits set, as an empty .411 file would load) and one true pair."""
    convert("-size", "64x48", "xc:#808080", os.path.join(d, "grey.png"))
    convert("-size", "64x48", "xc:white", "-fill", "black", "-draw", "rectangle 0,0 31,47", "-type", "TrueColor",
            "BMP3:" + os.path.join(d, "pair.bmp"))
    convert(os.path.join(d, "pair.bmp"), os.path.join(d, "pair.png"))
    convert(os.path.join(d, "grey.png"), os.path.join(d, "whole.gif"))
    for ext in ("png", "gif", "jpg", "411"):
        open(os.path.join(d, "empty." + ext), "wb").close()
    for source, cut in (("grey.png", 30), ("whole.gif", 12)):
        with open(os.path.join(d, source), "rb") as f:
            data = f.read()
        with open(os.path.join(d, "damaged." + source.split(".")[1]), "wb") as f:
            f.write(data[:cut])
    os.remove(os.path.join(d, "whole.gif"))
    with open(os.path.join(d, "damaged.jpg"), "wb") as f:
        f.write(BROKEN_JPEG)


def check(label, got, expected):
    if got != expected:
        print(f"{label}:\n got      {got!r}\n expected {expected!r}")
        return False
    return True


def main():
    ok = True
    with tempfile.TemporaryDirectory() as d:
        make_pictures(d)
        head = HEADER.format(d + "/")
        # t = 1: only pictures with the same fingerprint.
        out, _ = finddups(d, "1")
        ok &= check("flat, t=1", out, head + "scene.bmp,scene_bright.bmp,scene_q30.jpg,scene_small.jpg\r\n")
        # t = 10 takes the marked scene too, but not the mirror image.
        out, _ = finddups(d + "/", "10")
        ok &= check("flat, t=10", out, head +
                    "scene.bmp,scene_bright.bmp,scene_marked.bmp,scene_q30.jpg,scene_small.jpg\r\n")
        out, _ = finddups(d, "10", "--recursive")
        ok &= check("recursive, t=10", out, head +
                    "/scene.bmp,/scene_bright.bmp,/scene_marked.bmp,/scene_q30.jpg,/scene_small.jpg,"
                    "\"/sub/scene copy.bmp\"\r\n")
        # The low 8 bits count: 266 is 10.
        out, _ = finddups(d, "266")
        ok &= check("t=266", out.splitlines()[-1], "scene.bmp,scene_bright.bmp,scene_marked.bmp,scene_q30.jpg,scene_small.jpg")
        # t = 0: no groups; the single row left is not written.
        out, _ = finddups(d, "0")
        ok &= check("t=0", out, head)
        # One picture: the warning, and one row of one empty cell.
        sub = os.path.join(d, "sub")
        out, err = finddups(sub, "5")
        ok &= check("one picture", out, HEADER.format(sub + "/") + "\"\"\r\n")
        ok &= check("warning", err, "No image files found in the specified directory!\n")
    with tempfile.TemporaryDirectory() as d:
        make_unreadable(d)
        for t in ("1", "13", "60"):
            out, _ = finddups(d, t)
            ok &= check(f"unreadable t={t}", out, HEADER.format(d + "/") + "pair.bmp,pair.png\r\n")
    with tempfile.TemporaryDirectory() as d:
        make_mixed(d)
        for t, rest in (("1", ()), ("10", ()), ("40", ("--recursive",))):
            out, err = finddups(d, t, *rest)
            ok &= check(f"mixed t={t} has groups", out.count("\r\n") > 2, True)
            ok &= check(f"mixed t={t} warns", err.count("Unexpected end of input") >= 4, True)
    r = subprocess.run([FINDDUPS, "/tmp", "x"], capture_output=True)
    ok &= check("bad threshold", (r.returncode, r.stderr), (1, b"error: EConvertError: 'x' is not a valid integer value\n"))
    for bad in (["--jobs"], ["--jobs", "0"], ["--jobs", "two"], ["--jobs", "2", "--jobs", "2"]):
        r = subprocess.run([FINDDUPS, "/tmp", "1", *bad], capture_output=True)
        ok &= check(f"usage {bad}", r.returncode, 2)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
