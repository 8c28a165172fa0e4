#!/usr/bin/env python3
"""Simulated touch controller: writes controller packets into a serial line
(a pseudo-terminal standing for COMn).

Packets on the line:
  touch    0xFF b1 b2 b3 b4   raw X = b1*128 + b2, raw Y = b3*128 + b4,
                               every data byte 7-bit (0 to 0x7F)
  release  0xFF 0xFE 0xFE
The same data-byte coding is decoded by DecodeTouchPacket in
common/zavir_wire.h.

As a module:  Controller.open_pty() / Controller(path); touch, release,
drag, tap, noise, truncated, burst; each paced at the controller's baud.
play: taps until told to stop, garbled at any other rate the reader sets.
Panel: raw positions of screen pixels for an offset, scaled or turned panel.
As a command: zavirsim.py [--baud N] (--pty | --device PATH) [STEP ...]
  steps: touch:X,Y  release  tap:X,Y  drag:X1,Y1;X2,Y2;...@STEPS
         noise:COUNT  truncated:X,Y,KEEP  wait:MS
  With --pty it prints the pty's path, then runs the steps given, then
  steps read from standard input (one per line) until end of input.
"""
import argparse
import math
import os
import random
import sys
import termios
import threading
import time
import tty

RAW_MAX = 16383
LEAD = 0xFF
RELEASE = bytes([0xFF, 0xFE, 0xFE])
BAUDS = (1200, 2400, 9600, 19200)


def data_bytes(x, y):
    """The four data bytes of a touch at raw (x, y)."""
    if not (0 <= x <= RAW_MAX and 0 <= y <= RAW_MAX):
        raise ValueError("raw position out of range: (%r, %r)" % (x, y))
    return bytes([x >> 7, x & 0x7F, y >> 7, y & 0x7F])


def touch_packet(x, y):
    return bytes([LEAD]) + data_bytes(x, y)


def decode_data(b):
    """Raw (x, y) of four data bytes, or None when they are not touch data."""
    if len(b) != 4 or any(v > 0x7F for v in b):
        return None
    return (b[0] * 128 + b[1], b[2] * 128 + b[3])


def drag_path(points, steps):
    """Raw positions along straight segments between points, `steps` per
    segment, ending exactly on the last point."""
    if not points:
        return []
    path = [tuple(points[0])]
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        for i in range(1, steps + 1):
            path.append((round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps)))
    return path


def noise(count, seed=None):
    """Random line noise; may contain lead bytes and release markers."""
    rng = random.Random(seed)
    return bytes(rng.randrange(256) for _ in range(count))


def garbled(count, seed=None):
    """What packets turn into when read at a wrong baud rate, made sure to
    fit no packet: no lead byte, no release marker, no 7-bit data byte."""
    rng = random.Random(seed)
    return bytes(rng.randrange(0x80, 0xFE) for _ in range(count))


def truncated(x, y, keep):
    """The first `keep` bytes of a touch packet (1 to 4)."""
    if not 1 <= keep <= 4:
        raise ValueError("keep must be 1 to 4")
    return touch_packet(x, y)[:keep]


def byte_time(baud):
    """Seconds one byte takes on the line at 8N1 (10 bits)."""
    return 10.0 / baud


class Panel:
    """Where a touch on a screen pixel lands in the controller's raw
    coordinates: the panel's own scale on each axis, an offset, and a small
    turn about the screen's centre (a panel mounted slightly askew).  The
    default is the panel the default corners describe: raw (0, 0) at the
    screen's top-left edge, raw (1024, 1024) at its bottom-right edge, one
    past the last pixel (pixel coordinates are edges, as the corners are)."""

    def __init__(self, screen=(1024, 768), offset=(0.0, 0.0), scale=None, degrees=0.0):
        self.width, self.height = screen
        self.offset = offset
        self.scale = scale or (1024.0 / self.width, 1024.0 / self.height)
        self.degrees = degrees

    def raw(self, px, py):
        """The raw position of a touch at pixel (px, py), clipped to what
        the controller can send."""
        cx, cy = self.width / 2.0, self.height / 2.0
        turn = math.radians(self.degrees)
        dx, dy = px - cx, py - cy
        x = cx + dx * math.cos(turn) - dy * math.sin(turn)
        y = cy + dx * math.sin(turn) + dy * math.cos(turn)
        rx = round(self.offset[0] + self.scale[0] * x)
        ry = round(self.offset[1] + self.scale[1] * y)
        return (min(max(rx, 0), RAW_MAX), min(max(ry, 0), RAW_MAX))


class Controller:
    """The controller end of a serial line."""

    def __init__(self, fd, path, baud=9600, owns_slave_fd=None):
        self.fd = fd
        self.path = path
        self.baud = baud
        self._slave_fd = owns_slave_fd
        self.sent = bytearray()

    @classmethod
    def open_pty(cls, baud=9600):
        master, slave = os.openpty()
        # Raw line discipline: no echo, no newline or control-character
        # handling, so every byte reaches the reader as written.
        tty.setraw(slave, termios.TCSANOW)
        return cls(master, os.ttyname(slave), baud, owns_slave_fd=slave)

    @classmethod
    def open_device(cls, path, baud=9600):
        fd = os.open(path, os.O_WRONLY | os.O_NOCTTY)
        return cls(fd, path, baud)

    def close(self):
        for fd in (self.fd, self._slave_fd):
            if fd is not None:
                try:
                    os.close(fd)
                except OSError:
                    pass
        self.fd = self._slave_fd = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def write(self, data, paced=True):
        """Writes bytes at the line's speed (or at once when not paced).
        Returns the seconds it took."""
        start = time.monotonic()
        if not paced:
            os.write(self.fd, data)
        else:
            per_byte = byte_time(self.baud)
            for i in range(len(data)):
                due = start + i * per_byte
                delay = due - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
                os.write(self.fd, data[i:i + 1])
            # The last byte is on the line once its own time has passed.
            delay = start + len(data) * per_byte - time.monotonic()
            if delay > 0:
                time.sleep(delay)
        self.sent += data
        return time.monotonic() - start

    def line_baud(self):
        """The rate the reader has set on a pty's line (None for a device
        or a rate outside BAUDS)."""
        if self._slave_fd is None:
            return None
        speed = termios.tcgetattr(self._slave_fd)[5]
        return next((b for b in BAUDS if getattr(termios, "B%d" % b) == speed), None)

    def play(self, x, y, every=0.04, clean=True):
        """Taps at raw (x, y), one every `every` seconds, in a thread of its
        own until the returned event is set.  A reader whose line is set to
        the controller's baud gets the taps; at any other rate, or always
        when not clean, it gets as many garbled bytes.  Written at once, not
        paced, so that an unread line fills slowly."""
        stop = threading.Event()

        def run():
            n = 0
            while not stop.is_set() and self.fd is not None:
                data = touch_packet(x, y) + RELEASE
                if not clean or self.line_baud() not in (None, self.baud):
                    data = garbled(len(data), seed=n)
                try:
                    self.write(data, paced=False)
                except (OSError, TypeError):  # closed meanwhile
                    return
                n += 1
                stop.wait(every)

        threading.Thread(target=run, daemon=True).start()
        return stop

    def touch(self, x, y):
        return self.write(touch_packet(x, y))

    def release(self):
        return self.write(RELEASE)

    def tap(self, x, y):
        return self.write(touch_packet(x, y) + RELEASE)

    def drag(self, points, steps=10, gap=0.0):
        total = 0.0
        for x, y in drag_path(points, steps):
            total += self.touch(x, y)
            if gap:
                time.sleep(gap)
        return total

    def burst(self, positions):
        """Several touch packets back to back, then a release."""
        return self.write(b"".join(touch_packet(x, y) for x, y in positions) + RELEASE)

    def noise(self, count, seed=None):
        return self.write(noise(count, seed))

    def truncated(self, x, y, keep):
        return self.write(truncated(x, y, keep))


def run_step(ctl, step, out=sys.stdout):
    """Carries out one command-line step; returns False for an unknown one."""
    name, _, arg = step.strip().partition(":")
    if not name:
        return True
    if name == "touch":
        x, y = (int(v) for v in arg.split(","))
        ctl.touch(x, y)
    elif name == "release":
        ctl.release()
    elif name == "tap":
        x, y = (int(v) for v in arg.split(","))
        ctl.tap(x, y)
    elif name == "drag":
        pts, _, steps = arg.partition("@")
        points = [tuple(int(v) for v in p.split(",")) for p in pts.split(";")]
        ctl.drag(points, int(steps or 10))
    elif name == "noise":
        ctl.noise(int(arg))
    elif name == "truncated":
        x, y, keep = (int(v) for v in arg.split(","))
        ctl.truncated(x, y, keep)
    elif name == "wait":
        time.sleep(int(arg) / 1000.0)
    else:
        print("unknown step: %s" % step, file=sys.stderr)
        return False
    print("done %s" % step.strip(), file=out, flush=True)
    return True


def main(argv=None):
    parser = argparse.ArgumentParser(description="Simulated serial touch controller")
    parser.add_argument("--baud", type=int, default=9600)
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--pty", action="store_true", help="make a pseudo-terminal and print its path")
    where.add_argument("--device", help="write into this serial device or pty")
    parser.add_argument("steps", nargs="*")
    args = parser.parse_args(argv)
    ctl = Controller.open_pty(args.baud) if args.pty else Controller.open_device(args.device, args.baud)
    with ctl:
        if args.pty:
            print(ctl.path, flush=True)
        for step in args.steps:
            if not run_step(ctl, step):
                return 2
        if args.pty:
            for line in sys.stdin:
                if not run_step(ctl, line):
                    return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
