#!/usr/bin/env python3
"""Small Flash movies for the demo forum and the tests: a background colour and a rectangle.

    swf.py OUT.swf [--width 320] [--height 240] [--background 2060c0] [--colour f0a010]

The movie is an uncompressed SWF 10 file of one frame: SetBackgroundColor, a DefineShape of a
solid rectangle a third of the stage's size in its middle, PlaceObject2, ShowFrame and End.
"""

import argparse
import struct

TWIPS = 20


class Bits:
    """Big-endian bit writer, as SWF packs its RECT, MATRIX and shape records."""

    def __init__(self):
        self.bits = []

    def unsigned(self, value, count):
        for i in range(count - 1, -1, -1):
            self.bits.append((value >> i) & 1)

    def signed(self, value, count):
        self.unsigned(value & ((1 << count) - 1), count)

    def bytes(self):
        padded = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(int("".join(map(str, padded[i:i + 8])), 2) for i in range(0, len(padded), 8))


def signed_bits(*values):
    """Bits a signed field needs to hold every value."""
    return max(max(abs(v), 1).bit_length() + 1 for v in values)


def rect(xmin, xmax, ymin, ymax):
    n = signed_bits(xmin, xmax, ymin, ymax)
    b = Bits()
    b.unsigned(n, 5)
    for v in (xmin, xmax, ymin, ymax):
        b.signed(v, n)
    return b.bytes()


def tag(code, body=b""):
    if len(body) < 0x3F:
        return struct.pack("<H", (code << 6) | len(body)) + body
    return struct.pack("<HI", (code << 6) | 0x3F, len(body)) + body


def rgb(text):
    return bytes.fromhex(text)


def rectangle_shape(shape_id, x, y, w, h, colour):
    body = struct.pack("<H", shape_id) + rect(x, x + w, y, y + h)
    body += b"\x01" + b"\x00" + colour  # one solid fill style
    body += b"\x00"                     # no line styles
    b = Bits()
    b.unsigned(1, 4)  # fill index bits
    b.unsigned(0, 4)  # line index bits
    # Style change: move to the top left corner, fill style 1 on the right of the edges.
    b.unsigned(0, 1)
    b.unsigned(0b00011, 5)  # StateMoveTo, StateFillStyle1
    n = signed_bits(x, y)
    b.unsigned(n, 5)
    b.signed(x, n)
    b.signed(y, n)
    b.unsigned(1, 1)  # FillStyle1 = 1
    for dx, dy in ((w, 0), (0, h), (-w, 0), (0, -h)):
        n = signed_bits(dx, dy)
        b.unsigned(1, 1)      # edge
        b.unsigned(1, 1)      # straight
        b.unsigned(n - 2, 4)
        b.unsigned(0, 1)      # not a general line
        if dy == 0:
            b.unsigned(0, 1)  # horizontal
            b.signed(dx, n)
        else:
            b.unsigned(1, 1)  # vertical
            b.signed(dy, n)
    b.unsigned(0, 6)  # end of shape
    return tag(2, body + b.bytes())


def movie(width=320, height=240, background="2060c0", colour="f0a010"):
    w, h = width * TWIPS, height * TWIPS
    tags = tag(9, rgb(background))
    tags += rectangle_shape(1, w // 3, h // 3, w // 3, h // 3, rgb(colour))
    tags += tag(26, b"\x06" + struct.pack("<HH", 1, 1) + b"\x00")  # character 1, depth 1
    tags += tag(1) + tag(0)
    body = rect(0, w, 0, h) + struct.pack("<HH", 24 << 8, 1) + tags
    return b"FWS" + bytes([10]) + struct.pack("<I", 8 + len(body)) + body


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--width", type=int, default=320)
    parser.add_argument("--height", type=int, default=240)
    parser.add_argument("--background", default="2060c0")
    parser.add_argument("--colour", default="f0a010")
    args = parser.parse_args()
    with open(args.out, "wb") as f:
        f.write(movie(args.width, args.height, args.background, args.colour))


if __name__ == "__main__":
    main()
