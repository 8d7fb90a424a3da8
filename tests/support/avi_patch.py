"""Damaging AVI files on purpose: finding a chunk and writing values over its fields. Shared by
the damaged-file tests of the Linux and the Windows builds."""

import struct


def chunk_body(data, tag, occurrence=0):
    """Offset of the body of the chunk `tag` (its occurrence-th one in file order)."""
    at = -1
    for _ in range(occurrence + 1):
        at = data.index(tag, at + 1)
    return at + 8


def patched(data, *changes):
    """A copy of data with each (offset, struct format, value or tuple of values) written."""
    out = bytearray(data)
    for offset, fmt, value in changes:
        struct.pack_into(fmt, out, offset, *(value if isinstance(value, tuple) else (value,)))
    return bytes(out)
