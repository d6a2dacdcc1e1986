"""finddups end to end: pictures made by ImageMagick with known
near-duplicates (the same scene resized, recompressed as JPEG, brightened,
and with one extra mark), unrelated pictures, a JPEG that fails only when it
is drawn and a file that is no picture; the list written must be exactly the
expected one at each threshold."""
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


def finddups(*args):
    r = subprocess.run([FINDDUPS, *args], capture_output=True, check=True)
    return r.stdout.decode("utf-8"), r.stderr.decode("utf-8")


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
        # t = 1: only pictures with the same fingerprint; the pair of
        # unreadable files is at distance 0 as well.
        out, _ = finddups(d, "1")
        ok &= check("flat, t=1", out, head +
                    "broken.jpg,garbage.bmp,,\r\n"
                    "scene.bmp,scene_bright.bmp,scene_q30.jpg,scene_small.jpg\r\n")
        # t = 10 takes the marked scene too, but not the mirror image.
        out, _ = finddups(d + "/", "10")
        ok &= check("flat, t=10", out, head +
                    "broken.jpg,garbage.bmp,,,\r\n"
                    "scene.bmp,scene_bright.bmp,scene_marked.bmp,scene_q30.jpg,scene_small.jpg\r\n")
        out, _ = finddups(d, "10", "--recursive")
        ok &= check("recursive, t=10", out, head +
                    "/broken.jpg,/garbage.bmp,,,,\r\n"
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
    r = subprocess.run([FINDDUPS, "/tmp", "x"], capture_output=True)
    ok &= check("bad threshold", (r.returncode, r.stderr), (1, b"error: EConvertError: 'x' is not a valid integer value\n"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
