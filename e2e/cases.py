"""The end-to-end cases: each gets a Kit (a fresh Wine machine, the built
programs, the simulator) and raises AssertionError when the suite
misbehaves."""
import contextlib
import importlib
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import harness  # noqa: E402
import zavirsim  # noqa: E402

SCREEN_W, SCREEN_H = harness.SCREEN
# The suite's programs, told "Windows 98" in a --win98 run (the harness's own
# ZDRIVE and ZAVIREMU stay on NT: a 9x client has no pipe to the stand-in).
WIN9X_PROGRAMS = ("SETUP.EXE", "TOUCH.EXE", "TRUEPOS.EXE", "UNINSTAL.EXE", "CONFIG.EXE",
                  "STARTVXD.EXE")


class Kit:
    """One case's machine and tools; close() ends everything it started."""

    def __init__(self, bin_dir, prefix, template, display, screenshots, name, log=print,
                 win98=False):
        self.bin_dir = bin_dir
        self.name = name
        self.log = log
        self.controllers = []
        self.machine = harness.Machine(prefix, display, fresh_from=template, screenshots=screenshots)
        self.machine.__enter__()
        self.work = os.path.join(self.machine.prefix, "harness")
        os.makedirs(self.work, exist_ok=True)
        if win98:
            path = os.path.join(self.work, "win98.reg")
            with open(path, "w") as f:
                f.write("REGEDIT4\n\n" + "".join(
                    '[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s]\n"Version"="win98"\n\n'
                    % p for p in WIN9X_PROGRAMS))
            self.machine.reg(["import", self.machine.windows_path(path)])

    def close(self):
        for c in self.controllers:
            c.close()
        self.machine.close()

    def exe(self, name):
        path = os.path.join(self.bin_dir, name)
        if not os.path.exists(path):
            raise AssertionError("%s is not built (%s)" % (name, path))
        return path

    # -- ZDRIVE
    # Commands that always say what they did or why they failed: one that
    # failed without a word never ran (Wine, now and then, starts nothing)
    # and is started once more.
    SAYS_WHY = ("click", "find", "controls", "check", "close", "send", "press", "waitpage",
                "msgbox", "answer")

    # Where each waiting command takes its bound in milliseconds.
    WAIT_MS_AT = {"find": 3, "msgbox": 1, "waitpipe": 1, "waitpage": 3}

    def zdrive(self, *args, timeout=30, expect_ok=True):
        args = list(args)
        at = self.WAIT_MS_AT.get(args[0])
        if at is not None:
            args[at] = int(int(args[at]) * harness.PATIENCE)
        command = [self.exe("ZDRIVE.EXE")] + [str(a) for a in args]
        r = self.machine.wine(command, timeout=timeout)
        if r.returncode != 0 and args[0] in self.SAYS_WHY and not (r.stdout + r.stderr).strip():
            self.log("ZDRIVE %s ended %d without a word: once more" % (args[0], r.returncode))
            r = self.machine.wine(command, timeout=timeout)
        lines = r.stdout.replace("\r\n", "\n").splitlines()
        self.log("ZDRIVE %s -> %s" % (" ".join(str(a) for a in args), lines))
        if expect_ok and r.returncode != 0:
            raise AssertionError("ZDRIVE %s failed (%d): %s %s" % (args[0], r.returncode, lines,
                                                                  r.stderr[-400:]))
        return lines

    def spawn_zdrive(self, *args, stdin=subprocess.DEVNULL):
        """ZDRIVE in the background; its output collects in a file."""
        out_path = os.path.join(self.work, "zdrive-%d.out" % time.monotonic_ns())
        out = open(out_path, "w")
        proc = self.machine.spawn([self.exe("ZDRIVE.EXE")] + [str(a) for a in args],
                                  stdin=stdin, stdout=out)
        out.close()
        proc.out_path = out_path
        return proc

    @staticmethod
    def output_of(proc):
        with open(proc.out_path, errors="replace") as f:
            return f.read().replace("\r\n", "\n").splitlines()

    def wait_for(self, what, test, timeout=10.0):
        deadline = time.monotonic() + timeout * harness.PATIENCE
        while True:
            value = test()
            if value:
                return value
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for %s" % what)
            time.sleep(0.05)

    def wait_line(self, proc, text, timeout=10.0, whole=False):
        """Waits for a line of ZDRIVE's output holding text (being text when
        whole: "shown" must not match "timeout never shown")."""
        def seen():
            return any(line.strip() == text if whole else text in line
                       for line in self.output_of(proc))
        return self.wait_for("'%s' from ZDRIVE" % text, seen, timeout)

    # -- the driver stand-in
    def start_emu(self, log_name="emu.log"):
        proc = self.machine.spawn([self.exe("ZAVIREMU.EXE"), "--log", "C:\\" + log_name])
        self.zdrive("waitpipe", 15000, timeout=40)
        self.emu_log_path = self.machine.c_drive(log_name)
        return proc

    def emu_log(self):
        with open(self.emu_log_path, errors="replace") as f:
            return [line for line in f.read().replace("\r\n", "\n").split("\n") if line]

    def text_file(self, *c_parts):
        with open(self.machine.c_drive(*c_parts), errors="replace") as f:
            return [line for line in f.read().replace("\r\n", "\n").split("\n") if line]

    def screenshot(self, step):
        path = self.machine.screenshot("%s-%s" % (self.name, step))
        self.log("screenshot %s" % path)
        return path

    def pty(self, baud=9600):
        c = zavirsim.Controller.open_pty(baud)
        self.controllers.append(c)
        return c


@contextlib.contextmanager
def bench_machines(parser, argv):
    """A benchmark's --build DIR (its programs, prefixes and screenshots) and
    an X display with the template prefix: yields (args, display, template)."""
    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--build", default=os.path.join(source, "build", "win64"))
    args = parser.parse_args(argv)
    args.build = os.path.abspath(args.build)
    args.bin = os.path.join(args.build, "bin")
    args.root = os.environ.get("ZAVIR_E2E_WINE_ROOT") or os.path.join(args.build, "e2e", "wine")
    args.screenshots = os.path.join(args.build, "screenshots")
    work = os.path.join(args.build, "bench")
    os.makedirs(work, exist_ok=True)
    number = os.environ.get("ZAVIR_E2E_DISPLAY")
    display = harness.Display(int(number.lstrip(":")) if number else None,
                              os.path.join(work, "xvfb.log")).start()
    started = time.monotonic()
    try:
        yield args, display.name, harness.make_template(os.path.join(args.root, "template"),
                                                        display.name)
    finally:
        display.stop()
    print("done in %.0f s" % (time.monotonic() - started))


def packet_words(x, y):
    return list(zavirsim.data_bytes(x, y))


RELEASE_WORDS = [0xFE, 0xFE, 0, 0]


def log_line(code, *words):
    return " ".join(["0x%06x" % code] + ["0x%08x" % w for w in words])


def expect_equal(got, want, what):
    if got != want:
        raise AssertionError("%s:\n  got  %r\n  want %r" % (what, got, want))


def session_output(lines, prefix):
    return [line for line in lines if line.startswith(prefix)]


# ---------------------------------------------------------------- cases

def driver_requests(kit):
    """Every request of the driver table through common/, as the stand-in
    logs it, and the raw position of the last touch."""
    kit.start_emu()
    first, second = (300, 700), (1234, 4321)
    lines = kit.zdrive(
        "session", "handover",
        "corners", 0, 0, 1024, 0, 1024, 1024, 0, 1024,
        "calib", 1, 0,
        "packet", *packet_words(*first), "packet", *RELEASE_WORDS, "packet", *RELEASE_WORDS,
        "rawpos",
        "calib", 0, 1,
        "packet", *packet_words(*second), "packet", *RELEASE_WORDS, "packet", *RELEASE_WORDS,
        "rawpos")
    expect_equal(lines[0], "open standin=1", "connection")
    expect_equal(session_output(lines, "rawpos"),
                 ["rawpos ok=1 %d %d" % first, "rawpos ok=1 %d %d" % second], "raw positions")
    release = log_line(0x222043, *RELEASE_WORDS)
    expect_equal(kit.emu_log(), [
        log_line(0x222027, 0, 0, 0),
        log_line(0x22200B, 0, 0, 0),
        log_line(0x22200F, 1024, 0, 0),
        log_line(0x222017, 0, 1024, 0),
        log_line(0x222013, 1024, 1024, 0),
        log_line(0x22201B, 1, 0, 0),
        log_line(0x222043, *packet_words(*first)), release, release,
        log_line(0x222007, 0, 0, 0),
        log_line(0x22201B, 0, 1, 0),
        log_line(0x222043, *packet_words(*second)), release, release,
        log_line(0x222007, 0, 0, 0),
    ], "request log")


def pointer_follows_touches(kit):
    """Touches at the corners and the centre of the raw square move the
    pointer to the screen's corners and centre; the release lifts the
    left button.  Seen where a program sees it: the messages a full-screen
    window receives and the left button's state.  (GetCursorPos is no
    witness here: with a full-screen window in front Wine leaves the X
    pointer where it was and answers from it 100 ms after a move.)"""
    kit.start_emu()
    window = kit.spawn_zdrive("testwindow", "C:\\window.log")
    kit.wait_for("the test window", lambda: os.path.exists(kit.machine.c_drive("window.log"))
                 and "ready" in kit.text_file("window.log"))
    kit.screenshot("0-window")
    corner = (SCREEN_W - 1, SCREEN_H - 1)
    expected = [((0, 0), (0, 0)), ((512, 512), (SCREEN_W // 2, SCREEN_H // 2)),
                ((1024, 1024), corner)]
    # One connection for the whole touch, as the touch service holds it: a
    # client that goes away lets go of the button its touch pressed.
    steps = []
    for raw, _ in expected:
        steps += ["packet"] + packet_words(*raw) + ["cursor", "hold"]
    steps += ["packet"] + RELEASE_WORDS + ["packet"] + RELEASE_WORDS + ["cursor"]
    touch = kit.spawn_zdrive("session", *steps, stdin=subprocess.PIPE)
    for step, (raw, pixel) in enumerate(expected, 1):
        kit.wait_for("touch %d held" % step,
                     lambda: kit.output_of(touch).count("holding") == step)
        if not session_output(kit.output_of(touch), "cursor")[-1].endswith("left=1"):
            raise AssertionError("left button not down after a touch at raw %s" % (raw,))
        want = ("down %d %d" if step == 1 else "move %d %d") % pixel
        kit.wait_for("'%s' at the window" % want, lambda: want in kit.text_file("window.log"))
        kit.screenshot("%d-touch-%d-%d" % (step, raw[0], raw[1]))
        touch.stdin.write("go\n")
        touch.stdin.flush()
    kit.wait_line(touch, "closed")
    if not session_output(kit.output_of(touch), "cursor")[-1].endswith("left=0"):
        raise AssertionError("left button still down after the release")
    kit.wait_for("the button-up message", lambda: kit.text_file("window.log")[-1].startswith("up"))
    # Moves before the touch (the window appearing under the pointer) and
    # repeats of a position are not the touch's.
    log = kit.text_file("window.log")
    touched = log[next(i for i, e in enumerate(log) if e.startswith("down")):]
    events = [e for e in touched if not e.startswith("move")
              or e in ("move %d %d" % expected[1][1], "move %d %d" % corner)]
    expect_equal(events, ["down 0 0", "move %d %d" % expected[1][1],
                          "move %d %d" % corner, "up %d %d" % corner],
                 "button and move messages the window received")
    kit.machine.end(window)


def two_clients(kit):
    """Two clients at once are both served; one killed in mid-session, and
    one that vanishes halfway through a request, leave the other working."""
    emu = kit.start_emu()
    # The first client stays connected through everything that follows.
    a = kit.spawn_zdrive("session", "packet", 1, 1, 1, 1, "hold", "packet", 5, 5, 5, 5, "rawpos",
                         stdin=subprocess.PIPE)
    kit.wait_line(a, "holding")
    lines = kit.zdrive("session", "packet", 2, 2, 2, 2, "rawpos")
    expect_equal(session_output(lines, "rawpos"), ["rawpos ok=1 258 258"], "second client")

    doomed = kit.spawn_zdrive("session", "packet", 3, 3, 3, 3, "hold", stdin=subprocess.PIPE)
    kit.wait_line(doomed, "holding")
    kit.machine.end(doomed)  # killed with its pipe open
    kit.zdrive("halfframe")
    time.sleep(0.3)
    if not harness.is_running(emu.pid):
        raise AssertionError("the stand-in died with its client")

    a.stdin.write("go\n")
    a.stdin.flush()
    kit.wait_line(a, "closed")
    expect_equal(session_output(kit.output_of(a), "rawpos"), ["rawpos ok=1 645 645"],
                 "first client, still connected after the others")
    lines = kit.zdrive("session", "packet", 4, 4, 4, 4, "rawpos")
    expect_equal(session_output(lines, "rawpos"), ["rawpos ok=1 516 516"], "a new client")
    log = kit.emu_log()
    for words in ([1, 1, 1, 1], [2, 2, 2, 2], [3, 3, 3, 3], [5, 5, 5, 5], [4, 4, 4, 4]):
        if log_line(0x222043, *words) not in log:
            raise AssertionError("packet %s missing from the log %r" % (words, log))


def bad_requests(kit):
    """Requests the table does not allow fail without harm."""
    emu = kit.start_emu()
    bad = [
        ("unknown code", [0x222003, 12, 12, 1, 2, 3, 0]),
        ("oversized input", [0x222043, 400, 16, 1, 2, 3, 4]),
        ("oversized answer", [0x222027, 12, 0x10000, 0, 0, 0, 0]),
        ("short packet", [0x222043, 8, 16, 1, 2, 0, 0]),
        ("no room for the position", [0x222007, 12, 4, 0, 0, 0, 0]),
        ("lead byte as data", [0x222043, 16, 16, 0xFF, 1, 2, 3]),
    ]
    for what, frame in bad:
        lines = kit.zdrive("frame", *frame)
        expect_equal(lines, ["frame answered=1 ok=0 returned=0"], what)
    lines = kit.zdrive("frame", 0x222007, 12, 12, 0, 0, 0, 0)
    expect_equal(lines, ["frame answered=1 ok=1 returned=8"], "a good frame after the bad ones")
    if not harness.is_running(emu.pid):
        raise AssertionError("the stand-in died")
    expect_equal(len(kit.emu_log()), len(bad) + 1, "one log line per request")
    expect_equal(kit.emu_log()[1], "0x222043 0x00000001 0x00000002 0x00000003 0x00000004",
                 "an oversized request logs the words its frame holds")


def serial_ports(kit):
    """COM1..COM4 reach the simulator's pseudo-terminals, byte for byte."""
    ctls = {n: kit.pty(baud=9600) for n in (1, 2, 3, 4)}
    names = {"\\Device\\Serial%d" % (n - 1): "COM%d" % n for n in ctls}
    kit.machine.map_com_ports({n: c.path for n, c in ctls.items()}, serialcomm=names)
    got = kit.machine.reg_query(r"HKLM\Hardware\Devicemap\Serialcomm")
    expect_equal({k: v[1] for k, v in got.items()}, names, "serialcomm")
    for n in (1, 4):
        c = ctls[n]
        data = (zavirsim.touch_packet(300, 700) + zavirsim.noise(6, seed=n)
                + zavirsim.truncated(5, 5, 3) + zavirsim.RELEASE)
        reader = kit.spawn_zdrive("readcom", n, len(data), 8000, 9600)
        kit.wait_line(reader, "opened", timeout=20)
        c.write(data)
        kit.wait_for("the reader", lambda: reader.poll() is not None, timeout=15)
        expect_equal(session_output(kit.output_of(reader), "bytes"),
                     ["bytes " + " ".join("%02x" % b for b in data)], "bytes read from COM%d" % n)


def window_driving(kit):
    """ZDRIVE finds a window, lists its controls, ticks a check box,
    clicks a button and answers the message box it opens."""
    kit.spawn_zdrive("testdialog", "C:\\dialog.log")
    found = kit.zdrive("find", "ZavirTestDialog", "Zavir Test Dialog", 10000)
    if not found[0].endswith('title="Zavir Test Dialog" visible=1'):
        raise AssertionError(found)
    controls = kit.zdrive("controls", "ZavirTestDialog", "-")
    want = ['id=200 class="Static" text="Touch settings" visible=1 enabled=1 checked=0',
            'id=100 class="Button" text="Beep" visible=1 enabled=1 checked=0',
            'id=1 class="Button" text="OK" visible=1 enabled=1 checked=0',
            'id=300 class="Button" text="Later" visible=1 enabled=0 checked=0']
    for w, line in zip(want, controls):
        if w not in line:
            raise AssertionError("control %r not in %r" % (w, line))
    expect_equal(len(controls), len(want), "controls")
    expect_equal(kit.zdrive("check", "ZavirTestDialog", "-", 100, 1), ["checked 1"], "check box")
    kit.zdrive("click", "ZavirTestDialog", "-", 1)
    box = kit.zdrive("msgbox", 10000)
    expect_equal(box, ['msgbox caption="Zavir Test" text="Button pressed"'], "message box")
    kit.screenshot("message-box")
    kit.zdrive("answer", 1, 5000)
    kit.wait_for("the answer", lambda: len(kit.text_file("dialog.log")) >= 2)
    expect_equal(kit.text_file("dialog.log"), ["ready", "answer 1 checked 1"], "dialog log")


def calibration_touches(kit):
    """In calibration mode a lifted finger is one button release on the
    face of the window under it, even over a button, and the raw position
    is answered; back in normal mode the same touch clicks the button."""
    kit.start_emu()
    kit.spawn_zdrive("testdialog", "C:\\dialog.log")
    kit.zdrive("find", "ZavirTestDialog", "Zavir Test Dialog", 10000)
    ok = [line for line in kit.zdrive("controls", "ZavirTestDialog", "-") if " id=1 " in " " + line]
    left, top, right, bottom = (int(v) for v in ok[0].split("rect=")[1].split(","))
    centre = ((left + right) // 2, (top + bottom) // 2)
    # The raw position that maps onto the button's centre with the default corners.
    raw = (round(centre[0] * 1024 / SCREEN_W), round(centre[1] * 1024 / SCREEN_H))
    lines = kit.zdrive("session", "calib", 1, 0, "packet", *packet_words(*raw),
                       "packet", *RELEASE_WORDS, "packet", *RELEASE_WORDS, "rawpos")
    expect_equal(session_output(lines, "rawpos"), ["rawpos ok=1 %d %d" % raw], "raw position")
    kit.wait_for("the release", lambda: len(kit.text_file("dialog.log")) >= 2)
    time.sleep(0.3)
    expect_equal(kit.text_file("dialog.log"), ["ready", "up %d %d" % centre],
                 "one release on the window's face")
    if kit.zdrive("msgbox", 300, expect_ok=False) != ["no message box"]:
        raise AssertionError("the calibration touch clicked the button")
    kit.screenshot("calibration-touch")
    kit.zdrive("session", "calib", 0, 0, "packet", *packet_words(*raw),
               "packet", *RELEASE_WORDS, "packet", *RELEASE_WORDS)
    box = kit.zdrive("msgbox", 5000)
    expect_equal(box, ['msgbox caption="Zavir Test" text="Button pressed"'],
                 "a normal touch clicks the button")
    kit.zdrive("answer", 2, 5000)
    kit.wait_for("the answer", lambda: kit.text_file("dialog.log")[-1].startswith("answer"))
    expect_equal(kit.text_file("dialog.log")[-1], "answer 2 checked 0", "message box answer")


def startup_hands_on_show_state_and_exit_code(kit):
    """The programs' own entry hands WinMain the show state it was started
    with (none: SW_SHOWDEFAULT) and ends the process with WinMain's result."""
    probe = kit.exe("ZSHOW.EXE")
    for how, show in (([], 10), (["start", "/wait", "/unix"], 1),
                      (["start", "/wait", "/min", "/unix"], 2)):  # SW_SHOWMINIMIZED
        expect_equal(kit.machine.wine(how + [probe], timeout=60).returncode, show,
                     "ZSHOW's exit code started by %r" % how)


CASES = {f.__name__: f for f in (driver_requests, pointer_follows_touches, two_clients,
                                 bad_requests, serial_ports, window_driving,
                                 calibration_touches, startup_hands_on_show_state_and_exit_code)}

# Each program keeps its own cases in e2e/cases_<program>.py, a module with
# CASES (name -> case) and DEMO_STEPS (steps for demo.py, in order).
PROGRAM_MODULES = ("cases_setup", "cases_touch", "cases_truepos", "cases_uninstal",
                   "cases_medium", "cases_config", "cases_standin")
DEMO_STEPS = {}
for _module_name in PROGRAM_MODULES:
    try:
        _module = importlib.import_module(_module_name)
    except ModuleNotFoundError as _error:
        if _error.name != _module_name:
            raise
        continue
    CASES.update(_module.CASES)
    DEMO_STEPS[_module_name] = list(getattr(_module, "DEMO_STEPS", []))
