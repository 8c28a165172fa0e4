"""End-to-end cases of the driver stand-in's pipe server.  Wine keeps a
pipe's security descriptor but does not enforce it: who may open the pipe
is proven on the host only; that the programs talk only to their own
user's pipe is proven here."""
import os
import re
import subprocess

import cases
from cases import RELEASE_WORDS, expect_equal, packet_words, session_output
import cases_touch
import cases_truepos

MAX_CLIENTS = 8  # kStandInMaxClients
LOG_LIMIT = 8 * 1024 * 1024  # kStandInLogLimit
STANDIN_KEY = r"HKCU\Software\corvale\zavir\standin"
PIPE_NAME = r"\\\\\.\\pipe\\ZAVIREMU\.\d+\.[0-9a-f]{32}$"


def expect_own_security(kit, objects):
    """The stand-in's pipe ("security"), mutex and, beside a loader, its end
    event: the user's own, with the user, SYSTEM and administrators only."""
    got = []
    for line in kit.zdrive("pipesecurity"):
        match = re.match(r"(security|mutex|event) O:(S-1-5-[0-9-]+)D:P\(D;;GA;;;NU\)"
                         r"\(A;;GA;;;SY\)\(A;;GA;;;BA\)\(A;;GA;;;(S-1-5-[0-9-]+)\)$", line)
        if not match or match.group(2) != match.group(3):
            raise AssertionError("the stand-in's security: %s" % line)
        got.append(match.group(1))
    expect_equal(got, objects, "the stand-in's objects")


def published_name(kit):
    """The pipe name the user's stand-in published for the session."""
    values = kit.machine.reg_query(STANDIN_KEY) or {}
    names = [data for value, (_, data) in values.items() if "." not in value]
    return names[0] if len(names) == 1 else None


def start_window(kit):
    """The full-screen test window, logging the button messages and moves
    it receives."""
    window = kit.spawn_zdrive("testwindow", "C:\\window.log")
    kit.wait_for("the test window", lambda: "window ready" in kit.output_of(window), timeout=30)


def wait_window_event(kit, event):
    try:
        kit.wait_for("'%s'" % event, lambda: event in kit.text_file("window.log"), timeout=15)
    except AssertionError:
        raise AssertionError("no '%s' at the test window: %r"
                             % (event, kit.text_file("window.log"))) from None


def stall(kit, sent_bytes):
    proc = kit.spawn_zdrive("stall", sent_bytes)
    kit.wait_line(proc, "stalled after %d bytes" % sent_bytes, timeout=30)
    return proc


def standin_clients_that_stall_or_die(kit):
    """The pipe carries its own security.  A client that never sends and one
    that stops halfway through a frame hold nobody up; only the half frame's
    client is dropped, and a client idle between requests is not.  With
    every slot taken a new client waits for a free one.  A client killed
    between a touch and its release: the button goes up.  A log full to its
    limit starts afresh.  Each start serves a name nobody could guess."""
    with open(kit.machine.c_drive("emu.log"), "wb") as f:
        f.truncate(LOG_LIMIT)
    emu = kit.start_emu()
    expect_own_security(kit, ["security", "mutex"])

    silent, half = stall(kit, 0), stall(kit, 12)
    lines = kit.zdrive("session", "packet", 2, 2, 2, 2, "rawpos", "sleep", 3000, "rawpos")
    expect_equal(session_output(lines, "rawpos"), ["rawpos ok=1 258 258"] * 2,
                 "a client idle between requests while two others stall")
    if os.path.getsize(kit.emu_log_path) > 4096 or not kit.emu_log()[0].startswith("0x"):
        raise AssertionError("the log full to its limit did not start afresh")
    kit.wait_line(half, "dropped after", timeout=15)
    kit.log("half a frame's client: %s" % kit.output_of(half)[-1])
    expect_equal(kit.output_of(silent), ["stalled after 0 bytes"], "the silent client")
    others = [stall(kit, 0) for _ in range(MAX_CLIENTS - 1)]
    expect_equal(kit.zdrive("waitpipe", 500, expect_ok=False), ["pipe missing"],
                 "a free instance with %d clients connected" % MAX_CLIENTS)
    for proc in others + [silent]:
        kit.machine.end(proc)

    start_window(kit)
    toucher = kit.spawn_zdrive("session", "packet", *packet_words(512, 512), "hold",
                               stdin=subprocess.PIPE)
    wait_window_event(kit, "down 512 384")
    kit.machine.end(toucher)
    wait_window_event(kit, "up 512 384")
    # Separate sessions: Wine answers GetAsyncKeyState from a cache for a moment.
    lines = kit.zdrive("session", "cursor") + kit.zdrive(
        "session", "packet", *packet_words(256, 256), "cursor", "packet", *RELEASE_WORDS,
        "packet", *RELEASE_WORDS)
    expect_equal([line[-6:] for line in session_output(lines, "cursor")], ["left=0", "left=1"],
                 "the button after its client died, and at the next touch")

    names = [published_name(kit)]
    kit.machine.end(emu)
    kit.start_emu("emu2.log")
    names.append(published_name(kit))
    if names[0] == names[1] or not all(n and re.match(PIPE_NAME, n) for n in names):
        raise AssertionError("the names two starts published: %r" % names)


REFUSED_TEXT = "The touch driver here is another user's, or of lower integrity."


def standin_taken_by_another_user_is_refused(kit):
    """A pipe published as the stand-in's that is not the user's own is not
    talked to (and the refusal is said as such), and the names they took of
    the user's serving mutex and loader's end event keep the user's own
    loader from nobody; the same pipe owned by their user serves them."""
    cases_touch.service_machine(kit, stand_in=False)
    for owner, opens in (("SY", False), ("me", True)):
        squatter = kit.spawn_zdrive("squat", owner, stdin=subprocess.PIPE)
        kit.wait_line(squatter, "squatting", timeout=30)
        lines = kit.zdrive("session", "handover", expect_ok=False, timeout=60)
        expect_equal(lines[:1], ["open standin=1" if opens else "open failed"],
                     "a client of a pipe owned by %s" % owner)
        if not opens:
            touch = cases_touch.start_touch(kit)
            cases_touch.answer_box(kit, "Load VXD Message", REFUSED_TEXT, "refused-message")
            expect_equal(cases_touch.wait_exit(kit, touch), 0, "TOUCH's exit code when refused")
            squatted = published_name(kit)
            loader = kit.machine.spawn([kit.exe("STARTVXD.EXE")])
            kit.wait_for("the user's own stand-in", lambda: published_name(kit) not in
                         (None, squatted), timeout=40)
            expect_equal(kit.zdrive("session", "handover", timeout=60)[:1], ["open standin=1"],
                         "a client of the user's stand-in beside their mutex")
            # Their end event is passed over too: setup's request still ends it.
            kit.zdrive("endloader")
            kit.wait_for("the loader to end", lambda: loader.poll() is not None, timeout=30)
        kit.machine.end(squatter)


def standin_ends_a_dead_tools_calibration(kit):
    """TRUEPOS killed while it waits for its first target: the next touches
    through TOUCH move the pointer and press the button again."""
    rig = cases_truepos.Rig(kit, cases_truepos.SEEDED)
    rig.start_tool()
    kit.machine.end(rig.tool)
    expect_equal(rig.tool_log(), [cases_truepos.mode_line(1, 0)], "the tool's requests")
    start_window(kit)
    rig.controller.touch(512, 512)
    wait_window_event(kit, "down 512 384")
    rig.controller.release()
    wait_window_event(kit, "up 512 384")


def standin_follows_the_display_size(kit):
    """The display shrinks while the stand-in runs (Xvfb offers one mode
    only; a Wine virtual desktop can change its size): touches map onto
    the new screen."""
    kit.machine.reg_add(r"HKCU\Software\Wine\Explorer", "Desktop", "REG_SZ", "Default")
    kit.machine.reg_add(r"HKCU\Software\Wine\Explorer\Desktops", "Default", "REG_SZ",
                        "%dx%d" % (cases.SCREEN_W, cases.SCREEN_H))
    kit.machine.restart()
    kit.start_emu()
    expect_equal(kit.zdrive("display", 800, 600), ["display result=0", "screen 800 600"],
                 "the display mode change")
    start_window(kit)
    kit.zdrive("session", "packet", *packet_words(512, 512), "packet", *packet_words(1024, 1024),
               "packet", *RELEASE_WORDS, "packet", *RELEASE_WORDS)
    kit.wait_for("the release", lambda: any(e.startswith("up") for e in kit.text_file("window.log")))
    # Where the button goes down and up is Wine's: in a virtual desktop the
    # X pointer's echo of an earlier position may overtake a move.  Before
    # the change of size the moves went to (799, 384) and (799, 599).
    log = kit.text_file("window.log")
    if "move 400 300" not in log or "move 799 599" not in log:
        raise AssertionError("the touch did not map onto the 800 x 600 screen: %r" % log)


def standin_right_button_corner(kit):
    """With RightButton 1, a tap on the bottom-right corner clicks nothing
    and the next tap is one right click where it lifts; then left again."""
    kit.machine.reg_add(cases_truepos.SETTINGS_KEY, "RightButton", "REG_DWORD", 1)
    kit.start_emu()
    start_window(kit)
    tap = lambda x, y: ["packet", *packet_words(x, y), "packet", *RELEASE_WORDS,
                        "packet", *RELEASE_WORDS]
    kit.zdrive("session", *tap(1024, 1024), *tap(512, 512), *tap(256, 256))
    wait_window_event(kit, "up 256 192")
    buttons = [e for e in kit.text_file("window.log")
               if e.split(" ")[0] in ("down", "up", "rdown", "rup")]
    expect_equal(buttons, ["rdown 512 384", "rup 512 384", "down 256 192", "up 256 192"],
                 "the buttons of an arming tap, a right tap and a left tap")


CASES = {f.__name__: f for f in (standin_clients_that_stall_or_die,
                                 standin_taken_by_another_user_is_refused,
                                 standin_ends_a_dead_tools_calibration,
                                 standin_follows_the_display_size,
                                 standin_right_button_corner)}
