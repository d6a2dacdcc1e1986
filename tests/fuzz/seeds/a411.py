"""Fuzz seeds: .411 thumbnails of full, short and long lengths."""
import os
import random
import sys

out = sys.argv[1]
rnd = random.Random(109)


def save(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


full = bytes(rnd.randrange(256) for _ in range(4608))
save("full.411", full)
save("grey.411", bytes([16, 16, 16, 16, 128, 128]) * 768)
save("short.411", full[:461])
save("long.411", full + bytes(rnd.randrange(256) for _ in range(700)))
save("empty.411", b"")
