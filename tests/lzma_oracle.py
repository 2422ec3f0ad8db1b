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
import struct
import sys

from oracle_pairs import check_pairs


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
    return check_pairs(sys.argv[1:], ".zws", ".fws", "movies", problem)


if __name__ == "__main__":
    sys.exit(main())
