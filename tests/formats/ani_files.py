"""A small writer of animated cursors: RIFF chunks around cursor files.

No Debian tool writes them; the reference test and the fuzz seeds both use
this writer. It needs nothing but Python.
"""
import struct


def chunk(cid, data):
    return cid + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def animated(frames, flags=1, rates=None):
    """frames: the cursor files in turn; rates: the display rate of each
    step, written as a rate chunk when given."""
    header = struct.pack("<9I", 36, len(frames), len(frames), 0, 0, 0, 0, 10, flags)
    body = b"ACON" + chunk(b"anih", header) + chunk(b"LIST", b"INFO" + chunk(b"INAM", b"odd"))
    if rates is not None:
        body += chunk(b"rate", struct.pack(f"<{len(rates)}I", *rates))
    body += chunk(b"LIST", b"fram" + b"".join(chunk(b"icon", f) for f in frames))
    return chunk(b"RIFF", body)
