#!/usr/bin/env python3
"""zlib_oracle.py - checks zlib streams written by Quillaro's deflater with
Python's own zlib: for each NAME.zlib in FOLDER beside NAME.body, the
stream decodes to the body, its checksum included, and ends exactly at
the end of the file.

Usage: zlib_oracle.py FOLDER [MINIMUM]   (fails with fewer than MINIMUM streams)
"""
import os
import sys
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
    folder = sys.argv[1]
    minimum = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    names = sorted(n[:-5] for n in os.listdir(folder) if n.endswith(".zlib"))
    failed = 0
    for name in names:
        with open(os.path.join(folder, name + ".zlib"), "rb") as f:
            stream = f.read()
        with open(os.path.join(folder, name + ".body"), "rb") as f:
            body = f.read()
        found = problem(stream, body)
        if found:
            print("%s.zlib: %s" % (name, found))
            failed += 1
    print("%d passed, %d failed" % (len(names) - failed, failed))
    if len(names) < minimum:
        print("only %d streams, expected at least %d" % (len(names), minimum))
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
