"""End-to-end cases of the driver stand-in's pipe server (ZAVIREMU.EXE):
its security as stored on the pipe, clients that stall or never send,
the cap on clients, what a client that dies leaves behind, and the
display's size.  Wine keeps a pipe's security descriptor but does not
enforce it: who may open the pipe is proven on the host only."""
import re
import subprocess

import cases
from cases import RELEASE_WORDS, expect_equal, log_line, packet_words, session_output
import cases_truepos
import harness

# kStandInMaxClients of the stand-in.
MAX_CLIENTS = 8


def start_window(kit):
    """The full-screen test window that logs the button messages and moves
    it receives (screen coordinates)."""
    window = kit.spawn_zdrive("testwindow", "C:\\window.log")
    kit.wait_for("the test window", lambda: "window ready" in kit.output_of(window), timeout=30)
    return window


def wait_window_event(kit, event, timeout=15.0):
    try:
        kit.wait_for("'%s' at the test window" % event,
                     lambda: event in kit.text_file("window.log"), timeout=timeout)
    except AssertionError:
        raise AssertionError("no '%s' at the test window; it logged %r"
                             % (event, kit.text_file("window.log"))) from None


def stall(kit, sent_bytes):
    proc = kit.spawn_zdrive("stall", sent_bytes)
    kit.wait_line(proc, "stalled after %d bytes" % sent_bytes, timeout=30)
    return proc


# ---------------------------------------------------------------- cases

def standin_clients_that_stall(kit):
    """The pipe carries its own security (owner and allowed: the user; also
    SYSTEM; the network refused).  A client that never sends and one that
    stops halfway through a frame hold nobody else up; the half frame's
    client is dropped, the silent one is not, nor is a client idle between
    requests.  With every client slot taken a new client waits, and is
    served once a slot is free."""
    emu = kit.start_emu()
    security = kit.zdrive("pipesecurity")[0]
    match = re.match(r"security O:(S-1-5-[0-9-]+)D:P\(D;;GA;;;NU\)\(A;;GA;;;SY\)"
                     r"\(A;;GA;;;(S-1-5-[0-9-]+)\)$", security)
    if not match or match.group(1) != match.group(2):
        raise AssertionError("the pipe's security: %s" % security)

    silent = stall(kit, 0)
    half = stall(kit, 12)
    lines = kit.zdrive("session", "packet", 2, 2, 2, 2, "rawpos")
    expect_equal(session_output(lines, "rawpos"), ["rawpos ok=1 258 258"],
                 "a client served while two others stall")
    kit.wait_line(half, "dropped after", timeout=15)
    kit.log("half a frame's client: %s" % kit.output_of(half)[-1])
    # Quiet for longer than a frame may take: still served.
    lines = kit.zdrive("session", "rawpos", "sleep", 3000, "rawpos")
    expect_equal(session_output(lines, "rawpos"), ["rawpos ok=1 258 258"] * 2,
                 "a client idle between its requests")
    if kit.output_of(silent)[-1:] != ["stalled after 0 bytes"]:
        raise AssertionError("the silent client was dropped: %r" % kit.output_of(silent))

    others = [stall(kit, 0) for _ in range(MAX_CLIENTS - 1)]
    expect_equal(kit.zdrive("waitpipe", 500, expect_ok=False), ["pipe missing"],
                 "a free instance with %d clients connected" % MAX_CLIENTS)
    kit.machine.end(others[0])
    kit.zdrive("waitpipe", 10000, timeout=30)
    lines = kit.zdrive("session", "packet", 3, 3, 3, 3, "rawpos")
    expect_equal(session_output(lines, "rawpos"), ["rawpos ok=1 387 387"],
                 "a client in the slot a killed one left")
    if not harness.is_running(emu.pid):
        raise AssertionError("the stand-in ended")


def standin_lifts_a_dead_clients_button(kit):
    """A client killed between a touch and its release: the button it
    pressed goes up at once, and the next touch presses it again."""
    kit.start_emu()
    start_window(kit)
    toucher = kit.spawn_zdrive("session", "packet", *packet_words(512, 512), "cursor", "hold",
                               stdin=subprocess.PIPE)
    kit.wait_line(toucher, "holding")
    expect_equal(session_output(kit.output_of(toucher), "cursor"), ["cursor 512 384 left=1"],
                 "the touch")
    wait_window_event(kit, "down 512 384")
    kit.machine.end(toucher)
    wait_window_event(kit, "up 512 384")
    lines = kit.zdrive("session", "cursor")
    if not session_output(lines, "cursor")[0].endswith("left=0"):
        raise AssertionError("left button still down after its client died: %r" % lines)
    lines = kit.zdrive("session", "packet", *packet_words(256, 256), "cursor",
                       "packet", *RELEASE_WORDS, "packet", *RELEASE_WORDS)
    expect_equal(session_output(lines, "cursor"), ["cursor 256 192 left=1"], "the next touch")
    wait_window_event(kit, "up 256 192")
    log = kit.text_file("window.log")
    expect_equal([e for e in log if e.startswith(("down", "up"))],
                 ["down 512 384", "up 512 384", "down 256 192", "up 256 192"],
                 "button messages at the window")


def standin_ends_a_dead_tools_calibration(kit):
    """TRUEPOS killed while it waits for its first target: the stand-in
    leaves calibration mode, so the next touches through TOUCH move the
    pointer and press the button again."""
    rig = cases_truepos.Rig(kit, cases_truepos.SEEDED)
    rig.start_tool()
    kit.machine.end(rig.tool)
    expect_equal(rig.tool_log(), [cases_truepos.mode_line(1, 0)],
                 "the tool's requests before it was killed")
    start_window(kit)
    rig.controller.touch(512, 512)
    wait_window_event(kit, "down 512 384")
    rig.controller.release()
    wait_window_event(kit, "up 512 384")
    kit.screenshot("touch-after-the-tool")


def standin_follows_the_display_size(kit):
    """The display's size changes while the stand-in runs (a Wine virtual
    desktop can change its mode; Xvfb by itself offers one mode only):
    touches map onto the new screen."""
    kit.machine.reg_add(r"HKCU\Software\Wine\Explorer", "Desktop", "REG_SZ", "Default")
    kit.machine.reg_add(r"HKCU\Software\Wine\Explorer\Desktops", "Default", "REG_SZ",
                        "%dx%d" % (cases.SCREEN_W, cases.SCREEN_H))
    kit.machine.restart()
    kit.start_emu()
    expect_equal(kit.zdrive("screen"), ["screen %d %d" % (cases.SCREEN_W, cases.SCREEN_H)],
                 "the screen at the stand-in's start")
    expect_equal(kit.zdrive("display", 800, 600), ["display result=0", "screen 800 600"],
                 "the display mode change")
    start_window(kit)
    kit.zdrive("session", "packet", *packet_words(512, 512), "packet", *packet_words(1024, 1024),
               "packet", *RELEASE_WORDS, "packet", *RELEASE_WORDS)
    kit.wait_for("the release at the test window",
                 lambda: any(e.startswith("up") for e in kit.text_file("window.log")))
    kit.screenshot("800x600")
    # Where the button goes up is Wine's: in a virtual desktop the X
    # pointer's echo of an earlier position may overtake the last move.
    log = kit.text_file("window.log")
    if "down 400 300" not in log:
        raise AssertionError("the touch at the centre pressed elsewhere: %r" % log)
    touched = log[log.index("down 400 300"):]
    if "move 799 599" not in touched or not any(e.startswith("up") for e in touched):
        raise AssertionError("no move to the far corner of the 800 x 600 screen: %r" % log)
    if log_line(0x222043, *packet_words(1024, 1024)) not in kit.emu_log():
        raise AssertionError("the stand-in did not log the touch")


CASES = {f.__name__: f for f in (standin_clients_that_stall, standin_lifts_a_dead_clients_button,
                                 standin_ends_a_dead_tools_calibration,
                                 standin_follows_the_display_size)}
