#!/usr/bin/env python3
"""ctest's entry to the end-to-end tests.

  run_case.py --bin DIR --work DIR --screenshots DIR up     X display + template prefix
  run_case.py ... case NAME                                   one case in a fresh prefix
  run_case.py ... down                                        ends what `up` started

`up` leaves its Xvfb's display and process id in WORK/display.json for the
cases and `down`; a case run on its own starts and ends its own display.
ZAVIR_E2E_DISPLAY picks the display number (default: a free one);
ZAVIR_E2E_WINE_ROOT the folder of the prefixes (default WORK/wine).
"""
import argparse
import json
import os
import signal
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402
import harness  # noqa: E402


def display_number():
    value = os.environ.get("ZAVIR_E2E_DISPLAY")
    return int(value.lstrip(":")) if value else None


def wine_root(work):
    return os.environ.get("ZAVIR_E2E_WINE_ROOT") or os.path.join(work, "wine")


def state_path(work):
    return os.path.join(work, "display.json")


def shared_display(work):
    """The display `up` left running, or None."""
    try:
        with open(state_path(work)) as f:
            state = json.load(f)
    except (OSError, ValueError):
        return None
    if harness.is_running(state["pid"]) and os.path.exists("/tmp/.X11-unix/X%d" % state["number"]):
        return ":%d" % state["number"]
    return None


def up(args):
    os.makedirs(args.work, exist_ok=True)
    if shared_display(args.work):
        print("display already up")
    else:
        display = harness.Display(display_number(), os.path.join(args.work, "xvfb.log")).start()
        with open(state_path(args.work), "w") as f:
            json.dump({"number": display.number, "pid": display.proc.pid}, f)
        print("Xvfb %s, process %d" % (display.name, display.proc.pid))
    harness.make_template(os.path.join(wine_root(args.work), "template"), shared_display(args.work))
    return 0


def down(args):
    try:
        with open(state_path(args.work)) as f:
            state = json.load(f)
    except (OSError, ValueError):
        print("nothing to end")
        return 0
    harness.end_process(state["pid"])
    os.remove(state_path(args.work))
    print("ended Xvfb process %d" % state["pid"])
    # Every prefix of the run had its processes ended by its case; check.
    root = wine_root(args.work)
    left = []
    if os.path.isdir(root):
        for name in os.listdir(root):
            left += harness.pids_with_environment("WINEPREFIX", os.path.join(root, name))
    if left:
        print("processes left behind: %s" % left)
        for pid in left:
            harness.end_process(pid)
        return 1
    return 0


def run_case(args):
    case = cases.CASES.get(args.name)
    if not case:
        print("no case %s; cases: %s" % (args.name, ", ".join(sorted(cases.CASES))))
        return 2
    own = None
    display = shared_display(args.work)
    if not display:
        own = harness.Display(display_number(), os.path.join(args.work, "xvfb-%s.log" % args.name))
        display = own.start().name
    try:
        root = wine_root(args.work)
        template = harness.make_template(os.path.join(root, "template"), display)
        kit = cases.Kit(args.bin, os.path.join(root, args.name), template, display,
                        args.screenshots, args.name)
        started = time.monotonic()
        try:
            case(kit)
        except Exception:
            traceback.print_exc()
            print("FAILED %s after %.1f s" % (args.name, time.monotonic() - started))
            return 1
        finally:
            kit.close()
        print("passed %s in %.1f s" % (args.name, time.monotonic() - started))
        return 0
    finally:
        if own:
            own.stop()


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="folder of the built .EXE files")
    parser.add_argument("--work", required=True, help="folder for prefixes and logs")
    parser.add_argument("--screenshots", required=True)
    sub = parser.add_subparsers(dest="command", required=True)
    sub.add_parser("up")
    sub.add_parser("down")
    one = sub.add_parser("case")
    one.add_argument("name")
    args = parser.parse_args(argv)
    args.work = os.path.abspath(args.work)
    # Ended from outside (a ctest time-out): still end what the case started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    return {"up": up, "down": down, "case": run_case}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
