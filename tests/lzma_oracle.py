#!/usr/bin/env python3
"""lzma_oracle.py - checks "ZWS" movies written by Quillaro with Python's
own LZMA reader: for each NAME.zws in FOLDER beside NAME.fws, the header
keeps the version and declared length, the compressed-length field is the
file size - 17, the raw LZMA1 stream decodes (lc/lp/pb and dictionary from
the 5 property bytes) to the body of NAME.fws and ends with its end marker
exactly at the end of the file.

Usage: lzma_oracle.py FOLDER [MINIMUM]   (fails with fewer than MINIMUM movies)
"""
import lzma
import os
import struct
import sys


def lzma_filter(properties):
    lc, rest = properties[0] % 9, properties[0] // 9
    lp, pb = rest % 5, rest // 5
    return {"id": lzma.FILTER_LZMA1, "lc": lc, "lp": lp, "pb": pb,
            "dict_size": struct.unpack("<I", properties[1:5])[0]}


def problem(zws, fws):
    if zws[:3] != b"ZWS" or zws[3:8] != fws[3:8]:
        return "header differs"
    if struct.unpack("<I", zws[8:12])[0] != len(zws) - 17:
        return "compressed-length field is not the size - 17"
    decoder = lzma.LZMADecompressor(format=lzma.FORMAT_RAW,
                                    filters=[lzma_filter(zws[12:17])])
    try:
        body = decoder.decompress(zws[17:])
    except lzma.LZMAError as error:
        return "does not decode: %s" % error
    if not decoder.eof or decoder.unused_data:
        return "the end marker is not at the end of the file"
    if body != fws[8:]:
        return "decodes to another body"
    return None


def main():
    folder = sys.argv[1]
    minimum = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    names = sorted(n[:-4] for n in os.listdir(folder) if n.endswith(".zws"))
    failed = 0
    for name in names:
        with open(os.path.join(folder, name + ".zws"), "rb") as f:
            zws = f.read()
        with open(os.path.join(folder, name + ".fws"), "rb") as f:
            fws = f.read()
        found = problem(zws, fws)
        if found:
            print("%s.zws: %s" % (name, found))
            failed += 1
    print("%d passed, %d failed" % (len(names) - failed, failed))
    if len(names) < minimum:
        print("only %d movies, expected at least %d" % (len(names), minimum))
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
