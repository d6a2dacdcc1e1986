#!/usr/bin/python3
"""Checks the colour manager's tables and row conversions against an
independent computation of the same formulas with numpy: single precision as
float32, extended precision as longdouble, halves rounded to even by rint.

usage: color_formulas.py COLORDUMP
"""
import subprocess
import sys

import numpy as np

L = np.longdouble
F = np.float32
DUMP = sys.argv[1]
RNG = np.random.default_rng(20240611)
FAILURES = []

# Scheme numbers and option bits as the colour manager defines them.
INDEXED, GREY, GREYA, RGB, RGBA, BGR, BGRA, CMY, CMYK, LAB, YCBCR, PHOTOYCC = range(1, 13)
ALPHA, GAMMA, SWAP16, LAB255, LAB128 = 1, 2, 4, 8, 16


def check(name, got, want):
    got = np.asarray(got, dtype=np.int64)
    want = np.asarray(want, dtype=np.int64)
    if got.shape != want.shape:
        FAILURES.append(f"{name}: shape {got.shape} != {want.shape}")
        return
    bad = np.nonzero(got != want)[0]
    if bad.size:
        i = bad[0]
        FAILURES.append(f"{name}: {bad.size} differences, first at {i}: got {got[i]}, want {want[i]}")


def run(*args, data=b""):
    result = subprocess.run([DUMP, *map(str, args)], input=data, capture_output=True, check=False)
    if result.returncode != 0:
        raise SystemExit(f"colordump {' '.join(map(str, args))} failed: {result.stderr.decode()}")
    return result.stdout


def convert(data, out, **settings):
    args = [f"{k}={v}" for k, v in settings.items()] + [f"out={out}"]
    return np.frombuffer(run("convert", *args, data=bytes(data)), dtype=np.uint8)


def words(buffer, swap=False):
    """16-bit samples of a byte buffer, low byte first (high first with swap)."""
    b = np.asarray(buffer, dtype=np.uint16)
    return (b[0::2] << 8 | b[1::2]) if swap else (b[0::2] | b[1::2] << 8)


def word_bytes(values, swap=False):
    v = np.asarray(values, dtype=np.uint16)
    return v.astype(">u2" if swap else "<u2").tobytes()


def muldiv16(x, y, z):
    return (np.asarray(x, dtype=np.uint32) * np.uint32(y) // np.uint32(z)).astype(np.int64)


def clamp_byte(v):
    return np.clip(v, 0, 255)


# ---- Gamma tables ------------------------------------------------------------

def gamma_table(image, screen, sb, tb, previous):
    image = F(image) if F(image) > 0 else F(1.0)
    screen = F(screen) if F(screen) > 0 else F(2.2)
    e = F(L(1) / (L(image) * L(screen)))
    m = 255 if tb >= 8 else 2 ** tb - 1
    n = 255 if sb >= 8 else min(2 ** tb - 1, 255)
    table = list(previous)
    for i in range(n + 1):
        table[i] = int(np.rint((L(i) / L(n)) ** L(e) * L(m)))
    return table


def check_gamma():
    default = gamma_table(1.0, 2.2, 8, 8, [0] * 256)
    # Gammas that readers pass: PNG gAMA / 100000 with 2.2, RLA gamma fields.
    for image, screen in [("1.0", "2.2"), ("0.45455", "2.2"), ("0.45454", "2.2"), ("0.5", "2.2"),
                          ("0.55555", "2.2"), ("1.7", "2.2"), ("2.2", "2.2"), ("0.01", "2.2"), ("0", "0")]:
        for sb, tb in [(8, 8), (16, 8), (4, 4), (2, 4), (1, 1), (4, 8), (1, 8), (8, 4)]:
            got = [int(v) for v in run("gamma", image, screen, sb, tb).split()]
            check(f"gamma {image} {screen} {sb}/{tb}", got, gamma_table(float(image), float(screen), sb, tb, default))


# ---- Chroma tables -----------------------------------------------------------

def chroma_tables(weights, photo):
    kr, kg, kb = (F(w) for w in weights)
    k1 = F(2) - F(2) * kr
    g1 = kr * k1 / kg
    k2 = F(2) - F(2) * kb
    g2 = kb * k2 / kg
    i = np.arange(256)
    cr = (i - (137 if photo else 128)).astype(L)
    cb = (i - (156 if photo else 128)).astype(L)
    return [np.rint(cr * L(k1)), np.rint(cb * L(k2)), -np.rint(cr * L(g1)), -np.rint(cb * L(g2))]


WEIGHTS = [("0.299", "0.587", "0.114"), ("0.2125", "0.7154", "0.0721"), ("0.2126", "0.7152", "0.0722"),
           ("0.3", "0.59", "0.11")]


def check_chroma_tables():
    for weights in WEIGHTS:
        for scheme in (YCBCR, PHOTOYCC):
            lines = run("chroma", scheme, *weights).decode().splitlines()
            want = chroma_tables(weights, scheme == PHOTOYCC)
            for name, line, table in zip(("CrToRed", "CbToBlue", "CrToGreen", "CbToGreen"), lines, want):
                check(f"{name} {scheme} {weights}", [int(v) for v in line.split()], table)
    check("CbToBlue[3]", [int(run("chroma", YCBCR, *WEIGHTS[0]).split(b"\n")[1].split()[3])], [-221])


def chroma_rgb(y, cb, cr, weights, photo):
    red, blue, crg, cbg = (t.astype(np.int64) for t in chroma_tables(weights, photo))
    return (clamp_byte(y + red[cr]), clamp_byte(y + cbg[cb] + crg[cr]), clamp_byte(y + blue[cb]))


def check_chroma_rows():
    cb, cr = np.meshgrid(np.arange(256), np.arange(256), indexing="ij")
    cb, cr = cb.ravel(), cr.ravel()
    for scheme in (YCBCR, PHOTOYCC):
        for weights in WEIGHTS[:2]:
            for yv in (0, 16, 100, 128, 235, 255):
                y = np.full(cb.size, yv)
                r, g, b = chroma_rgb(y, cb, cr, weights, scheme == PHOTOYCC)
                data = np.stack([y, cb, cr], axis=1).astype(np.uint8).tobytes()
                out = convert(data, 3 * cb.size, src=scheme, tgt=BGR, count=cb.size, weights=",".join(weights))
                check(f"chroma row {scheme} {weights} Y={yv}", out, np.stack([b, g, r], axis=1).ravel())
        # 16-bit samples with arbitrary low bytes reduce to the same bytes.
        for swap in (False, True):
            y8 = RNG.integers(0, 256, cb.size)
            wide = np.minimum(np.stack([y8, cb, cr], axis=1) * 257 + RNG.integers(0, 257, (cb.size, 3)), 65535)
            r, g, b = chroma_rgb(y8, cb, cr, WEIGHTS[0], scheme == PHOTOYCC)
            out = convert(word_bytes(wide.ravel(), swap), 3 * cb.size, src=scheme, tgt=RGB, sb=16,
                          sflags=SWAP16 if swap else 0, count=cb.size)
            check(f"chroma row 16-bit {scheme} swap={swap}", out, np.stack([r, g, b], axis=1).ravel())


# ---- CMYK --------------------------------------------------------------------

def check_cmyk():
    x, k = np.meshgrid(np.arange(256), np.arange(256), indexing="ij")
    x, k = x.ravel(), k.ravel()
    inks = [x, (x + 85) % 256, (x + 170) % 256]
    colours = [clamp_byte(255 - ink - k + muldiv16(ink, k, 255)) for ink in inks]
    data = np.stack(inks + [k], axis=1).astype(np.uint8).tobytes()
    out = convert(data, 3 * x.size, src=CMYK, tgt=RGB, count=x.size)
    check("cmyk 8->8", out, np.stack(colours, axis=1).ravel())
    out = convert(data, 6 * x.size, src=CMYK, tgt=BGR, tb=16, count=x.size)
    check("cmyk 8->16", words(out), np.stack(colours[::-1], axis=1).ravel() * 257)

    n = 200000
    wide = RNG.integers(0, 65536, (n, 4))
    wide[:1000, 3] = 65535
    wide[1000:2000, :3] = 65535
    kk = wide[:, 3]
    cover = [(wide[:, c] - muldiv16(wide[:, c], kk, 65535) + kk) & 0xFFFF for c in range(3)]
    for swap in (False, True):
        data = word_bytes(wide.ravel(), swap)
        flags = SWAP16 if swap else 0
        out = convert(data, 3 * n, src=CMYK, tgt=RGB, sb=16, sflags=flags, count=n)
        want = [clamp_byte(255 - muldiv16(c, 255, 65535)) for c in cover]
        check(f"cmyk 16->8 swap={swap}", out, np.stack(want, axis=1).ravel())
        out = convert(data, 6 * n, src=CMYK, tgt=RGB, sb=16, tb=16, sflags=flags, count=n)
        check(f"cmyk 16->16 swap={swap}", words(out), np.stack([65535 - c for c in cover], axis=1).ravel())


# ---- 16 to 8 bits --------------------------------------------------------------

def check_sixteen_to_eight():
    v = np.arange(65536)
    samples = np.stack([v, v[::-1], v ^ 0x5A5A], axis=1)
    scaled = muldiv16(samples, 255, 65535)
    default = np.array(gamma_table(1.0, 2.2, 8, 8, [0] * 256))
    for swap in (False, True):
        data = word_bytes(samples.ravel(), swap)
        flags = SWAP16 if swap else 0
        out = convert(data, 3 * v.size, src=RGB, tgt=BGR, sb=16, sflags=flags, count=v.size)
        check(f"rgb 16->8 swap={swap}", out, scaled[:, ::-1].ravel())
        out = convert(data, 3 * v.size, src=RGB, tgt=RGB, sb=16, sflags=flags, tflags=GAMMA, count=v.size)
        check(f"rgb 16->8 gamma swap={swap}", out, default[scaled].ravel())
        out = convert(word_bytes(v, swap), v.size, src=GREY, tgt=GREY, sb=16, sflags=flags, count=v.size)
        check(f"grey 16->8 swap={swap}", out, muldiv16(v, 255, 65535))


# ---- Packed indices --------------------------------------------------------------

def unpack(data, bits, count):
    stream = np.unpackbits(np.frombuffer(bytes(data), dtype=np.uint8))
    fields = stream[: count * bits].reshape(count, bits)
    return fields @ (1 << np.arange(bits - 1, -1, -1))


def packed_reference(source, s, d, count, mask, fill):
    """The mask walk over packed rows, bit by bit."""
    target = np.unpackbits(np.full((count * d + 7) // 8, fill, dtype=np.uint8))
    values = unpack(source, s, min(count, len(source) * 8 // s))
    taken = 0
    for i in range(count):
        if mask & (0x80 >> (i % 8)):
            v = int(values[taken]) * (2 ** d - 1) // (2 ** s - 1)
            taken += 1
            target[i * d:(i + 1) * d] = [(v >> (d - 1 - j)) & 1 for j in range(d)]
    return np.packbits(target)


def check_packed():
    source = bytes(range(256))
    for s in (1, 2, 4, 8):
        for d in (1, 2, 4, 8):
            count = 256 * 8 // s
            values = unpack(source, s, count) * (2 ** d - 1) // (2 ** s - 1)
            stream = ((values[:, None] >> np.arange(d - 1, -1, -1)) & 1).astype(np.uint8).ravel()
            out = convert(source, count * d // 8, src=INDEXED, tgt=INDEXED, sb=s, tb=d, count=count)
            check(f"packed {s}->{d}", out, np.packbits(stream))
            # Masks of the interlaced passes over odd counts.
            for mask in (0x80, 0x08, 0x88, 0x22, 0xAA, 0x55):
                count = 61
                selected = sum(1 for i in range(count) if mask & (0x80 >> (i % 8)))
                src = RNG.integers(0, 256, (selected * s + 7) // 8).astype(np.uint8).tobytes()
                out = convert(src, (count * d + 7) // 8, src=GREY, tgt=GREY, sb=s, tb=d, count=count, mask=mask,
                              fill=0x5C)
                check(f"packed {s}->{d} mask {mask:#x}", out, packed_reference(src, s, d, count, mask, 0x5C))
        # Fewer bits to 16 and back.
        count = 256 * 8 // s
        out = convert(source, 2 * count, src=INDEXED, tgt=INDEXED, sb=s, tb=16, count=count)
        check(f"packed {s}->16", words(out), unpack(source, s, count) * 65535 // (2 ** s - 1))
        v = np.arange(65536)
        out = convert(word_bytes(v), (65536 * s + 7) // 8, src=INDEXED, tgt=INDEXED, sb=16, tb=s, count=65536)
        scaled = muldiv16(v, 2 ** s - 1, 65535)
        stream = ((scaled[:, None] >> np.arange(s - 1, -1, -1)) & 1).astype(np.uint8).ravel()
        check(f"packed 16->{s}", out, np.packbits(stream))


# ---- L*a*b* ------------------------------------------------------------------------

def lab_rgb(l, a, b):
    t = (l + L(16)) / L(116)
    small = l < L("7.9996")
    ys = l / L("903.3")
    xs = ys + a / L("3893.5")
    zs = ys - b / L("1557.4")
    tx = t + a / L(500)
    tz = t - b / L(200)
    x = np.where(small, xs, tx * tx * tx)
    y = np.where(small, ys, t * t * t)
    z = np.where(small, zs, tz * tz * tz)
    red = L("2.998") * x - L("1.458") * y - L("0.541") * z
    green = -L("0.952") * x + L("1.893") * y + L("0.059") * z
    blue = L("0.099") * x - L("0.198") * y + L("1.099") * z
    return [np.clip(np.rint(c * L(255)), 0, 255).astype(np.int64) for c in (red, green, blue)]


def check_lab():
    grid = np.arange(0, 256, 17)
    l, a, b = np.meshgrid(np.arange(256), grid, grid, indexing="ij")
    l, a, b = l.ravel(), a.ravel(), b.ravel()
    data = np.stack([l, a, b], axis=1).astype(np.uint8).tobytes()
    for flags in (0, LAB255 | LAB128, LAB128, LAB255):
        ll = l.astype(L) / L("2.55") if flags & LAB255 else l.astype(L)
        aa = (a - 128 if flags & LAB128 else a.astype(np.uint8).view(np.int8)).astype(L)
        bb = (b - 128 if flags & LAB128 else b.astype(np.uint8).view(np.int8)).astype(L)
        r, g, bl = lab_rgb(ll, aa, bb)
        out = convert(data, 3 * l.size, src=LAB, tgt=BGR, sflags=flags, count=l.size)
        check(f"lab flags={flags}", out, np.stack([bl, g, r], axis=1).ravel())
    # 16-bit L* on either side of 7.9996 (with and without the 0..255 scale).
    for flags, lows in ((LAB255 | LAB128, np.arange(5200, 5290)), (LAB128, np.arange(2030, 2080))):
        lw, aw, bw = np.meshgrid(lows, np.arange(0, 65536, 4099), np.arange(0, 65536, 4099), indexing="ij")
        lw, aw, bw = lw.ravel(), aw.ravel(), bw.ravel()
        ll = lw.astype(L) / L(257)
        if flags & LAB255:
            ll = ll / L("2.55")
        assert (ll < L("7.9996")).any() and (ll >= L("7.9996")).any()
        r, g, bl = lab_rgb(ll, (aw.astype(L) - 32768) / L(256), (bw.astype(L) - 32768) / L(256))
        for swap in (False, True):
            data = word_bytes(np.stack([lw, aw, bw], axis=1).ravel(), swap)
            out = convert(data, 3 * lw.size, src=LAB, tgt=RGB, sb=16, sflags=flags | (SWAP16 if swap else 0),
                          count=lw.size)
            check(f"lab 16-bit flags={flags} swap={swap}", out, np.stack([r, g, bl], axis=1).ravel())


def main():
    for step in (check_gamma, check_chroma_tables, check_chroma_rows, check_cmyk, check_sixteen_to_eight,
                 check_packed, check_lab):
        step()
    for failure in FAILURES:
        print("FAIL", failure)
    if FAILURES:
        sys.exit(1)
    print("all formula checks passed")


main()
