"""The dialog pictures decode, run by run, to exactly what was drawn."""
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import make_art  # noqa: E402


def decode_rle4(data):
    """A strict reader: any escape other than end-of-line or end-of-bitmap,
    a run past the line's end or bytes after the end fail."""
    offset, = struct.unpack_from('<I', data, 10)
    width, height, _, bits, compression, size = struct.unpack_from('<iiHHII', data, 18)
    assert (bits, compression, size) == (4, 2, len(data) - offset)
    rows, line, i = [], [], offset
    while True:
        count, colours = data[i], data[i + 1]
        i += 2
        if count:
            line += [colours >> 4 if k % 2 == 0 else colours & 15 for k in range(count)]
            assert len(line) <= width
            continue
        assert colours in (0, 1) and len(line) == width
        rows.append(line)
        line = []
        if colours == 1:
            assert i == len(data) and len(rows) == height
            return rows[::-1]


class Rle4Test(unittest.TestCase):
    def test_every_picture_and_a_line_longer_than_one_run(self):
        wide = make_art.Canvas(600, 2, make_art.GREY)
        wide.put(599, 0, make_art.RED)
        cases = [("wide", wide), ("target", make_art.target()),
                 ("logo", make_art.logo(189, 48, "XR Uninstall")),
                 ("compact", make_art.logo(153, 41, "TouchScreen", compact=True)),
                 ("banner", make_art.banner(154, 20, "Screen Alignment"))]
        for name, canvas in cases:
            with self.subTest(name):
                self.assertEqual(decode_rle4(make_art.rle4_bytes(canvas)), canvas.pixels)


if __name__ == "__main__":
    unittest.main()
