"""The GIF reader through imgdump, on files made at run time.

gifbuild writes files from text (global and local tables, interlace,
extensions with unknown labels, several images), ImageMagick, Pillow and
pamtogif write more; giftopnm decodes the first image of each for
reference. Hand-made files cover what no encoder writes: image data cut
short, descriptors of size 0, a trailer before any image, malformed
headers and files cut at every tenth of their length.
"""
import os
import random
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from imgtest import Failures, imgdump, max_diff, read_image, run, sh, workdir  # noqa: E402
from gif_files import gif_file  # noqa: E402

F = Failures()
INVALID = "error: EInvalidGraphic: Cannot load image. Invalid or unexpected GIF image format."
READ = "error: EReadError: Stream read error"


def against_giftopnm(d, name):
    path = os.path.join(d, name)
    sh(f"giftopnm {name} > {name}.ref.ppm 2>/dev/null", cwd=d)
    rc, out, err, px = imgdump(path, path + ".ppm")
    ref = read_image(path + ".ref.ppm")
    F.check(rc == 0 and out.endswith(f"{ref.shape[1]}x{ref.shape[0]} pl8Bit"), f"{name}: {out} {err}")
    F.check(max_diff(px, ref) == 0, f"{name}: pixels differ from giftopnm ({max_diff(px, ref)})")


def expect_pixels(d, name, data, expected):
    path = os.path.join(d, name)
    with open(path, "wb") as f:
        f.write(data)
    rc, out, err, px = imgdump(path, path + ".ppm")
    F.check(rc == 0, f"{name}: {err}")
    F.check(max_diff(px, np.asarray(expected, dtype=np.int16)) == 0, f"{name}: pixels differ")


def expect_output(d, name, data, summary=None, error=None):
    path = os.path.join(d, name)
    with open(path, "wb") as f:
        f.write(data)
    rc, out, err, _ = imgdump(path)
    if error:
        F.check(rc == 1 and err == error, f"{name}: expected {error!r}, got rc {rc} {out!r} {err!r}")
    else:
        F.check(rc == 0 and out == summary, f"{name}: expected {summary!r}, got {out!r} {err!r}")


GIFBUILD = """screen width {sw}
screen height {sh}
screen map
\trgb 255 000 000 is r
\trgb 000 000 255 is b
\trgb 000 255 000 is g
\trgb 255 255 255 is w
end
{before}
image
image left {left}
image top {top}
{interlaced}
{local}
image bits 6 by 9
rbgwrb
bbbbbb
gwgwgw
rrrrrr
wwwbbb
rgbwrg
bwbwbw
grgrgr
wbwrrr
image
image bits 2 by 2
ww
ww
"""
LOCAL = """image map
\trgb 010 020 030 is r
\trgb 040 050 060 is b
\trgb 070 080 090 is g
\trgb 100 110 120 is w
\trgb 200 200 200 is x
end"""
EXTENSIONS = """comment
hello, world;
end
extension 99
,,,;;;!!!,
end
plaintext
\\014\\000\\000\\000\\000\\010\\000\\010\\000\\010\\010\\001\\000
text, with a comma
end
graphics control
\tdisposal mode 0
\tuser input flag off
\tdelay 0
\ttransparent index 2
end"""


def gifbuild_set(d):
    variants = {
        "plain": {},
        "interlaced": {"interlaced": "image interlaced"},
        "local": {"local": LOCAL},
        "local-interlaced": {"local": LOCAL, "interlaced": "image interlaced"},
        "extensions": {"before": EXTENSIONS},
        "placed": {"sw": 40, "sh": 30, "left": 10, "top": 20, "before": EXTENSIONS},
    }
    for name, v in variants.items():
        text = GIFBUILD.format(**{"sw": 6, "sh": 9, "left": 0, "top": 0, "before": "", "interlaced": "", "local": "",
                                  **v})
        with open(os.path.join(d, name + ".txt"), "w") as f:
            f.write(text)
        sh(f"gifbuild {name}.txt > gb-{name}.gif", cwd=d)
        against_giftopnm(d, f"gb-{name}.gif")


def tool_set(d):
    rng = np.random.default_rng(5)
    sh("convert -size 97x61 plasma:fractal -seed 2 photo.ppm", cwd=d)
    noise = rng.integers(0, 256, (53, 71, 3), dtype=np.uint8)
    Image.fromarray(noise).save(os.path.join(d, "noise.ppm"))
    made = {
        "im-2.gif": "convert photo.ppm -colors 2 im-2.gif",
        "im-16.gif": "convert photo.ppm -colors 16 im-16.gif",
        "im-256.gif": "convert noise.ppm -colors 256 im-256.gif",
        "im-interlaced.gif": "convert photo.ppm -colors 64 -interlace GIF im-interlaced.gif",
        "im-page.gif": "convert photo.ppm -colors 32 -page 200x150+10+20 im-page.gif",
        "im-frames.gif": "convert photo.ppm noise.ppm -colors 100 im-frames.gif",
        "im-1xN.gif": "convert photo.ppm -crop 1x61+5+0 -colors 8 im-1xN.gif",
        "pamtogif.gif": "pnmquant 200 photo.ppm 2>/dev/null | pamtogif > pamtogif.gif",
        "pamtogif-interlaced.gif": "pnmquant 77 noise.ppm 2>/dev/null | pamtogif -interlace > pamtogif-interlaced.gif",
    }
    for name, cmd in made.items():
        sh(cmd.replace("convert ", "convert-im6.q16 "), cwd=d)
        against_giftopnm(d, name)
    Image.open(os.path.join(d, "photo.ppm")).quantize(90).save(os.path.join(d, "pil-p.gif"))
    Image.open(os.path.join(d, "noise.ppm")).convert("L").save(os.path.join(d, "pil-l.gif"))
    Image.open(os.path.join(d, "photo.ppm")).quantize(30).save(os.path.join(d, "pil-interlaced.gif"), interlace=True)
    for name in ("pil-p.gif", "pil-l.gif", "pil-interlaced.gif"):
        against_giftopnm(d, name)


PALETTE = [(255, 0, 0), (0, 0, 255), (0, 255, 0), (255, 255, 255)]


def render(rows, palette):
    return [[palette[v] for v in row] for row in rows]


def hand_made(d):
    rnd = random.Random(7)
    rows = [[rnd.randrange(4) for _ in range(8)] for _ in range(8)]
    # Each 9 bytes of this coding hold 16 pixels: cut there, the last six
    # rows are never reached and take index 0.
    full = gif_file(8, 8, rows, PALETTE)
    expect_pixels(d, "whole.gif", full, render(rows, PALETTE))
    from gif_files import lzw_codes
    cut = lzw_codes([v for r in rows for v in r], 2)[:9]
    expect_pixels(d, "lzw-cut.gif", gif_file(8, 8, rows, PALETTE, data=cut),
                  render(rows[:2] + [[0] * 8] * 6, PALETTE))
    expect_pixels(d, "lzw-none.gif", gif_file(8, 8, rows, PALETTE, data=b""), render([[0] * 8] * 8, PALETTE))
    # Sub-blocks that stop early: what was gathered is decoded.
    expect_pixels(d, "blocks-cut.gif", full[:46], render(rows[:2] + [[0] * 8] * 6, PALETTE))
    # A descriptor of size 0 takes the logical screen's.
    expect_pixels(d, "descriptor-0.gif", gif_file(8, 8, rows, PALETTE, descriptor_size=(0, 0)), render(rows, PALETTE))
    expect_output(d, "all-0.gif", gif_file(0, 0, [], PALETTE), "TGIFGraphic 0x0 pl8Bit")
    expect_output(d, "trailer-first.gif", full[: 13 + 12] + b";", "TGIFGraphic 0x0 pl8Bit")
    expect_output(d, "lower-case.gif", b"gif" + full[3:], "TGIFGraphic 8x8 pl8Bit")
    expect_output(d, "signature.gif", b"GIT" + full[3:], error=INVALID)
    expect_output(d, "version.gif", b"GIFx9a" + full[6:], error="error: EConvertError: 'x9' is not a valid integer value")
    expect_output(d, "huge.gif", gif_file(8, 8, rows, PALETTE, screen=(65535, 65535), descriptor_size=(0, 0)),
                  error=INVALID)
    expect_output(d, "stray-bytes.gif", full[:25] + b"\x00\x07" + full[25:], "TGIFGraphic 8x8 pl8Bit")
    junk = bytes(b for b in range(256) if b not in b"!,;") * 40
    expect_pixels(d, "junk.gif", full[:25] + junk + full[25:], render(rows, PALETTE))
    expect_output(d, "junk-to-end.gif", full[:25] + junk, error=READ)
    expect_output(d, "extension-cut.gif", full[:25] + b"!\x99\x05ab", error=READ)
    expect_output(d, "no-trailer.gif", full[:25], error=READ)
    expect_output(d, "table-cut.gif", full[:20], error=READ)
    # Extensions and stray bytes by the ten thousand, with separators inside
    # the extensions' data: sub-blocks and stray bytes fall across the edges
    # of the blocks the reader walks them in, at many offsets.
    control = b"!\xf9\x04\x01\x00\x00\x02\x00"
    comment = b"!\xfe" + b"".join(bytes([n]) + (b",;!" * 85)[:n] for n in range(1, 256)) + b"\x00"
    many = (control * 9000 + comment + junk * 3 + control * 7 + comment) * 4
    expect_pixels(d, "many-extensions.gif", full[:25] + many + full[25:], render(rows, PALETTE))
    expect_output(d, "many-extensions-cut.gif", full[:25] + many + comment[:70000 % len(comment)], error=READ)
    expect_output(d, "many-then-junk.gif", full[:25] + many + junk * 10, error=READ)
    # Padding behind the image data costs no memory: the sub-blocks are read
    # only as far as the picture can need them.
    padded = full[:-1] + b"".join(b"\xff" + b"\x00" * 255 for _ in range(400)) + b"\x00;"
    expect_pixels(d, "padded.gif", padded, render(rows, PALETTE))


def truncations(d):
    """Every tenth of a few files: a picture or the stream's read error."""
    for name in ("gb-extensions.gif", "im-interlaced.gif", "pamtogif.gif"):
        data = open(os.path.join(d, name), "rb").read()
        for tenth in range(1, 10):
            path = os.path.join(d, f"cut{tenth}-{name}")
            with open(path, "wb") as f:
                f.write(data[: len(data) * tenth // 10])
            rc, out, err = run([os.environ["IMGDUMP"], path, path + ".ppm"])
            F.check((rc == 0 and out.startswith("TGIFGraphic")) or (rc == 1 and err.strip() == READ),
                    f"cut {tenth}/10 of {name}: rc {rc} {out!r} {err!r}")


def twins(d):
    """A GIF file has the fingerprint of its BMP twin."""
    sh("convert-im6.q16 -size 320x240 xc:#C8C8C8 -fill '#1E1E1E' -draw 'rectangle 40,60 119,179' "
       "-type TrueColor BMP3:scene.bmp && convert-im6.q16 scene.bmp scene.gif && "
       "convert-im6.q16 scene.bmp -interlace GIF scene-i.gif", cwd=d)
    rc, out, err = run([os.environ["IMGDUMP"], "--fingerprint", "scene.bmp", "scene.gif", "scene-i.gif"], cwd=d)
    prints = {line.split()[4]: line.split()[:4] for line in out.splitlines()}
    F.check(len(prints) == 3 and prints["scene.gif"] == prints["scene.bmp"] == prints["scene-i.gif"],
            f"fingerprints differ: {out}")


def main():
    with workdir() as d:
        gifbuild_set(d)
        tool_set(d)
        hand_made(d)
        truncations(d)
        twins(d)
    F.exit()


main()
