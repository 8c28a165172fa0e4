"""CONFIG.EXE under Wine: the settings viewer, the controller finder over
simulated controllers on pseudo-terminals, and the touch test while the
touch service runs."""
import re
import time

import cases
from cases import expect_equal
import cases_touch
import cases_truepos
import harness

DIALOG, TITLE = "#32770", "Halvern XR Settings"
REPORT, CLOSE, FIND, TEST = 1080, 1081, 1082, 1083
SETTINGS_KEY = "HKLM\\software\\corvale\\zavir"
FINDER = "Halvern XR Find the Controller"
TABLE, STATUS, START, STOP, STORE, FINDER_CLOSE = 1090, 1091, 1092, 1093, 1094, 1095
TOUCH_TEST = "Halvern XR Touch Test"
TEST_LINE, TEST_END = 1100, 1101
# The finder's bound: 2 s for each of four rates on each port, and the
# time a page of ZDRIVE takes to look.
SEARCH_LIMIT = 90


def open_viewer(kit):
    """Just after a new session Wine now and then starts no program at all:
    one that never ran is started once more."""
    for tries_left in (1, 0):
        proc = kit.machine.spawn([kit.exe("CONFIG.EXE")])
        try:
            lines = kit.zdrive("waitpage", DIALOG, TITLE, 30000, REPORT, CLOSE, timeout=60)
            break
        except AssertionError:
            if not (tries_left and kit.machine.never_started(proc)):
                raise AssertionError("no viewer; CONFIG.EXE %s, stderr: %r" % (
                    "ended %r" % proc.poll() if proc.poll() is not None else "runs",
                    kit.machine.errors_of(proc)[-2000:]))
    report = [line for line in lines if line.startswith("control id=%d " % REPORT)]
    expect_equal(len(report), 1, "the report control")
    return proc, report[0]


def close_viewer(kit, proc):
    kit.zdrive("click", DIALOG, TITLE, CLOSE)
    kit.wait_for("CONFIG.EXE to end", lambda: proc.poll() is not None, timeout=30)
    expect_equal(proc.returncode, 0, "CONFIG.EXE's exit code")


def expect_in(text, part, what):
    if part not in text:
        raise AssertionError("%s: %r not in %r" % (what, part, text))


def config_shows_stored_settings(kit):
    """The stored values with their meanings, read only; the touch test
    without the touch service says what it needs."""
    kit.machine.reg_add(SETTINGS_KEY, "LeftUpX", "REG_DWORD", 0xFFFFFFFD)
    kit.machine.reg_add(SETTINGS_KEY, "ComPort", "REG_DWORD", 2)
    before = kit.machine.reg_query(SETTINGS_KEY)
    proc, report = open_viewer(kit)
    expect_in(report, "software\\corvale\\zavir (read only)", "report heading")
    expect_in(report, "LeftUpX\t-3\traw X at the upper-left corner", "stored value")
    expect_in(report, "LeftUpY\tmissing", "missing value")
    kit.screenshot("viewer")
    kit.zdrive("click", DIALOG, TITLE, TEST)
    expect_equal(kit.zdrive("msgbox", 20000, timeout=40)[:1],
                 ['msgbox caption="Touch Test" text="Start TOUCH.EXE first: the touch test '
                  'needs it."'], "the touch test without TOUCH")
    kit.zdrive("answer", 1, 5000)
    close_viewer(kit, proc)
    expect_equal(kit.machine.reg_query(SETTINGS_KEY), before, "settings after viewing")


def config_without_settings(kit):
    """A machine without the suite is told so plainly."""
    proc, report = open_viewer(kit)
    expect_in(report, "software\\corvale\\zavir is missing", "report without settings")
    expect_in(report, "run SETUP.EXE", "advice without settings")
    close_viewer(kit, proc)
    expect_equal(kit.machine.reg_query(SETTINGS_KEY), None, "settings key after viewing")


def controls(kit, title):
    """{control id: (text, visible)} of CONFIG's page with that title."""
    found = {}
    for line in kit.zdrive("controls", DIALOG, title):
        m = re.match(r'control id=(\d+) class="[^"]*" text="(.*)" visible=(\d)', line)
        if m:
            found[int(m.group(1))] = (m.group(2), m.group(3) == "1")
    return found


def open_page(kit, button, title, *ids):
    kit.zdrive("click", DIALOG, TITLE, button)
    kit.zdrive("waitpage", DIALOG, title, 30000, *ids, timeout=60)


def finder_machine(kit, garbled_com1=True):
    """COM2 a controller at 9600 baud that the user keeps touching, and
    (unless not wanted) COM1 a line whose bytes fit no packet; the store
    names COM1 at 1200 baud."""
    clean = kit.pty(baud=9600)
    ports, names = {2: clean.path}, {"\\Device\\Serial1": "COM2"}
    if garbled_com1:
        noisy = kit.pty(baud=9600)
        ports[1], names["\\Device\\Serial0"] = noisy.path, "COM1"
    kit.machine.map_com_ports(ports, serialcomm=names)
    for name, value in (("ComPort", 1), ("ComBase", 0x3F8), ("ComIrq", 4), ("ComBaud", 1200),
                        ("LeftUpX", 7)):
        kit.machine.reg_add(SETTINGS_KEY, name, "REG_DWORD", value)
    players = [clean.play(300, 700)]
    if garbled_com1:
        players.append(noisy.play(300, 700, clean=False))
    return players


def run_search(kit):
    """Start, then the page once the whole table is done; logs its time."""
    kit.zdrive("click", DIALOG, FINDER, START)
    started = time.monotonic()

    def status():
        return controls(kit, FINDER)[STATUS][0]

    kit.wait_for("the search to start", lambda: status().startswith("Listening"), timeout=30)
    kit.wait_for("the search's end", lambda: not status().startswith("Listening"),
                 timeout=SEARCH_LIMIT)
    took = time.monotonic() - started
    page = controls(kit, FINDER)
    settings = page[TABLE][0].count("\t") - 4
    kit.log("finder table: %r" % page[TABLE][0])
    print("finder: the full table (%d settings) in %.1f s" % (settings, took), flush=True)
    return page


def cells(table, port):
    """The table's cells for COM <port>, in the order of its rates."""
    for line in table.split("  "):
        parts = line.strip().split("\t")
        if parts[0] == "COM %d" % port:
            return parts[1:]
    raise AssertionError("no row for COM %d in %r" % (port, table))


def counts(cell):
    return tuple(int(v) for v in cell.split("/"))


def config_finder_names_and_stores_the_clean_setting(kit):
    """Of a garbled COM1 and a COM2 clean only at 9600 baud, the finder
    names COM2 at 9600 and stores it; the other values stay."""
    finder_machine(kit)
    before = kit.machine.reg_query(SETTINGS_KEY)
    proc, _ = open_viewer(kit)
    open_page(kit, FIND, FINDER, TABLE, START, STORE)
    page = run_search(kit)
    expect_equal(page[STATUS][0], "Controller found on COM 2 at 9600 baud", "the finding")
    rates = ("19200", "9600", "2400", "1200")
    for rate, cell in zip(rates, cells(page[TABLE][0], 1)):
        touches, releases, stray = counts(cell)
        if touches or releases or not stray:
            raise AssertionError("COM1 at %s: %s is not refused as garbled" % (rate, cell))
    for rate, cell in zip(rates, cells(page[TABLE][0], 2)):
        touches, releases, stray = counts(cell)
        if (rate == "9600") != (touches > 0 and releases > 0 and stray == 0):
            raise AssertionError("COM2 at %s: %s" % (rate, cell))
    kit.screenshot("finder")
    kit.zdrive("click", DIALOG, FINDER, STORE)
    kit.wait_for("the stored line", lambda: controls(kit, FINDER)[STATUS][0].startswith(
        "Stored: COM 2 at 9600 baud"), timeout=20)
    after = kit.machine.reg_query(SETTINGS_KEY)
    expect_equal({k: harness.reg_number(after[k]) for k in ("ComPort", "ComBase", "ComIrq",
                                                             "ComBaud")},
                 {"ComPort": 2, "ComBase": 0x2F8, "ComIrq": 3, "ComBaud": 9600}, "stored")
    expect_equal(after["LeftUpX"], before["LeftUpX"], "a value the finder does not write")
    kit.zdrive("click", DIALOG, FINDER, FINDER_CLOSE)
    close_viewer(kit, proc)


def config_finder_tells_a_standard_user(kit):
    """Where only reading the key is allowed, Store says so plainly and
    nothing changes."""
    finder_machine(kit, garbled_com1=False)
    kit.zdrive("readonlykey", "software\\corvale\\zavir")
    before = kit.machine.reg_query(SETTINGS_KEY)
    proc, _ = open_viewer(kit)
    open_page(kit, FIND, FINDER, TABLE, START, STORE)
    expect_equal(run_search(kit)[STATUS][0], "Controller found on COM 2 at 9600 baud",
                 "the finding")
    kit.zdrive("click", DIALOG, FINDER, STORE)
    box = kit.zdrive("msgbox", 20000, timeout=40)
    if not box[0].startswith('msgbox caption="Cannot Save Settings" text="COM 2 at 9600 baud was '
                             'not stored: this user may not change the settings'):
        raise AssertionError("message: %r" % box)
    kit.screenshot("not-stored")
    kit.zdrive("answer", 1, 5000)
    expect_equal(kit.machine.reg_query(SETTINGS_KEY), before, "settings after the refusal")
    kit.zdrive("click", DIALOG, FINDER, FINDER_CLOSE)
    close_viewer(kit, proc)


def touch_running(kit):
    """The touch service on COM1 with the stand-in, handed over."""
    controller = cases_touch.service_machine(kit)
    cases_touch.start_touch(kit)
    cases_touch.wait_hand_over(kit)
    return controller


def config_finder_while_touch_holds_the_port(kit):
    """With TOUCH running the finder says why and offers nothing else."""
    touch_running(kit)
    proc, _ = open_viewer(kit)
    open_page(kit, FIND, FINDER, STATUS)
    page = controls(kit, FINDER)
    if not page[STATUS][0].startswith("TOUCH.EXE runs and holds"):
        raise AssertionError("finder while TOUCH runs: %r" % (page[STATUS],))
    expect_equal([i for i in (TABLE, START, STOP, STORE) if page[i][1]], [], "offered controls")
    kit.screenshot("touch-holds-port")
    kit.zdrive("click", DIALOG, FINDER, FINDER_CLOSE)
    close_viewer(kit, proc)


def end_test_page(kit, *how):
    kit.zdrive(how[0], DIALOG, TOUCH_TEST, *how[1:])
    kit.wait_for("the test page to end",
                 lambda: kit.zdrive("find", DIALOG, TOUCH_TEST, 0, expect_ok=False) == ["no window"])


def config_touch_test_marks_each_touch(kit):
    """Each tap on the line is a line of figures where the simulator sent
    it, the screen's corner included; stored corners other than those in
    force show how far apart the two are; End test and closing the page
    leave calibration mode and the corners alone."""
    controller = touch_running(kit)
    proc, _ = open_viewer(kit)
    open_page(kit, TEST, TOUCH_TEST, TEST_LINE, TEST_END)
    # Default corners: raw 0..1024 spans the screen, the far edge on the last pixel.
    for n, (raw, pixel) in enumerate((((700, 400), (700, 300)), ((1024, 1024), (1023, 767)),
                                      ((300, 700), (300, 525))), 1):
        controller.tap(*raw)
        want = ("Touch %d: raw %d, %d; corners give %d, %d; pointer at %d, %d; 0 px apart"
                % ((n,) + raw + pixel + pixel))
        kit.wait_for("'%s'" % want, lambda: controls(kit, TOUCH_TEST)[TEST_LINE][0] == want,
                     timeout=30)
    kit.screenshot("touch-test")
    end_test_page(kit, "click", TEST_END)
    # Stored 64 raw units in from the stand-in's on every side.
    for name, value in (("LeftUpX", 64), ("LeftUpY", 64), ("RightUpX", 1088), ("RightUpY", 64),
                        ("RightDnX", 1088), ("RightDnY", 1088), ("LeftDnX", 64),
                        ("LeftDnY", 1088)):
        kit.machine.reg_add(SETTINGS_KEY, name, "REG_DWORD", value)
    open_page(kit, TEST, TOUCH_TEST, TEST_LINE, TEST_END)
    controller.tap(700, 400)
    want = "Touch 1: raw 700, 400; corners give 636, 252; pointer at 700, 300; 80 px apart"
    kit.wait_for("'%s'" % want, lambda: controls(kit, TOUCH_TEST)[TEST_LINE][0] == want,
                 timeout=30)
    end_test_page(kit, "close")
    close_viewer(kit, proc)
    tool_codes = {0x22200B, 0x22200F, 0x222013, 0x222017, 0x22201B}
    sent = [line for line in kit.emu_log() if int(line.split()[0], 16) in tool_codes]
    expect_equal(sent, [], "corner and calibration-mode requests")


def demo_config(demo):
    """CONFIG.EXE: the touch test beside the running service, then the
    finder on COM1 once the service is ended."""
    kit = demo.kit
    if not demo.built("CONFIG.EXE") or not demo.built("TOUCH.EXE"):
        print("    CONFIG.EXE or TOUCH.EXE is not built yet: skipped", flush=True)
        return
    cases_truepos.ensure_touch_service(demo)
    proc, _ = open_viewer(kit)
    open_page(kit, TEST, TOUCH_TEST, TEST_LINE)
    for raw in ((120, 120), (512, 512), (904, 904), (1024, 0)):
        demo.controller.tap(*raw)
        kit.wait_for("the mark", lambda: controls(kit, TOUCH_TEST)[TEST_LINE][0].startswith(
            "Touch") and "raw %d, %d;" % raw in controls(kit, TOUCH_TEST)[TEST_LINE][0],
            timeout=30)
        print("    " + controls(kit, TOUCH_TEST)[TEST_LINE][0], flush=True)
    demo.screenshot("config-touch-test")
    kit.zdrive("click", DIALOG, TOUCH_TEST, TEST_END)
    for service in [p for p in kit.machine.spawned if any("TOUCH.EXE" in a for a in p.args)]:
        kit.machine.end(service)
    kit.wait_for("TOUCH to end", lambda: kit.zdrive("find", "Halvern Driver", "Halvern", 0,
                                                    expect_ok=False) == ["no window"], timeout=30)
    print("    TOUCH.EXE ended, so that the finder may open COM1", flush=True)
    stop = demo.controller.play(512, 512)
    open_page(kit, FIND, FINDER, TABLE, START)
    page = run_search(kit)
    stop.set()
    print("    " + page[STATUS][0], flush=True)
    demo.screenshot("config-finder")
    kit.zdrive("click", DIALOG, FINDER, FINDER_CLOSE)
    close_viewer(kit, proc)


CASES = {f.__name__: f for f in (config_shows_stored_settings, config_without_settings,
                                 config_finder_names_and_stores_the_clean_setting,
                                 config_finder_tells_a_standard_user,
                                 config_finder_while_touch_holds_the_port,
                                 config_touch_test_marks_each_touch)}
DEMO_STEPS = [demo_config]
