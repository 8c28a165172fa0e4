"""End-to-end cases of the touch service TOUCH.EXE: COM1 is the simulated
controller on a pseudo-terminal, the driver is the stand-in with its
request log, and what TOUCH does is seen where the rest of the system sees
it: the requests the driver receives, the windows on the screen, the
message boxes and the exit code."""
import os
import re
import time

from cases import RELEASE_WORDS, SCREEN_H, SCREEN_W, expect_equal, log_line, packet_words
import harness
import zavirsim

SETTINGS_KEY = r"HKLM\Software\corvale\zavir"
STATUS_CLASS, STATUS_TITLE = "#32770", "Halvern XR Driver"
MAIN_CLASS, MAIN_TITLE = "Halvern Driver", "Halvern"
MARKER_CLASS, MARKER_TITLE = "Halvern Driver Load", "Halvern Load"
HAND_OVER = log_line(0x222027, 0, 0, 0)
RELEASE = log_line(0x222043, *RELEASE_WORDS)
TRAY_TITLE = "Wine System Tray"
# Nine reading ticks on a silent line at about 251 ms each come before the
# hand-over; without the read time-outs they would take 9 x 20 ms.  The
# watcher may see the window late on a starved machine: half of it will do.
IDLE_TICKS_MS = 1100


def touch_line(x, y):
    return log_line(0x222043, *packet_words(x, y))


def service_machine(kit, baud=9600, com_baud=9600, stand_in=True):
    """COM1 on a simulated controller, the settings key naming it, and the
    driver stand-in (unless stand_in is False).  Returns the controller."""
    controller = kit.pty(baud=baud)
    kit.machine.map_com_ports({1: controller.path}, serialcomm={"\\Device\\Serial0": "COM1"})
    kit.machine.reg_add(SETTINGS_KEY, "ComPort", "REG_DWORD", 1)
    kit.machine.reg_add(SETTINGS_KEY, "ComBaud", "REG_DWORD", com_baud)
    if stand_in:
        kit.start_emu()
    return controller


def start_touch(kit):
    return kit.machine.spawn([kit.exe("TOUCH.EXE")])


def watch_status_window(kit):
    """ZDRIVE watching for the status window, running before TOUCH starts
    so that it sees the window from its first moment."""
    watch = kit.spawn_zdrive("watch", STATUS_CLASS, STATUS_TITLE, 90000)
    kit.wait_line(watch, "watching", timeout=30)
    return watch


def wait_hand_over(kit, timeout=60.0):
    kit.wait_for("request 0x222027 in the stand-in's log",
                 lambda: HAND_OVER in kit.emu_log(), timeout=timeout)


def wait_lines(kit, count, timeout=30.0):
    """The stand-in's log once it holds `count` lines, and a moment later
    still (nothing more is to come)."""
    kit.wait_for("%d lines in the stand-in's log" % count,
                 lambda: len(kit.emu_log()) >= count, timeout=timeout)
    # The pump has had its chance to send anything extra: one more idle
    # read of the lead byte lasts about a quarter of a second.
    time.sleep(0.6)
    return kit.emu_log()


def window_state(kit, cls, title):
    """'visible', 'hidden' or None when there is no such window."""
    lines = kit.zdrive("find", cls, title, 0, expect_ok=False)
    if not lines or not lines[0].startswith("window "):
        return None
    return "visible" if lines[0].endswith("visible=1") else "hidden"


def wait_exit(kit, proc, timeout=30.0):
    kit.wait_for("TOUCH to end", lambda: proc.poll() is not None, timeout=timeout)
    return proc.returncode


def answer_box(kit, caption, text, shot):
    box = kit.zdrive("msgbox", 30000, timeout=60)
    expect_equal(box, ['msgbox caption="%s" text="%s"' % (caption, text)], "message box")
    kit.screenshot(shot)
    kit.zdrive("answer", 1, 5000)


def raw_to_pixel(x, y):
    """Where the stand-in puts the pointer for a raw position with its
    default corners: raw 0..1024 spans the screen from edge to edge, and the
    far edge itself is pulled onto the last pixel."""
    return (min(x * SCREEN_W / 1024.0, SCREEN_W - 1), min(y * SCREEN_H / 1024.0, SCREEN_H - 1))


def pixel_to_raw(x, y):
    return (round(x * 1024 / SCREEN_W), round(y * 1024 / SCREEN_H))


# ---------------------------------------------------------------- cases

def touch_forwards_packets(kit):
    """On a silent line the service hands over once, after its nine idle
    reading ticks, and hides its window; then every packet reaches the
    driver with its bytes, each release twice, in order; a stray byte and
    a packet cut short by a silent line are dropped."""
    controller = service_machine(kit)
    watch = watch_status_window(kit)
    touch = start_touch(kit)
    kit.wait_line(watch, "shown", timeout=60, whole=True)
    kit.wait_for("the status window to hide", lambda: watch.poll() is not None, timeout=60)
    report = kit.output_of(watch)[-1]
    match = re.match(r"hidden after (\d+) ms", report)
    if not match:
        raise AssertionError("status window: %s" % report)
    kit.log("status window hidden %s ms after it was shown" % match.group(1))
    if int(match.group(1)) < IDLE_TICKS_MS:
        raise AssertionError("handed over %s ms after showing its window; nine idle reading "
                             "ticks take more than %d ms" % (match.group(1), IDLE_TICKS_MS))
    expect_equal(wait_lines(kit, 1), [HAND_OVER], "the stand-in's log after start-up")
    expect_equal(window_state(kit, MAIN_CLASS, MAIN_TITLE), "hidden", "the hidden main window")

    controller.touch(300, 700)
    controller.release()
    controller.write(b"\x12")  # a stray byte between packets
    # 0xFF 0xFE and a byte other than 0xFE begin a touch packet.
    controller.write(bytes([0xFF, 0xFE, 0x05, 0x01, 0x02]))
    controller.touch(1234, 4321)
    controller.release()
    want = [HAND_OVER, touch_line(300, 700), RELEASE, RELEASE,
            log_line(0x222043, 0xFE, 0x05, 0x01, 0x02), touch_line(1234, 4321), RELEASE, RELEASE]
    expect_equal(wait_lines(kit, len(want)), want, "requests after a touch, a release, a stray "
                 "byte and a touch packet whose first data byte is 0xFE")

    # A packet cut short by a silent line is dropped; the next one is not.
    controller.truncated(5, 5, 3)
    time.sleep(2.0)
    controller.touch(16383, 0)
    controller.release()
    want += [touch_line(16383, 0), RELEASE, RELEASE]
    expect_equal(wait_lines(kit, len(want)), want, "requests after a packet cut short")
    if kit.emu_log().count(HAND_OVER) != 1:
        raise AssertionError("request 0x222027 sent more than once")
    expect_equal(window_state(kit, STATUS_CLASS, STATUS_TITLE), "hidden", "status window")
    if touch.poll() is not None:
        raise AssertionError("TOUCH ended (%s)" % touch.returncode)


def touch_drag_moves_pointer(kit):
    """A drag on the panel is a button press where it starts, moves along
    its path and a button release where it ends, as a full-screen window
    receives them."""
    controller = service_machine(kit)
    start_touch(kit)
    wait_hand_over(kit)
    kit.spawn_zdrive("testwindow", "C:\\window.log")
    kit.wait_for("the test window", lambda: os.path.exists(kit.machine.c_drive("window.log"))
                 and "ready" in kit.text_file("window.log"), timeout=30)
    corners = [(100, 150), (900, 150), (900, 850), (300, 600)]
    path = zavirsim.drag_path(corners, 6)
    # A gap between packets, as a finger's samples have; the service still
    # forwards each one as it comes.
    controller.drag(corners, 6, gap=0.03)
    controller.release()
    kit.wait_for("the button-up message at the window",
                 lambda: any(e.startswith("up") for e in kit.text_file("window.log")), timeout=30)
    kit.screenshot("drag")
    log = kit.text_file("window.log")
    downs = [i for i, e in enumerate(log) if e.startswith("down")]
    if len(downs) != 1:
        raise AssertionError("expected one button press, window log %r" % log)
    events = log[downs[0]:]
    pixels = [raw_to_pixel(x, y) for x, y in path]

    def where(event):
        name, x, y = event.split()
        return name, int(x), int(y)

    def nearest(x, y):
        """Index of the path point this pixel is (within a pixel), or None."""
        for i, (px, py) in enumerate(pixels):
            if abs(px - x) <= 1 and abs(py - y) <= 1:
                return i
        return None

    name, x, y = where(events[0])
    if nearest(x, y) != 0:
        raise AssertionError("button pressed at %d,%d, the drag starts at %s" % (x, y, pixels[0]))
    name, x, y = where(events[-1])
    if name != "up" or nearest(x, y) != len(path) - 1:
        raise AssertionError("drag ended with %r, its end is %s" % (events[-1], pixels[-1]))
    seen = []
    for event in events[1:-1]:
        name, x, y = where(event)
        index = nearest(x, y)
        if name != "move" or index is None:
            raise AssertionError("%r is not on the drag's path %r" % (event, pixels))
        if seen and index < seen[-1]:
            raise AssertionError("the pointer went back along the path: %r" % events)
        seen.append(index)
    # Moves may be merged by the window system (on a busy machine, the last
    # ones into the release, which is at the drag's end), but a pointer that
    # follows the finger passes through most of the path.
    if len(set(seen)) < len(path) // 2:
        raise AssertionError("the pointer visited only %d of %d path points: %r"
                             % (len(set(seen)), len(path), events))


def touch_marker_blocks_start(kit):
    """A window of class "Halvern Driver Load" titled "Halvern Load" stops
    the service before it does anything: a message, exit code 1."""
    service_machine(kit)
    marker = kit.spawn_zdrive("window", MARKER_CLASS, MARKER_TITLE)
    kit.wait_line(marker, "window ready", timeout=30)
    touch = start_touch(kit)
    answer_box(kit, "Halvern XR", "Halvern XR Driver Already Load ......", "marker-message")
    expect_equal(wait_exit(kit, touch), 1, "exit code")
    expect_equal(window_state(kit, MAIN_CLASS, MAIN_TITLE), None, "the service's main window")
    expect_equal(kit.emu_log(), [], "requests to the driver")


def touch_without_driver(kit):
    """Without a driver the service says so and ends with 0 once the
    message is answered, leaving no window behind."""
    service_machine(kit, stand_in=False)
    touch = start_touch(kit)
    answer_box(kit, "Load VXD Message", "Cannot Load ZAVIR.VXD", "no-driver-message")
    expect_equal(wait_exit(kit, touch), 0, "exit code")
    expect_equal(window_state(kit, STATUS_CLASS, STATUS_TITLE), None, "status window")
    expect_equal(window_state(kit, MAIN_CLASS, MAIN_TITLE), None, "the service's main window")


def tray_icon_raw(kit):
    """The raw panel position over the service's icon in Wine's tray
    window (Wine shows one when the display has no system tray)."""
    lines = kit.zdrive("controls", "-", TRAY_TITLE, expect_ok=False)
    rects = [line.split("rect=")[1] for line in lines if "rect=" in line]
    if len(rects) != 1:
        raise AssertionError("expected one icon in the %r window: %r" % (TRAY_TITLE, lines))
    left, top, right, bottom = (int(v) for v in rects[0].split(","))
    return pixel_to_raw((left + right) // 2, (top + bottom) // 2)


def touch_status_window(kit):
    """The status window as a user sees it at start-up, and again after a
    touch on the tray icon (the service forwards that touch itself); once
    shown from the tray it stays shown."""
    controller = service_machine(kit)
    watch = watch_status_window(kit)
    start_touch(kit)
    kit.wait_line(watch, "shown", timeout=60, whole=True)
    kit.screenshot("1-starting")
    wait_hand_over(kit)
    kit.wait_for("the status window to hide", lambda: watch.poll() is not None, timeout=30)
    kit.screenshot("2-handed-over-tray")
    raw = tray_icon_raw(kit)
    controller.tap(*raw)
    kit.wait_for("the status window shown again",
                 lambda: window_state(kit, STATUS_CLASS, STATUS_TITLE) == "visible", timeout=30)
    expect_equal(wait_lines(kit, 4), [HAND_OVER, touch_line(*raw), RELEASE, RELEASE],
                 "requests: the hand-over and the touch on the tray icon")
    controls = kit.zdrive("controls", STATUS_CLASS, STATUS_TITLE)
    texts = [re.search(r'text="([^"]*)"', line).group(1) for line in controls]
    for text in ("TouchScreen Driver For WINDOWS 98/ME", "Version :  1.24"):
        if text not in texts:
            raise AssertionError("%r not among the status window's texts %r" % (text, texts))
    expect_equal(len(controls), 7, "controls of the status window")
    # Ticks, and packets after them, keep it on screen: no second hand-over.
    time.sleep(3.0)
    controller.tap(512, 512)
    wait_lines(kit, 7)
    expect_equal(window_state(kit, STATUS_CLASS, STATUS_TITLE), "visible",
                 "status window after a tap")
    kit.screenshot("3-shown-from-tray")
    expect_equal(kit.emu_log().count(HAND_OVER), 1, "hand-overs")


def tray_icons(kit):
    """How many icons Wine's tray window shows (0 without the window)."""
    lines = kit.zdrive("controls", "-", TRAY_TITLE, expect_ok=False)
    return sum("rect=" in line for line in lines)


def touch_finds_a_restarted_standin(kit):
    """The stand-in is killed while TOUCH runs, a finger down, and a new one
    starts: it lets that finger's button go, TOUCH opens the pipe anew by
    itself and touches reach a window again, mapped by the corners in force
    before (never stored: here, mirrored left to right)."""
    controller = service_machine(kit, stand_in=False)
    emu = kit.start_emu()
    start_touch(kit)
    wait_hand_over(kit)
    # In the release, the tray record of the first shell version.
    kit.wait_for("TOUCH's tray icon", lambda: tray_icons(kit) == 1, timeout=30)
    kit.spawn_zdrive("testwindow", "C:\\window.log")
    kit.wait_for("the test window", lambda: os.path.exists(kit.machine.c_drive("window.log"))
                 and "ready" in kit.text_file("window.log"), timeout=30)

    def ups():
        return sum(e.startswith("up") for e in kit.text_file("window.log"))

    def downs():
        return sum(e.startswith("down") for e in kit.text_file("window.log"))

    controller.tap(512, 512)
    kit.wait_for("a tap through the first stand-in", lambda: ups() == 1, timeout=20)
    kit.zdrive("session", "corners", 1024, 0, 0, 0, 0, 1024, 1024, 1024)
    controller.touch(512, 512)
    kit.wait_for("the finger's press", lambda: downs() == 2, timeout=20)
    kit.machine.end(emu)
    kit.start_emu("emu2.log")
    kit.wait_for("the new stand-in letting the button go", lambda: ups() == 2, timeout=20)
    expect_equal([e for e in kit.text_file("window.log") if e.startswith("up")][-1],
                 "up 512 384", "the button let go")
    controller.release()
    # The first touches after the loss may go while TOUCH is still to try
    # the pipe again (once a second).
    for attempt in range(20):
        controller.tap(300, 300)
        deadline = time.monotonic() + 1.0
        while ups() < 3 and time.monotonic() < deadline:
            time.sleep(0.05)
        if ups() >= 3:
            break
    kit.log("a tap reached the window again after %d tries" % (attempt + 1))
    if ups() < 3:
        raise AssertionError("no tap reached the window after the stand-in's restart: %r"
                             % kit.text_file("window.log"))
    if touch_line(300, 300) not in kit.emu_log():
        raise AssertionError("the new stand-in's log lacks TOUCH's packet: %r" % kit.emu_log())
    ends = [e for e in kit.text_file("window.log") if e.startswith("up")]
    expect_equal(ends[-1], "up 724 225", "the tap after the restart, by the corners in force")


def touch_icon_comes_back_with_the_taskbar(kit):
    """A taskbar made anew (Explorer restarted) has none of the old icons;
    on its TaskbarCreated message TOUCH adds its icon again."""
    service_machine(kit)
    start_touch(kit)
    wait_hand_over(kit)
    kit.wait_for("TOUCH's tray icon", lambda: tray_icons(kit) == 1, timeout=30)
    kit.zdrive("trayremove", STATUS_CLASS, STATUS_TITLE, 0)
    kit.wait_for("the icon gone", lambda: tray_icons(kit) == 0, timeout=10)
    kit.zdrive("broadcast", "TaskbarCreated")
    kit.wait_for("the icon back", lambda: tray_icons(kit) == 1, timeout=10)
    kit.screenshot("icon-back")


CASES = {f.__name__: f for f in (touch_forwards_packets, touch_drag_moves_pointer,
                                 touch_marker_blocks_start, touch_without_driver,
                                 touch_status_window, touch_finds_a_restarted_standin,
                                 touch_icon_comes_back_with_the_taskbar)}


# ---------------------------------------------------------------- demo

def touch_service(demo):
    """The touch service forwards the simulated controller's taps and a drag."""
    kit, controller = demo.kit, demo.controller
    # The setup step may have written the settings already; COM1 is the
    # simulated controller either way.
    stored = kit.machine.reg_query(SETTINGS_KEY) or {}
    if "ComPort" not in stored or harness.reg_number(stored["ComPort"]) != 1:
        kit.machine.reg_add(SETTINGS_KEY, "ComPort", "REG_DWORD", 1)
        kit.machine.reg_add(SETTINGS_KEY, "ComBaud", "REG_DWORD", 9600)
    baud = harness.reg_number(kit.machine.reg_query(SETTINGS_KEY)["ComBaud"])
    hand_overs = kit.emu_log().count(HAND_OVER)
    watch = watch_status_window(kit)
    start_touch(kit)
    cases_say("    TOUCH.EXE started: COM1 (ComBaud %d), the driver stand-in" % baud)
    kit.wait_line(watch, "shown", timeout=60, whole=True)
    demo.screenshot("touch-status-window")
    kit.wait_for("the hand-over", lambda: kit.emu_log().count(HAND_OVER) > hand_overs, timeout=60)
    kit.wait_for("the status window to hide", lambda: watch.poll() is not None, timeout=30)
    cases_say("    after its idle start-up ticks it hid its window and sent request 0x222027")

    canvas = kit.spawn_zdrive("testwindow", "C:\\touchcanvas.log")
    kit.wait_for("the canvas", lambda: os.path.exists(kit.machine.c_drive("touchcanvas.log"))
                 and "ready" in kit.text_file("touchcanvas.log"), timeout=30)

    def ups():
        return sum(e.startswith("up") for e in kit.text_file("touchcanvas.log"))

    for name, (x, y) in [("top-left", (60, 60)), ("centre", (512, 512)),
                         ("bottom-right", (964, 964))]:
        before = ups()
        controller.tap(x, y)
        kit.wait_for("the tap", lambda: ups() > before, timeout=20)
        cases_say("    tap at raw (%d, %d) on the line: a click at the %s of the screen"
                  % (x, y, name))
        demo.screenshot("touch-tap-%s" % name)
    path = [(200, 200), (824, 200), (824, 824), (200, 824), (512, 400)]
    before = ups()
    controller.drag(path, 8, gap=0.02)
    controller.release()
    kit.wait_for("the drag", lambda: ups() > before, timeout=30)
    cases_say("    drag along %s on the line" % path)
    demo.screenshot("touch-drag")
    log = kit.emu_log()
    cases_say("    the stand-in received %d packet requests from TOUCH.EXE"
              % sum(line.startswith("0x222043") for line in log))
    # The service goes on running; the canvas makes way for the next step.
    kit.machine.end(canvas)


def cases_say(text):
    print(text, flush=True)


DEMO_STEPS = [touch_service]
