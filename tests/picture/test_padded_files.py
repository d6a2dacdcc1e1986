"""A small picture padded with gigabytes costs what the small picture costs.

Each framework format (bmp, ico, jpg, wmf, emf), PNG and JPEG 2000 is loaded
and drawn by imgdump from a file padded with zeros (a sparse file, so it costs
no disk), plainly and with headers or chunks that claim the padding as their
own. The peak resident memory of each imgdump run is taken from os.wait4 and
must stay far below the padding. A build without AddressSanitizer also runs
imgdump under an RLIMIT_AS limit; the sanitizer reserves terabytes of address
space at start, so the test build relies on the measured peak alone.

    test_padded_files.py [PAD_MIB]   (default 4096)
"""
import os
import struct
import subprocess
import sys
import zlib

sys.path.insert(0, os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "support"))
from imgtest import Failures, measure, sh, workdir  # noqa: E402

F = Failures()
MIB = 1 << 20
PEAK_LIMIT_MIB = 128  # imgdump itself takes about 40 MiB under the sanitizers


def sanitized(binary):
    out = subprocess.run(["ldd", binary], capture_output=True, text=True).stdout
    return "libasan" in out


def png_chunks(data):
    """(offset, type, length) of every chunk of a PNG file."""
    at = 8
    while at < len(data):
        length, = struct.unpack_from(">I", data, at)
        yield at, data[at + 4:at + 8], length
        at += 12 + length


def zero_chunk_in(data, at, kind, length):
    """data with a chunk of `length` zero bytes (and its CRC) at offset at, as
    (head, tail) around the zeros."""
    crc, zeros, left = zlib.crc32(kind), bytes(MIB), length
    while left:
        crc = zlib.crc32(zeros if left >= MIB else zeros[:left], crc)
        left -= min(left, MIB)
    return data[:at] + struct.pack(">I", length) + kind, struct.pack(">I", crc) + data[at:]


def wmf_placeable():
    records = struct.pack("<IHhhhh", 7, 0x041B, 40, 80, 8, 8) + struct.pack("<IH", 3, 0)
    header = struct.pack("<HHHIHIH", 1, 9, 0x300, (18 + len(records)) // 2, 0, 7, 0)
    place = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, 0, 0, 96, 48, 96, 0)
    checksum = 0
    for i in range(0, 20, 2):
        checksum ^= struct.unpack_from("<H", place, i)[0]
    return place + struct.pack("<H", checksum) + header + records


def wmf_plain_claiming(total_bytes):
    records = (struct.pack("<IHhh", 5, 0x020C, 48, 96) + struct.pack("<IHhhhh", 7, 0x041B, 40, 80, 8, 8)
               + struct.pack("<IH", 3, 0))
    return struct.pack("<HHHIHIH", 1, 9, 0x300, total_bytes // 2, 0, 7, 0) + records


def emf(total_bytes=None):
    header = struct.pack("<II4i4iIIIIHH", 1, 108, 0, 0, -1, -1, 0, 0, 2540, 1270, 0x464D4520, 0x10000, 0, 3, 1, 0)
    header += struct.pack("<12I", 0, 0, 0, 960, 960, 254, 254, 0, 0, 0, 254000, 254000)
    records = struct.pack("<II4i", 43, 24, 10, 10, 60, 30) + struct.pack("<II3I", 14, 20, 0, 16, 20)
    data = bytearray(header + records)
    struct.pack_into("<I", data, 48, total_bytes or len(data))
    return bytes(data)


def wmf_long_record(record_bytes):
    """A placeable metafile whose second record, an escape, is record_bytes
    long: ((head, tail) around its zeros, their length)."""
    escape = struct.pack("<IHHH", record_bytes // 2, 0x0626, 15, 0)
    rect = struct.pack("<IHhhhh", 7, 0x041B, 40, 80, 8, 8)
    tail = struct.pack("<IHhhhh", 7, 0x041B, 30, 60, 20, 20) + struct.pack("<IH", 3, 0)
    words = (18 + len(rect) + record_bytes + len(tail)) // 2
    header = wmf_placeable()[:22] + struct.pack("<HHHIHIH", 1, 9, 0x300, words, 0, record_bytes // 2, 0)
    return (header + rect + escape, tail), record_bytes - len(escape)


def emf_long_record(kind, record_bytes):
    """An enhanced metafile with one record of record_bytes: a comment, or a
    2 x 2 bitmap whose bits claim the rest of the record."""
    if kind == "comment":
        record = struct.pack("<III", 70, record_bytes, record_bytes - 12)
    else:
        record = (struct.pack("<II4i6i", 81, record_bytes, 0, 0, -1, -1, 0, 0, 0, 0, 2, 2)
                  + struct.pack("<6I2i", 80, 40, 120, record_bytes - 120, 0, 0x00CC0020, 96, 48)
                  + struct.pack("<IiiHHIIiiII", 40, 2, 2, 1, 24, 0, 0, 0, 0, 0, 0))
    rect = struct.pack("<II4i", 43, 24, 10, 10, 60, 30)
    tail = struct.pack("<II4i", 43, 24, 40, 20, 90, 40) + struct.pack("<II3I", 14, 20, 0, 16, 20)
    header = bytearray(emf()[:108])
    struct.pack_into("<II", header, 48, len(header) + len(rect) + record_bytes + len(tail), 5)
    return (bytes(header) + rect + record, tail), record_bytes - len(record)


def pcx_lines_padded():
    """A 1 x 2000 run-length PCX whose header pads every line to 65534 bytes:
    the zeros after it are its data, one byte of the line each."""
    return (struct.pack("<BBBBHHHHHH", 10, 5, 1, 8, 0, 0, 0, 1999, 72, 72) + bytes(49)
            + struct.pack("<BHH", 1, 65534, 1) + bytes(58))


def cases(d, pad):
    sh("convert rose: BMP3:rose.bmp", cwd=d)
    sh("convert rose: -resize 32x32! -colors 100 -type palette rose32.png", cwd=d)
    sh("icotool -c -o rose.ico rose32.png", cwd=d)
    sh("convert rose: ppm:- | cjpeg -quality 85 > rose.jpg", cwd=d)
    bmp, ico, jpg = (open(os.path.join(d, n), "rb").read() for n in ("rose.bmp", "rose.ico", "rose.jpg"))

    # The icon's only entry claims every byte to the end of the padded file.
    ico_claim = bytearray(ico)
    offset = struct.unpack_from("<I", ico_claim, 18)[0]
    struct.pack_into("<I", ico_claim, 14, min(len(ico) + pad - offset, (1 << 32) - 1))
    # The entry's bitmap header claims the padding as its own, its pixels
    # and mask lying at the end of the padded file.
    entry_bytes = struct.unpack_from("<I", ico, 14)[0]
    grown = min(pad, (1 << 32) - 4096)
    ico_header = bytearray(ico[:offset + 40])
    struct.pack_into("<I", ico_header, 14, entry_bytes + grown)
    struct.pack_into("<I", ico_header, offset, 40 + grown)
    jpg_big = bytearray(jpg)
    at = jpg_big.find(b"\xff\xc0")
    jpg_big[at + 5:at + 9] = struct.pack(">HH", 65500, 65500)
    sh("convert rose: PNG24:rose.png", cwd=d)
    sh("convert rose: rose.ppm && opj_compress -i rose.ppm -o rose.jp2 && opj_compress -i rose.ppm -o rose.j2k",
       cwd=d)
    png, png32, jp2, j2k = (open(os.path.join(d, n), "rb").read()
                            for n in ("rose.png", "rose32.png", "rose.jp2", "rose.j2k"))
    chunk_bytes = min(pad, (1 << 31) - 1)
    after_idat = max(at + 12 + n for at, kind, n in png_chunks(png) if kind == b"IDAT")
    first_idat = min(at for at, kind, n in png_chunks(png) if kind == b"IDAT")
    # The icon's PNG entry: a text chunk as long as the padding.
    text_head, text_tail = zero_chunk_in(png32, min(at for at, kind, n in png_chunks(png32) if kind == b"IDAT"),
                                         b"tEXt", chunk_bytes)
    entry = struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, 32, len(text_head) + chunk_bytes + len(text_tail), 22)
    # The last tile-part runs to the end of the stream.
    j2k_open = bytearray(j2k[:-2])
    struct.pack_into(">I", j2k_open, j2k_open.rfind(b"\xff\x90") + 6, 0)
    # A box before the code stream claims the padding (its 64-bit length;
    # the library takes no box of 4 GiB or more).
    jp2c = jp2.find(b"jp2c") - 4
    box_pad = min(pad, (1 << 32) - 4096)

    def jp2_box_claiming(kind):
        return jp2[:jp2c] + struct.pack(">I", 1) + kind + struct.pack(">Q", 16 + box_pad), jp2[jp2c:]
    regressions = os.path.join(os.environ["TOLVANE_SOURCE_DIR"], "tests", "fuzz", "regressions")
    kept = {n: open(os.path.join(regressions, n), "rb").read()
            for n in ("jpc-rgb-13377-square.jpc", "jpc-grey-tile-beside-picture.jpc", "jpc-code-blocks-4x4.jpc",
                      "jpc-precincts-2x2.jpc", "jpc-tile-part-code-blocks.jpc", "jp2-tile-part-coc.jp2",
                      "jpc-tiles-of-one-pixel.jpc", "jpc-transform-copied-to-every-tile.jpc")}
    jp2_error = "error: EInvalidGraphicOperation: Internal error (TQorJP2FileFormat): Unable to decode image"
    claim_54 = b"BM" + struct.pack("<IHHI", 54, 0, 0, 54) + struct.pack("<IiiHHIIiiII", 40, 16384, 16384, 1, 32, 0, 0, 0, 0, 0, 0)
    emf_pad = min(pad, (1 << 32) - 4096)
    ok = "ok"
    return [
        ("padded.bmp", bmp, pad, ok),
        ("claims-1GiB.bmp", claim_54, 0, "error: EInvalidGraphic: Bitmap image is not valid"),
        ("padded.ico", ico, pad, ok),
        ("entry-claims-padding.ico", bytes(ico_claim), pad, ok),
        ("header-claims-padding.ico", (bytes(ico_header), ico[offset + 40:]), grown, "error: EInvalidGraphic: Icon image is not valid"),
        ("padded.jpg", jpg, pad, ok),
        ("no-end-marker.jpg", jpg[:-2], pad, ok),
        ("declares-65500.jpg", bytes(jpg_big), 0, "error: EJPEG: JPEG error #"),
        ("padded.png", png, pad, ok),
        # Image data after the end of the zlib stream are read (their CRC
        # checked), not inflated; ancillary chunks longer than any use, skipped.
        ("idat-after-the-image.png", zero_chunk_in(png, after_idat, b"IDAT", chunk_bytes), chunk_bytes, ok),
        ("long-trns.png", zero_chunk_in(png, first_idat, b"tRNS", chunk_bytes), chunk_bytes, ok),
        ("png-entry-long-text.ico", (struct.pack("<HHH", 0, 1, 1) + entry + text_head, text_tail), chunk_bytes, ok),
        ("padded.jp2", jp2, pad, ok),
        ("padded.jpc", j2k, pad, ok),
        ("tile-part-to-the-end.jpc", bytes(j2k_open), pad, ok),
        # Refused for what their decode would hold: 2 GiB of samples and a
        # bitmap of 512 MiB; 1 GiB of samples and a tile of nearly as much;
        # records of millions of tiny code blocks or precincts, set in the
        # main header or in a tile-part's.
        ("declares-13377-rgb.jpc", kept["jpc-rgb-13377-square.jpc"], 0, jp2_error),
        ("tile-beside-picture.jpc", kept["jpc-grey-tile-beside-picture.jpc"], 0, jp2_error),
        ("code-blocks-4x4.jpc", kept["jpc-code-blocks-4x4.jpc"], 0, jp2_error),
        ("precincts-2x2.jpc", kept["jpc-precincts-2x2.jpc"], 0, jp2_error),
        ("tile-part-code-blocks.jpc", kept["jpc-tile-part-code-blocks.jpc"], 0, jp2_error),
        ("tile-part-coc.jp2", kept["jp2-tile-part-coc.jp2"], 0, jp2_error),
        # Set up by the library for every tile while it reads the headers:
        # tiles of one pixel, and transform data copied into each of 4000.
        ("tiles-of-one-pixel.jpc", kept["jpc-tiles-of-one-pixel.jpc"], 0, jp2_error),
        ("transform-in-every-tile.jpc", kept["jpc-transform-copied-to-every-tile.jpc"], 0, jp2_error),
        # Header boxes are read whole by the library; other boxes it skips.
        ("colour-box-claims-padding.jp2", jp2_box_claiming(b"colr"), box_pad, jp2_error),
        ("xml-box-claims-padding.jp2", jp2_box_claiming(b"xml "), box_pad, ok),
        ("padded.wmf", wmf_placeable(), pad, ok),
        ("size-claims-padding.wmf", wmf_plain_claiming(min(len(wmf_plain_claiming(0)) + pad, (1 << 33) - 2)), pad, ok),
        ("padded.emf", emf(), pad, ok),
        ("size-claims-padding.emf", emf(len(emf()) + emf_pad), emf_pad, ok),
        # One record as long as the padding, kept as far as it draws.
        ("record-1GiB-escape.wmf", *wmf_long_record(min(pad, 1 << 30)), ok),
        ("record-1GiB-comment.emf", *emf_long_record("comment", min(pad, 1 << 30)), ok),
        ("record-1GiB-bitmap.emf", *emf_long_record("bitmap", min(pad, 1 << 30)), ok),
        ("lines-padded.pcx", pcx_lines_padded(), pad, ok),
    ]


def main():
    pad = int(sys.argv[1]) * MIB if len(sys.argv) > 1 else 4096 * MIB
    imgdump = os.environ["IMGDUMP"]
    address_limit = 0 if sanitized(imgdump) else 1 << 30
    with workdir() as d:
        for name, data, padding, want in cases(d, pad):
            path = os.path.join(d, name)
            head, tail = data if isinstance(data, tuple) else (data, b"")
            with open(path, "wb") as f:
                f.write(head)
                f.seek(len(head) + padding)
                f.write(tail)
            os.truncate(path, len(head) + padding + len(tail))
            rc, out, err, peak = measure([imgdump, path, os.path.join(d, "out.ppm")], address_limit, d)
            print(f"{name}: {len(head) + len(tail)} bytes + {padding // MIB} MiB of zeros: peak {peak} MiB; {out or err}")
            if want == "ok":
                F.check(rc == 0, f"{name}: {err}")
            else:
                F.check(rc == 1 and err.startswith(want), f"{name}: {out} {err}")
            F.check(peak < PEAK_LIMIT_MIB, f"{name}: peak {peak} MiB")
            os.remove(path)
    F.exit()


if __name__ == "__main__":
    main()
