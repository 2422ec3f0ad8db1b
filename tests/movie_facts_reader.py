#!/usr/bin/env python3
"""movie_facts_reader.py - an independent reading of what a movie holds,
against which `quillaro-cli info --facts --json` is checked.

Reads each file whole (python3 standard library only): the movie of a bare
movie or a projector, its uncompressed body (zlib for CWS, raw LZMA1 for
ZWS) cut or padded with zeros to the declared length, then the frame
rectangle, frame rate and count, and the top-level tags up to the End tag.
A tag whose length runs past the end of the body counts for nothing.

Usage: movie_facts_reader.py [--no-lzma] CLI [RUNNER] -- FILE_OR_FOLDER...
  runs CLI (through RUNNER, e.g. Wine, when given) on the files (those of a
  folder in name order) and compares; with --no-lzma, ZWS movies are
  expected to fail to decode. Exits 77 (skipped) when a folder is missing.
"""
import hashlib
import json
import lzma
import os
import struct
import subprocess
import sys
import zlib

METADATA_CAP = 1024 * 1024
FACT_KEYS = ["stage_width", "stage_height", "frame_rate", "frame_count", "tags", "end_tag",
             "tag_counts", "background", "file_attributes", "avm", "metadata", "protected",
             "debugger", "movie_sha256", "file_sha256"]
ATTRIBUTE_BITS = [("use_network", 0x01), ("as3", 0x08), ("has_metadata", 0x10),
                  ("use_gpu", 0x20), ("use_direct_blit", 0x40)]


class Undecodable(Exception):
    pass


def movie_of(data):
    """The movie bytes of a file: after the player of a projector, or all."""
    if data[:2] == b"MZ" and len(data) >= 8:
        magic, size = struct.unpack("<II", data[-8:])
        if magic == 0xFA123456 and size <= len(data) - 8:
            start = len(data) - 8 - size
            return data[start:start + size]
    return data


def body_of(movie):
    """(stored or decoded body bytes, declared body length)."""
    if len(movie) < 8:
        raise Undecodable("cut inside the header")
    signature = movie[:3]
    declared = struct.unpack("<I", movie[4:8])[0]
    if declared < 8:
        raise Undecodable("declared length shorter than the header")
    if signature == b"FWS":
        body = movie[8:]
    elif signature == b"CWS":
        inflater = zlib.decompressobj()
        try:
            body = inflater.decompress(movie[8:])
        except zlib.error:
            raise Undecodable("zlib error")
        if not inflater.eof:
            raise Undecodable("zlib stream cut short")
    elif signature == b"ZWS":
        if len(movie) < 17:
            raise Undecodable("no LZMA properties")
        properties = movie[12]
        lc, rest = properties % 9, properties // 9
        lp, pb = rest % 5, rest // 5
        filters = [{"id": lzma.FILTER_LZMA1, "lc": lc, "lp": lp, "pb": pb,
                    "dict_size": struct.unpack("<I", movie[13:17])[0]}]
        try:
            decoder = lzma.LZMADecompressor(lzma.FORMAT_RAW, filters=filters)
            body = decoder.decompress(movie[17:])
        except lzma.LZMAError:
            raise Undecodable("LZMA error")
    else:
        raise Undecodable("no movie")
    return body[:declared - 8], declared - 8


class Body:
    """The body as stored or decoded, padded with zeros to `length`."""

    def __init__(self, data, length):
        self.data, self.length = data, length

    def get(self, offset, count):
        if offset + count > self.length:
            return None
        piece = self.data[offset:offset + count]
        return piece + bytes(count - len(piece))


def signed(value, width):
    return value - (1 << width) if width and value >> (width - 1) else value


def read_facts(body):
    facts = {"stage_width": None, "stage_height": None, "frame_rate": None,
             "frame_count": None, "tags": 0, "end_tag": False, "tag_counts": {},
             "background": None, "file_attributes": None, "avm": 1, "metadata": None,
             "protected": False, "debugger": False}
    first = body.get(0, 1)
    if first is None:
        return facts
    width = first[0] >> 3
    rectangle = body.get(0, (5 + 4 * width + 7) // 8)
    if rectangle is None:
        return facts
    bits = int.from_bytes(rectangle, "big")
    total = len(rectangle) * 8
    fields = [signed((bits >> (total - 5 - width * (i + 1))) & ((1 << width) - 1), width)
              for i in range(4)]
    facts["stage_width"] = (fields[1] - fields[0]) / 20
    facts["stage_height"] = (fields[3] - fields[2]) / 20
    position = len(rectangle)
    frames = body.get(position, 4)
    if frames is None:
        return facts
    rate, count = struct.unpack("<HH", frames)
    facts["frame_rate"] = rate / 256
    facts["frame_count"] = count
    position += 4
    while True:
        header = body.get(position, 2)
        if header is None:
            break
        code_and_length = struct.unpack("<H", header)[0]
        code, length = code_and_length >> 6, code_and_length & 0x3F
        position += 2
        if length == 0x3F:
            long_length = body.get(position, 4)
            if long_length is None:
                break
            length = struct.unpack("<I", long_length)[0]
            position += 4
        if position + length > body.length:
            break
        content = body.get(position, min(length, 3))
        counts = facts["tag_counts"]
        is_first = str(code) not in counts
        facts["tags"] += 1
        counts[str(code)] = counts.get(str(code), 0) + 1
        if code == 9 and is_first and length >= 3:
            facts["background"] = "#%02x%02x%02x" % tuple(content[:3])
        elif code == 69 and is_first and length >= 1:
            facts["file_attributes"] = {name: bool(content[0] & bit)
                                        for name, bit in ATTRIBUTE_BITS}
            facts["avm"] = 2 if content[0] & 0x08 else 1
        elif code == 77 and is_first:
            text = body.get(position, min(length, METADATA_CAP)).split(b"\0")[0]
            facts["metadata"] = text.decode("utf-8", "replace")
        elif code == 24:
            facts["protected"] = True
        elif code in (58, 64):
            facts["debugger"] = True
        position += length
        if code == 0:
            facts["end_tag"] = True
            break
    return facts


def expected_facts(path, lzma_decodes):
    """The facts of the file's movie, or None when it has none or it does
    not decode (then the program must say so)."""
    with open(path, "rb") as file:
        movie = movie_of(file.read())
    if movie[:3] not in (b"FWS", b"CWS", b"ZWS"):
        return None, False
    if movie[:3] == b"ZWS" and not lzma_decodes:
        return None, True
    try:
        data, length = body_of(movie)
    except Undecodable:
        return None, True
    facts = read_facts(Body(data, length))
    # The uncompressed form: "FWS", the version, the declared length, then
    # the body cut or padded with zeros to that length.
    uncompressed = b"FWS" + movie[3:8] + data + bytes(length - len(data))
    facts["movie_sha256"] = hashlib.sha256(uncompressed).hexdigest()
    return facts, False


def main(arguments):
    lzma_decodes = True
    if arguments and arguments[0] == "--no-lzma":
        lzma_decodes = False
        arguments = arguments[1:]
    split = arguments.index("--")
    command, files = arguments[:split], []
    for name in arguments[split + 1:]:
        if name.endswith("/") and not os.path.isdir(name):
            print("skipped: no folder " + name)
            return 77
        if os.path.isdir(name):
            files += [os.path.join(name, entry) for entry in sorted(os.listdir(name))]
        else:
            files.append(name)
    if len(command) == 2:
        command = [command[1], command[0]]
    run = subprocess.run(command + ["info", "--facts", "--json"] + files,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    lines = run.stdout.decode("utf-8").splitlines()
    errors = run.stderr.decode("utf-8", "replace")
    failures = []
    if len(lines) != len(files):
        failures.append("%d lines for %d files" % (len(lines), len(files)))
    any_undecodable = False
    for path, line in zip(files, lines):
        got = json.loads(line)
        facts, undecodable = expected_facts(path, lzma_decodes)
        any_undecodable |= undecodable
        if list(got.keys())[10:] != FACT_KEYS:
            failures.append("%s: keys %s" % (path, list(got.keys())))
            continue
        expected = facts if facts is not None else dict.fromkeys(FACT_KEYS)
        with open(path, "rb") as file:
            expected["file_sha256"] = hashlib.sha256(file.read()).hexdigest()
        for key in FACT_KEYS:
            if got[key] != expected[key]:
                failures.append("%s: %s is %r, expected %r" % (path, key, got[key],
                                                              expected[key]))
        if undecodable and ("quillaro-cli: %s: " % path) not in errors:
            failures.append("%s: does not decode, but no error names it" % path)
    if run.returncode != (1 if any_undecodable else 0):
        failures.append("exit code %d" % run.returncode)
    for failure in failures:
        print("FAILED: " + failure)
    print("%d files compared, %d failures" % (len(files), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
