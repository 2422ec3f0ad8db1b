#!/usr/bin/env python3
"""sample_movie.py - writes Quillaro's sample Flash movie, alone or as a
projector around a player program.

The movie is one frame on a 550 x 400 stage at 24 frames a second: a dark
blue background, a gold rectangle and a red triangle, a metadata block that
names it, and a stop action. With --padding-mb it also carries that many
MiB of text in a binary data tag, which zlib shrinks to about a third, for
trying conversions of large movies.

Usage: tools/sample_movie.py [--version N] [--compress] [--padding-mb N]
                             [--player PLAYER.exe] OUTPUT
--compress writes a zlib-compressed ("CWS") movie, otherwise it is
uncompressed ("FWS"). With --player the output is a projector: the player
program's bytes, the movie, then the 8-byte trailer (0xFA123456 and the
movie's size, both little-endian). Only the standard library is used; the
output is the same on every run.
"""
import argparse
import os
import random
import struct
import sys
import zlib

TWIPS = 20  # units of a movie's coordinates per pixel
PROJECTOR_MAGIC = 0xFA123456

# Tag codes of the movie format.
TAG_END = 0
TAG_SHOW_FRAME = 1
TAG_DEFINE_SHAPE = 2
TAG_SET_BACKGROUND_COLOR = 9
TAG_DO_ACTION = 12
TAG_PLACE_OBJECT2 = 26
TAG_FILE_ATTRIBUTES = 69
TAG_METADATA = 77
TAG_DEFINE_BINARY_DATA = 87

ACTION_STOP = 0x07

METADATA = (
    '<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">'
    '<rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/">'
    "<dc:title>Quillaro sample movie</dc:title>"
    "<dc:description>A test movie made by tools/sample_movie.py</dc:description>"
    "</rdf:Description></rdf:RDF>"
)


class BitWriter:
    """Bit fields, most significant bit first, padded to whole bytes."""

    def __init__(self):
        self.bits = []

    def unsigned(self, value, width):
        assert 0 <= value < (1 << width)
        self.bits.extend((value >> (width - 1 - i)) & 1 for i in range(width))

    def signed(self, value, width):
        assert -(1 << (width - 1)) <= value < (1 << (width - 1))
        self.unsigned(value & ((1 << width) - 1), width)

    def to_bytes(self):
        bits = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(
            int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8)
        )


def signed_width(*values):
    """Bits of the narrowest signed field that holds every value."""
    return max(max(v.bit_length(), (-v - 1).bit_length()) + 1 for v in values)


def rect(x_min, x_max, y_min, y_max):
    width = signed_width(x_min, x_max, y_min, y_max)
    bits = BitWriter()
    bits.unsigned(width, 5)
    for value in (x_min, x_max, y_min, y_max):
        bits.signed(value, width)
    return bits.to_bytes()


def tag(code, body=b""):
    """A tag with a short header, or a long one where the body needs it."""
    if len(body) < 0x3F and code != TAG_DEFINE_BINARY_DATA:
        return struct.pack("<H", code << 6 | len(body)) + body
    return struct.pack("<HI", code << 6 | 0x3F, len(body)) + body


def define_shape(shape_id, color, points):
    """A closed polygon filled with one solid colour, from its corners in
    twips."""
    xs = [x for x, _ in points]
    ys = [y for _, y in points]
    body = struct.pack("<H", shape_id) + rect(min(xs), max(xs), min(ys), max(ys))
    body += bytes([1, 0x00]) + bytes(color)  # one solid fill
    body += bytes([0])  # no line styles
    bits = BitWriter()
    bits.unsigned(1, 4)  # fill style index bits
    bits.unsigned(0, 4)  # line style index bits
    # Style change: move to the first corner and fill on the right side.
    start_x, start_y = points[0]
    bits.unsigned(0, 1)
    bits.unsigned(0b00101, 5)  # StateFillStyle1 and StateMoveTo
    move_width = signed_width(start_x, start_y)
    bits.unsigned(move_width, 5)
    bits.signed(start_x, move_width)
    bits.signed(start_y, move_width)
    bits.unsigned(1, 1)
    # One straight edge to each next corner, and back to the first.
    for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
        dx, dy = x1 - x0, y1 - y0
        width = max(signed_width(dx, dy), 2)
        bits.unsigned(0b11, 2)  # edge record, straight
        bits.unsigned(width - 2, 4)
        bits.unsigned(1, 1)  # general line: both deltas follow
        bits.signed(dx, width)
        bits.signed(dy, width)
    bits.unsigned(0, 6)  # end of shape
    return tag(TAG_DEFINE_SHAPE, body + bits.to_bytes())


def place_object(character_id, depth, x, y):
    bits = BitWriter()
    bits.unsigned(0, 2)  # no scale, no rotation
    width = signed_width(x, y)
    bits.unsigned(width, 5)
    bits.signed(x, width)
    bits.signed(y, width)
    body = bytes([0x06]) + struct.pack("<HH", depth, character_id) + bits.to_bytes()
    return tag(TAG_PLACE_OBJECT2, body)


def padding_text(size):
    """`size` bytes of words from a small vocabulary with numbers after
    them, in a fixed order; zlib makes about a third of its size of it."""
    words = (
        "movie frame stage shape tween symbol button sound layer script timeline "
        "player version projector compress keyframe bitmap font text clip action "
        "alpha colour matrix depth filter gradient morph video stream export"
    ).split()
    generator = random.Random(1996)
    chunk = bytearray()
    while len(chunk) < 1 << 20:
        chunk += b"%s%d " % (generator.choice(words).encode(), generator.randrange(100000))
    chunk = bytes(chunk[: 1 << 20])
    return (chunk * (size // len(chunk) + 1))[:size]


def movie_tags(version, padding):
    tags = b""
    if version >= 8:
        tags += tag(TAG_FILE_ATTRIBUTES, struct.pack("<I", 0x10))  # has metadata
        tags += tag(TAG_METADATA, METADATA.encode() + b"\0")
    tags += tag(TAG_SET_BACKGROUND_COLOR, bytes([0x1F, 0x2A, 0x44]))
    tags += define_shape(1, (0xE8, 0xB9, 0x3A), [(0, 0), (200 * TWIPS, 0),
                                                 (200 * TWIPS, 120 * TWIPS), (0, 120 * TWIPS)])
    tags += define_shape(2, (0xC8, 0x3C, 0x32), [(60 * TWIPS, 0), (120 * TWIPS, 100 * TWIPS),
                                                 (0, 100 * TWIPS)])
    tags += place_object(1, 1, 80 * TWIPS, 80 * TWIPS)
    tags += place_object(2, 2, 330 * TWIPS, 230 * TWIPS)
    if padding:
        tags += tag(TAG_DEFINE_BINARY_DATA, struct.pack("<HI", 3, 0) + padding)
    tags += tag(TAG_DO_ACTION, bytes([ACTION_STOP, 0]))
    tags += tag(TAG_SHOW_FRAME)
    tags += tag(TAG_END)
    return tags


def movie(version, compress, padding):
    frame = rect(0, 550 * TWIPS, 0, 400 * TWIPS) + struct.pack("<HH", 24 << 8, 1)
    body = frame + movie_tags(version, padding)
    length = 8 + len(body)
    if length > 0xFFFFFFFF:
        sys.exit("sample_movie.py: a movie holds at most 4 GiB")
    if compress:
        return b"CWS" + bytes([version]) + struct.pack("<I", length) + zlib.compress(body, 9)
    return b"FWS" + bytes([version]) + struct.pack("<I", length) + body


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--version", type=int, default=13, help="format version (default 13)")
    parser.add_argument("--compress", action="store_true", help="write a CWS movie")
    parser.add_argument("--padding-mb", type=int, default=0, help="MiB of text to carry")
    parser.add_argument("--player", help="player program to put in front: writes a projector")
    parser.add_argument("output")
    options = parser.parse_args()
    if not 1 <= options.version <= 255:
        parser.error("the version is a number from 1 to 255")
    if options.padding_mb and options.version < 9:
        parser.error("--padding-mb needs version 9 or later (binary data tags)")

    padding = padding_text(options.padding_mb << 20) if options.padding_mb else b""
    data = movie(options.version, options.compress, padding)
    # Written beside the output and moved over it when complete, so that an
    # interrupted build leaves no half-written sample behind.
    partial = options.output + ".partial"
    with open(partial, "wb") as output:
        if options.player:
            with open(options.player, "rb") as player:
                output.write(player.read())
        output.write(data)
        if options.player:
            output.write(struct.pack("<II", PROJECTOR_MAGIC, len(data)))
    os.replace(partial, options.output)


if __name__ == "__main__":
    main()
