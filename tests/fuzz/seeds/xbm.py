"""Fuzz seeds: small X Bitmap files, valid and edge cases."""
import os
import random
import sys

out = sys.argv[1]
rnd = random.Random(110)


def xbm(width, height, values, eol="\n", name="a"):
    lines = [f"#define {name}_width {width}", f"#define {name}_height {height}",
             f"static unsigned char {name}_bits[] = {{"]
    for i in range(0, len(values), 12):
        lines.append("   " + ", ".join(f"0x{v:02x}" for v in values[i:i + 12]) + ",")
    lines.append("};")
    return (eol.join(lines) + eol).encode()


def save(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


save("plain.xbm", xbm(16, 8, [rnd.randrange(256) for _ in range(16)]))
save("odd_crlf.xbm", xbm(13, 5, [rnd.randrange(256) for _ in range(10)], eol="\r\n"))
save("lone_cr.xbm", xbm(9, 3, [rnd.randrange(256) for _ in range(6)], eol="\r"))
save("short.xbm", xbm(40, 20, [0xAA] * 7))
save("one_digit.xbm", b"#define a_width 8\n#define a_height 2\nchar a_bits[] = { 0x1\n0xF };\n")
save("zero_width.xbm", xbm(0, 4, [0]))
save("negative.xbm", xbm(8, -2, [0]))
save("bad_hex.xbm", b"#define a_width 8\n#define a_height 2\n0x00 a_bits[] = { 0xq1 };\n")
