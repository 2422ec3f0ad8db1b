#!/usr/bin/env python3
"""zlib_oracle.py - checks zlib streams written by Quillaro's deflater with
Python's own zlib: for each NAME.zlib in FOLDER beside NAME.body, the
stream decodes to the body, its checksum included, and ends exactly at
the end of the file.

Usage: zlib_oracle.py FOLDER [MINIMUM]   (fails with fewer than MINIMUM streams)
"""
import sys

from oracle_pairs import check_pairs
import zlib


def problem(stream, body):
    decoder = zlib.decompressobj()
    try:
        decoded = decoder.decompress(stream) + decoder.flush()
    except zlib.error as error:
        return "does not decode: %s" % error
    if not decoder.eof:
        return "the stream does not end"
    if decoder.unused_data:
        return "%d bytes follow the stream" % len(decoder.unused_data)
    if decoded != body:
        return "decodes to another body"
    return None


def main():
    return check_pairs(sys.argv[1:], ".zlib", ".body", "streams", problem)


if __name__ == "__main__":
    sys.exit(main())
