"""The controller simulator: packet coding, paths, pacing and the pty."""
import os
import select
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import zavirsim  # noqa: E402


def read_available(fd, count, timeout=2.0):
    got = bytearray()
    deadline = time.monotonic() + timeout
    while len(got) < count and time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.1)
        if ready:
            got += os.read(fd, count - len(got))
    return bytes(got)


class PacketCoding(unittest.TestCase):
    def test_positions_round_trip(self):
        for x, y, data in [
            (0, 0, b"\x00\x00\x00\x00"),
            (127, 128, b"\x00\x7f\x01\x00"),
            (254, 254, b"\x01\x7e\x01\x7e"),
            (512, 1024, b"\x04\x00\x08\x00"),
            (16383, 16383, b"\x7f\x7f\x7f\x7f"),
        ]:
            with self.subTest(x=x, y=y):
                self.assertEqual(zavirsim.data_bytes(x, y), data)
                self.assertEqual(zavirsim.touch_packet(x, y), b"\xff" + data)
                self.assertEqual(zavirsim.decode_data(data), (x, y))

    def test_no_touch_looks_like_a_lead_byte_or_a_release(self):
        for x in range(0, 16384, 61):
            for y in (0, 254, 8191, 16383):
                data = zavirsim.data_bytes(x, y)
                self.assertTrue(all(b < 0xFE for b in data))
                self.assertNotEqual(data[:2], b"\xfe\xfe")

    def test_out_of_range_positions_are_refused(self):
        for x, y in [(-1, 0), (0, -1), (16384, 0), (0, 16384)]:
            with self.subTest(x=x, y=y), self.assertRaises(ValueError):
                zavirsim.touch_packet(x, y)
        self.assertIsNone(zavirsim.decode_data(b"\xfe\xfe\x00\x00"))
        self.assertIsNone(zavirsim.decode_data(b"\x01\x02\x03"))

    def test_truncated_packets_and_noise(self):
        self.assertEqual(zavirsim.truncated(300, 700, 3), b"\xff\x02\x2c")
        for keep in (0, 5):
            with self.assertRaises(ValueError):
                zavirsim.truncated(1, 1, keep)
        self.assertEqual(len(zavirsim.noise(50, seed=1)), 50)
        self.assertEqual(zavirsim.noise(20, seed=7), zavirsim.noise(20, seed=7))


class DragPath(unittest.TestCase):
    def test_path_runs_through_every_point(self):
        path = zavirsim.drag_path([(0, 0), (100, 0), (100, 50)], 4)
        self.assertEqual(path[0], (0, 0))
        self.assertEqual(path[4], (100, 0))
        self.assertEqual(path[-1], (100, 50))
        self.assertEqual(len(path), 9)
        self.assertEqual(zavirsim.drag_path([(5, 5)], 3), [(5, 5)])
        self.assertEqual(zavirsim.drag_path([], 3), [])


class PanelModel(unittest.TestCase):
    def test_default_panel_is_the_default_corners(self):
        panel = zavirsim.Panel()
        for pixel, raw in [((0, 0), (0, 0)), ((1024, 768), (1024, 1024)),
                           ((1024, 0), (1024, 0)), ((0, 768), (0, 1024)),
                           ((512, 384), (512, 512)), ((1023, 767), (1023, 1023))]:
            with self.subTest(pixel=pixel):
                self.assertEqual(panel.raw(*pixel), raw)

    def test_offset_and_scale_per_axis(self):
        panel = zavirsim.Panel(offset=(700, 900), scale=(13.5, 18.25))
        self.assertEqual(panel.raw(0, 0), (700, 900))
        self.assertEqual(panel.raw(100, 10), (2050, 1082))

    def test_turn_keeps_the_centre_and_distances(self):
        panel = zavirsim.Panel(screen=(1000, 800), scale=(1.0, 1.0), degrees=2.0)
        self.assertEqual(panel.raw(500, 400), (500, 400))
        # A point 400 pixels right of the centre turns clockwise on screen
        # (Y grows downwards) by 2 degrees: about 14 pixels down.
        x, y = panel.raw(900, 400)
        self.assertEqual((x, y), (900 - 0, 400 + 14))
        self.assertAlmostEqual(((x - 500) ** 2 + (y - 400) ** 2) ** 0.5, 400, delta=0.8)

    def test_positions_stay_in_the_controller_range(self):
        panel = zavirsim.Panel(offset=(-500, 16000), scale=(20.0, 20.0))
        self.assertEqual(panel.raw(0, 767), (0, zavirsim.RAW_MAX))


class PseudoTerminal(unittest.TestCase):
    def test_every_byte_arrives_unchanged(self):
        with zavirsim.Controller.open_pty(baud=19200) as ctl:
            reader = os.open(ctl.path, os.O_RDONLY | os.O_NOCTTY)
            try:
                # Control characters a cooked terminal would eat or change.
                data = bytes([0x0D, 0x0A, 0x03, 0x11, 0x13, 0x7F, 0x04, 0x1A, 0xFF, 0x00])
                ctl.write(data, paced=False)
                ctl.tap(300, 700)
                expected = data + zavirsim.touch_packet(300, 700) + zavirsim.RELEASE
                self.assertEqual(read_available(reader, len(expected)), expected)
                self.assertEqual(bytes(ctl.sent), expected)
            finally:
                os.close(reader)

    def test_play_is_clean_only_at_the_controllers_rate(self):
        import termios
        with zavirsim.Controller.open_pty(baud=9600) as ctl:
            reader = os.open(ctl.path, os.O_RDONLY | os.O_NOCTTY)
            try:
                tap = zavirsim.touch_packet(5, 6) + zavirsim.RELEASE
                for rate, clean in ((9600, True), (19200, False)):
                    attrs = termios.tcgetattr(reader)
                    attrs[4] = attrs[5] = getattr(termios, "B%d" % rate)
                    termios.tcsetattr(reader, termios.TCSANOW, attrs)
                    self.assertEqual(ctl.line_baud(), rate)
                    stop = ctl.play(5, 6, every=0.01)
                    got = read_available(reader, 3 * len(tap))
                    stop.set()
                    time.sleep(0.05)
                    termios.tcflush(reader, termios.TCIFLUSH)
                    self.assertEqual(got == tap * 3, clean, rate)
                    if not clean:
                        self.assertFalse(set(got) & {0xFF, 0xFE} or min(got) < 0x80)
            finally:
                os.close(reader)

    def test_writes_are_paced_at_the_baud_rate(self):
        with zavirsim.Controller.open_pty(baud=9600) as ctl:
            positions = [(i, i) for i in range(19)]
            took = ctl.burst(positions)
            size = 19 * 5 + 3
            # Never faster than the line allows.
            self.assertGreaterEqual(took, size * zavirsim.byte_time(9600) * 0.99)

    def test_command_steps(self):
        with zavirsim.Controller.open_pty() as ctl:
            with open(os.devnull, "w") as sink:
                for step in ["touch:1,2", "release", "truncated:1,2,2", "wait:1", ""]:
                    self.assertTrue(zavirsim.run_step(ctl, step, sink), step)
                self.assertTrue(zavirsim.run_step(ctl, "drag:0,0;10,10@2", sink))
                self.assertFalse(zavirsim.run_step(ctl, "jump:1,1", sink))
            self.assertEqual(
                bytes(ctl.sent),
                zavirsim.touch_packet(1, 2) + zavirsim.RELEASE + b"\xff\x00"
                + b"".join(zavirsim.touch_packet(v, v) for v in (0, 5, 10)))


if __name__ == "__main__":
    unittest.main()
