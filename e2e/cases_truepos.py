"""End-to-end cases of the calibration tool TRUEPOS.EXE: the stand-in with
its request log, TOUCH.EXE reading the simulated controller on COM1, and
the calibration dialog taking the four target touches."""
import os

import cases
from cases import SCREEN_W, SCREEN_H, expect_equal, log_line

SETTINGS_KEY = r"HKLM\software\corvale\zavir"
CORNER_NAMES = ("LeftUpX", "LeftUpY", "RightUpX", "RightUpY", "RightDnX", "RightDnY",
                "LeftDnX", "LeftDnY")
# The five values the tool carries from its load to its save.
CARRIED_NAMES = ("ComPort", "ComBase", "ComIrq", "Mode", "RightButton")
RECORD_ORDER = CORNER_NAMES + ("ComPort", "ComBase", "ComIrq", "ComBaud", "Mode", "RightButton",
                               "BB_Len", "BB_st", "BB_Lst", "Beep", "First")
DEFAULT_CORNERS = (0, 0, 1024, 0, 1024, 1024, 0, 1024)

# A store as setup would leave it, with values the tool must carry or leave
# alone set apart from their defaults: ComBaud 19200 (not the tool's) and
# ComIrq, Mode, RightButton, First changed.
SEEDED = dict(zip(RECORD_ORDER, DEFAULT_CORNERS + (1, 1016, 5, 19200, 3, 1, 2, 2, 1, 0, 1)))

# Calibration requests; the touch service's hand-over and packets are not.
TOOL_CODES = (0x222007, 0x22200B, 0x22200F, 0x222013, 0x222017, 0x22201B)

IDC_OK, IDC_CANCEL, IDC_RETRY = 1044, 1062, 1063
TARGET_IDS = (1018, 1019, 1020, 1021)
INSTRUCTION_IDS = (1027, 1073, 1074, 1028, 1075)
RESULT_IDS = (1029, 1030)
BANNER_ID = 1065


def target_centres(w=SCREEN_W, h=SCREEN_H):
    """The targets' centres in the order they are shown: a tenth of the
    screen in from each edge."""
    return [(w // 10, h // 10), (w - w // 10, h // 10), (w // 10, h - h // 10),
            (w - w // 10, h - h // 10)]


def raw_at_pixel(corners, px, py, w=SCREEN_W, h=SCREEN_H):
    """The raw position the stand-in maps onto pixel (px, py) for an
    axis-aligned corner set (its corners are the screen's outer edges)."""
    lux, luy, rux, _, _, rdy, _, _ = corners
    return (round(lux + (rux - lux) * px / w), round(luy + (rdy - luy) * py / h))


def _div8(n):
    """Integer division by 8 toward zero, as 32-bit C division."""
    q = abs(n) // 8
    return q if n >= 0 else -q


def extrapolate(readings):
    """The corner set (record order) from the four readings TL, TR, BL, BR:
    each edge extended by an eighth of the span between its two targets."""
    (tlx, tly), (trx, try_), (blx, bly), (brx, bry) = readings
    top, bottom = _div8(trx - tlx - 1), _div8(brx - blx - 1)
    left, right = _div8(bly - tly - 1), _div8(bry - try_ - 1)
    return (tlx - top, tly - left, trx + top, try_ - right, brx + bottom, bry + right,
            blx - bottom, bly + left)


def corner_lines(c):
    """The four corner requests for a corner set in record order."""
    words = [v & 0xFFFFFFFF for v in c]
    return [log_line(0x22200B, words[0], words[1], 0), log_line(0x22200F, words[2], words[3], 0),
            log_line(0x222017, words[6], words[7], 0), log_line(0x222013, words[4], words[5], 0)]


def mode_line(collecting, fresh):
    return log_line(0x22201B, collecting, fresh, 0)


READ_LINE = log_line(0x222007, 0, 0, 0)


# ---------------------------------------------------------------- the rig

class Rig:
    """The stand-in, TOUCH.EXE on COM1 = the simulated controller, and the
    calibration tool, on a store seeded with `settings`."""

    def __init__(self, kit, settings, baud=19200):
        self.kit = kit
        self.controller = kit.pty(baud=baud)
        kit.machine.map_com_ports({1: self.controller.path},
                                  serialcomm={"\\Device\\Serial0": "COM1"})
        if settings is not None:
            seed_settings(kit, settings)
        self.emu = kit.start_emu()
        self.touch = kit.machine.spawn([kit.exe("TOUCH.EXE")])
        # The service's tenth tick hands over to the driver: from then on
        # it forwards what the controller sends.
        kit.wait_for("the touch service's hand-over",
                     lambda: log_line(0x222027, 0, 0, 0) in kit.emu_log(), timeout=60)
        self.tool = None

    def tool_log(self):
        """The calibration tool's requests, in order."""
        return [line for line in self.kit.emu_log() if int(line.split()[0], 16) in TOOL_CODES]

    def start_tool(self):
        self.tool = self.kit.machine.spawn([self.kit.exe("TRUEPOS.EXE")])
        self.kit.wait_for("the calibration dialog's start",
                          lambda: mode_line(1, 0) in self.tool_log(), timeout=60)
        self.kit.wait_for("the calibration dialog", lambda: self.controls(quiet=True), timeout=30)

    def controls(self, quiet=False):
        """{id: control line} of the calibration dialog (no caption, the
        only window of the tool's process with an empty title)."""
        lines = self.kit.zdrive("controls", "#32770", "", expect_ok=False)
        found = {}
        for line in lines:
            if line.startswith("control id="):
                found[int(line.split()[1][3:])] = line
        if IDC_RETRY not in found:
            return None if quiet else {}
        return found

    def shown(self):
        """Ids of the dialog's visible controls, and OK/Retry enabled."""
        c = self.controls()
        visible = {i for i, line in c.items() if " visible=1 " in line}
        enabled = {i for i, line in c.items() if " enabled=1 " in line}
        return visible, enabled

    def touch_target(self, raw, readings_before):
        """One tap at a raw position; returns once the tool has read it."""
        self.controller.tap(*raw)
        self.kit.wait_for("reading %d" % (readings_before + 1),
                          lambda: self.tool_log().count(READ_LINE) >= readings_before + 1,
                          timeout=30)

    def attempt(self, raws):
        """The four targets touched at these raw positions; returns once the
        tool has ended the attempt."""
        before = self.tool_log().count(READ_LINE)
        for n, raw in enumerate(raws):
            self.touch_target(raw, before + n)
        self.kit.wait_for("the end of the attempt",
                          lambda: self.tool_log()[-1:] == [mode_line(0, 0)], timeout=30)

    def press(self, button):
        self.kit.zdrive("click", "#32770", "", button)

    def wait_tool_exit(self):
        self.kit.wait_for("TRUEPOS to end", lambda: self.tool.poll() is not None, timeout=30)
        expect_equal(self.tool.returncode, 0, "TRUEPOS exit code")


def seed_settings(kit, values):
    """The settings key with these values (name -> number), in one import."""
    lines = ["Windows Registry Editor Version 5.00", "",
             "[HKEY_LOCAL_MACHINE\\software\\corvale\\zavir]"]
    lines += ['"%s"=dword:%08x' % (name, values[name] & 0xFFFFFFFF)
              for name in RECORD_ORDER if name in values]
    path = kit.machine.c_drive("seed.reg")
    with open(path, "w", encoding="utf-16") as f:
        f.write("\r\n".join(lines) + "\r\n")
    kit.machine.reg(["import", "C:\\seed.reg"])
    expect_equal(stored_settings(kit), values, "seeded settings")


def stored_settings(kit):
    got = kit.machine.reg_query(SETTINGS_KEY)
    if got is None:
        return None
    return {name: cases.harness.reg_number(entry) for name, entry in got.items()}


def default_raws():
    """The raw positions of the four targets with the default corners."""
    return [raw_at_pixel(DEFAULT_CORNERS, x, y) for x, y in target_centres()]


def settle(kit, what, check, timeout=15.0):
    """Runs check until it passes: the dialog changes its controls one by
    one while another process looks at them.  The last failure stands
    when it never passes."""
    failure = []

    def passes():
        try:
            check()
            return True
        except AssertionError as error:
            failure[:] = [error]
            return False
    try:
        kit.wait_for(what, passes, timeout=timeout)
    except AssertionError:
        raise (failure[0] if failure else AssertionError("timed out waiting for %s" % what)) from None


def expect_stage(rig, stage):
    """What the dialog shows while it waits for reading `stage` (0 to 3)."""
    visible, enabled = rig.shown()
    targets = {TARGET_IDS[stage]}
    expect_equal(visible & set(TARGET_IDS), targets, "targets shown at stage %d" % stage)
    for ids, what in ((INSTRUCTION_IDS, "instruction lines"), ((BANNER_ID,), "banner")):
        expect_equal(set(ids) <= visible, True, "%s shown at stage %d" % (what, stage))
    expect_equal(visible & set(RESULT_IDS), set(), "result lines at stage %d" % stage)
    expect_equal(enabled & {IDC_OK, IDC_RETRY, IDC_CANCEL}, {IDC_CANCEL},
                 "buttons enabled at stage %d" % stage)


def expect_review(rig):
    visible, enabled = rig.shown()
    expect_equal(visible & (set(TARGET_IDS) | set(INSTRUCTION_IDS) | {BANNER_ID}), set(),
                 "targets, instructions and banner in review")
    expect_equal(set(RESULT_IDS) <= visible, True, "result lines shown in review")
    expect_equal(enabled & {IDC_OK, IDC_RETRY, IDC_CANCEL}, {IDC_OK, IDC_RETRY, IDC_CANCEL},
                 "buttons enabled in review")


# ---------------------------------------------------------------- cases

def truepos_calibrate_ok(kit):
    """Four touches through TOUCH.EXE: the tool reads each one, sends the
    corners extrapolated from the readings in the driver's order, then
    (1, 1) and (0, 0); OK stores the thirteen values and leaves the rest
    of the store (ComBaud among them) as it was."""
    rig = Rig(kit, SEEDED)
    rig.start_tool()
    settle(kit, "the first stage", lambda: expect_stage(rig, 0))
    raws = default_raws()
    rig.touch_target(raws[0], 0)
    settle(kit, "the second stage", lambda: expect_stage(rig, 1))
    kit.screenshot("target-stage")
    for n in (1, 2, 3):
        rig.touch_target(raws[n], n)
    kit.wait_for("the end of the attempt", lambda: rig.tool_log()[-1:] == [mode_line(0, 0)])
    corners = extrapolate(raws)
    expect_equal(rig.tool_log(), [mode_line(1, 0)] + [READ_LINE] * 4 + corner_lines(corners)
                 + [mode_line(1, 1), mode_line(0, 0)], "the tool's requests")
    # Every touch went the whole way: controller, COM1, TOUCH.EXE, stand-in.
    log = kit.emu_log()
    for raw in raws:
        if log_line(0x222043, *cases.packet_words(*raw)) not in log:
            raise AssertionError("touch at raw %s not forwarded by TOUCH.EXE: %r" % (raw, log))
    settle(kit, "the review", lambda: expect_review(rig))
    kit.screenshot("review-stage")
    rig.press(IDC_OK)
    rig.wait_tool_exit()
    expect_equal(rig.tool_log()[-1], mode_line(0, 0), "OK's last request")
    want = dict(SEEDED)
    want.update(zip(CORNER_NAMES, corners))
    expect_equal(stored_settings(kit), want, "the store after OK")


def truepos_cancel_restores(kit):
    """Cancel after a complete attempt sends back the corners the store
    held at the start and writes nothing."""
    start = (-30, 12, 1040, -8, 1030, 1050, 5, 1020)
    seeded = dict(SEEDED)
    seeded.update(zip(CORNER_NAMES, start))
    rig = Rig(kit, seeded)
    rig.start_tool()
    raws = [raw_at_pixel(start, x, y) for x, y in target_centres()]
    rig.attempt(raws)
    before = len(rig.tool_log())
    rig.press(IDC_CANCEL)
    rig.wait_tool_exit()
    expect_equal(rig.tool_log()[before:], corner_lines(start) + [mode_line(0, 0)],
                 "Cancel's requests")
    expect_equal(stored_settings(kit), seeded, "the store after Cancel")


def truepos_touch_on_cancel(kit):
    """A touch on Cancel while the targets are up is a click on Cancel and
    no reading, though the stand-in gives it to the dialog's face."""
    rig = Rig(kit, SEEDED)
    rig.start_tool()
    first = default_raws()
    rig.touch_target(first[0], 0)
    rect = rig.controls()[IDC_CANCEL].split("rect=")[1].split()[0].split(",")
    left, top, right, bottom = (int(n) for n in rect)
    mark = len(rig.tool_log())
    rig.controller.tap(*raw_at_pixel(DEFAULT_CORNERS, (left + right) // 2, (top + bottom) // 2))
    rig.wait_tool_exit()
    expect_equal(rig.tool_log()[mark:], corner_lines(DEFAULT_CORNERS) + [mode_line(0, 0)],
                 "a touch on Cancel's requests")
    expect_equal(stored_settings(kit), SEEDED, "the store after a touch on Cancel")


def truepos_retry_cancel(kit):
    """Retry starts a new attempt with the first attempt's corners still in
    force; Cancel then gives back the start corners, not either attempt's."""
    rig = Rig(kit, SEEDED)
    rig.start_tool()
    first = default_raws()
    rig.attempt(first)
    settle(kit, "the review", lambda: expect_review(rig))
    mark = len(rig.tool_log())
    rig.press(IDC_RETRY)
    kit.wait_for("Retry's request", lambda: rig.tool_log()[mark:] == [mode_line(1, 0)])
    settle(kit, "the first stage again", lambda: expect_stage(rig, 0))
    # The first attempt's corners map the second attempt's touches.
    corners = extrapolate(first)
    second = [raw_at_pixel(corners, x, y) for x, y in target_centres()]
    rig.attempt(second)
    expect_equal(rig.tool_log()[mark:], [mode_line(1, 0)] + [READ_LINE] * 4
                 + corner_lines(extrapolate(second)) + [mode_line(1, 1), mode_line(0, 0)],
                 "the second attempt's requests")
    mark = len(rig.tool_log())
    rig.press(IDC_CANCEL)
    rig.wait_tool_exit()
    expect_equal(rig.tool_log()[mark:], corner_lines(DEFAULT_CORNERS) + [mode_line(0, 0)],
                 "Cancel's requests after Retry")
    expect_equal(stored_settings(kit), SEEDED, "the store after Retry and Cancel")


CASES = {f.__name__: f for f in (truepos_calibrate_ok, truepos_cancel_restores,
                                 truepos_touch_on_cancel, truepos_retry_cancel)}


# ---------------------------------------------------------------- demo

def say(text):
    print(text, flush=True)


def control_visible(kit, control_id):
    return any(line.startswith("control id=%d " % control_id) and " visible=1 " in line
               for line in kit.zdrive("controls", "#32770", "", expect_ok=False))


def ensure_touch_service(demo):
    """TOUCH.EXE forwarding COM1, started here unless an earlier step
    left it running (with a store naming COM1 if there is none yet)."""
    kit = demo.kit
    if kit.zdrive("find", "Halvern Driver", "Halvern", 0, expect_ok=False)[0].startswith("window"):
        return
    if stored_settings(kit) is None:
        seed_settings(kit, dict(zip(RECORD_ORDER, DEFAULT_CORNERS + (1, 1016, 4, 9600, 1, 0,
                                                                     2, 2, 1, 0, 0))))
        say("    settings key made with the defaults (COM1, 9600 baud)")
    handovers = kit.emu_log().count(log_line(0x222027, 0, 0, 0))
    kit.machine.spawn([kit.exe("TOUCH.EXE")])
    kit.wait_for("the touch service's hand-over",
                 lambda: kit.emu_log().count(log_line(0x222027, 0, 0, 0)) > handovers, timeout=60)
    say("    TOUCH.EXE started: it forwards the controller on COM1")


def calibration(demo):
    """A calibration with four simulated touches and OK (TRUEPOS.EXE)"""
    kit = demo.kit
    if not demo.built("TRUEPOS.EXE") or not demo.built("TOUCH.EXE"):
        say("    TRUEPOS.EXE or TOUCH.EXE is not built yet: calibration skipped")
        return
    ensure_touch_service(demo)
    log = lambda: [line for line in kit.emu_log() if int(line.split()[0], 16) in TOOL_CODES]
    start = len(log())
    tool = kit.machine.spawn([kit.exe("TRUEPOS.EXE")])
    kit.wait_for("the calibration dialog", lambda: mode_line(1, 0) in log()[start:], timeout=60)
    kit.wait_for("the first target", lambda: control_visible(kit, TARGET_IDS[0]), timeout=30)
    say("    TRUEPOS.EXE shows its first target (top-left)")
    demo.screenshot("calibration-first-target")
    corners = current_corners(kit)
    names = ("top-left", "top-right", "bottom-left", "bottom-right")
    for n, (pixel, name) in enumerate(zip(target_centres(), names)):
        raw = raw_at_pixel(corners, *pixel)
        demo.controller.tap(*raw)
        kit.wait_for("reading %d" % (n + 1), lambda: log()[start:].count(READ_LINE) >= n + 1,
                     timeout=30)
        say("    touch on the %s target, pixel %s, raw %s: one beep" % (name, pixel, raw))
        if n == 1:
            kit.wait_for("the third target", lambda: control_visible(kit, TARGET_IDS[2]))
            demo.screenshot("calibration-third-target")
    kit.wait_for("the review", lambda: log()[-1:] == [mode_line(0, 0)], timeout=30)
    kit.wait_for("the result lines", lambda: control_visible(kit, RESULT_IDS[0]))
    demo.screenshot("calibration-review")
    say("    new corners sent to the driver:")
    for line in log()[start:]:
        if line.split()[0] in ("0x22200b", "0x22200f", "0x222017", "0x222013"):
            say("      " + line)
    kit.zdrive("click", "#32770", "", IDC_OK)
    kit.wait_for("TRUEPOS to end", lambda: tool.poll() is not None, timeout=30)
    stored = stored_settings(kit) or {}
    say("    OK: the store now holds %s" % ", ".join(
        "%s %d" % (name, stored[name]) for name in CORNER_NAMES if name in stored))
    demo.screenshot("calibration-done")


def current_corners(kit):
    """The corners in the store (the stand-in's start corners), else the
    defaults."""
    stored = stored_settings(kit) or {}
    if all(name in stored for name in CORNER_NAMES):
        return tuple(stored[name] for name in CORNER_NAMES)
    return DEFAULT_CORNERS


DEMO_STEPS = [calibration]
