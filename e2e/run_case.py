#!/usr/bin/env python3
"""ctest's entry to the end-to-end tests.

  run_case.py --bin DIR --work DIR --screenshots DIR up     X display + template prefix
  run_case.py ... case NAME                                   one case in a fresh prefix
  run_case.py ... down                                        ends what `up` started

`up` leaves its Xvfb's display and process id in WORK/display.json for the
cases and `down`; a case run on its own starts and ends its own display.
ZAVIR_E2E_DISPLAY picks the display number (default: a free one);
ZAVIR_E2E_WINE_ROOT the folder of the prefixes (default WORK/wine).
`case --win98 NAME` has Wine report Windows 98 to the suite's programs.

With --machine DIR --floppy IMAGE the same command runs inside the emulated
32-bit PC of machine.sh (made once in DIR): `up` makes and boots it first,
`down` powers it off after, a case run on its own boots its own.  The source
tree is shared with it at the same path, so every folder given must be in it.
"""
import argparse
import json
import os
import shlex
import shutil
import signal
import subprocess
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
    template = harness.make_template(os.path.join(wine_root(args.work), "template"),
                                     shared_display(args.work))
    with open(os.path.join(template, ".zavir-template")) as f:
        print("template prefix %s" % f.read().strip())
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
                        args.screenshots, args.name, win98=args.win98)
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


SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MACHINE_SH = os.path.join(SOURCE, "e2e", "machine.sh")
GUEST_LIMIT = 840  # seconds for one command in the machine; ctest's is 900


class Guest:
    """The emulated PC and its spool folder of commands (see guest.sh)."""

    def __init__(self, folder, floppy):
        self.folder = folder
        self.floppy = floppy
        self.spool = os.path.join(folder, "spool")
        self.pid_path = os.path.join(folder, "qemu.pid")

    def pid(self, booted=True):
        """The running machine's qemu (booted: one whose guest is ready), or
        None.  After a restart of the host the recorded id may be another
        program's."""
        try:
            with open(self.pid_path) as f:
                pid = int(f.read())
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                command = f.read()
        except (OSError, ValueError):
            return None
        ours = b"qemu-system-i386\0" in command and b"zdir=%s\0" % self.folder.encode() in command
        ready = not booted or os.path.exists(os.path.join(self.spool, "ready"))
        return pid if ours and ready and harness.is_running(pid) else None

    def boot(self):
        # The kernel's command line and qemu's -virtfs take the path as it is.
        if any(c in SOURCE for c in " ,\t\n"):
            raise harness.HarnessError("the machine can't share a source path with spaces or "
                                       "commas: %r" % SOURCE)
        started = time.monotonic()
        subprocess.run(["bash", MACHINE_SH, "make", self.folder], check=True)
        with open(os.path.join(self.folder, ".made")) as f:
            made = f.read().split("\n")[1]
        print("machine ready in %.1f s (%s)" % (time.monotonic() - started, made))
        shutil.rmtree(self.spool, ignore_errors=True)
        os.makedirs(self.spool)
        started = time.monotonic()
        with open(os.path.join(self.folder, "qemu.log"), "wb") as log:
            proc = subprocess.Popen(["bash", MACHINE_SH, "boot", self.folder, SOURCE, self.floppy],
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                    start_new_session=True)
        with open(self.pid_path, "w") as f:
            f.write(str(proc.pid))
        while not self.pid():
            if proc.poll() is not None or time.monotonic() - started > 300:
                harness.end_process(proc)
                with open(os.path.join(self.folder, "console.log"), errors="replace") as f:
                    console = f.read()[-1500:]
                raise harness.HarnessError("the machine did not boot (code %s); its console "
                                           "ends:\n%s" % (proc.returncode, console))
            time.sleep(0.2)
        print("machine booted in %.1f s" % (time.monotonic() - started))

    def run(self, argv):
        """run_case.py argv in the machine; its output printed, its code returned."""
        name = os.path.join(self.spool, "%d" % time.monotonic_ns())
        with open(name + ".new", "w") as f:
            f.write("cd %s && exec timeout -k 10 %d python3 e2e/run_case.py %s\n" % (
                shlex.quote(SOURCE), GUEST_LIMIT, " ".join(shlex.quote(a) for a in argv)))
        os.rename(name + ".new", name + ".cmd")
        deadline = time.monotonic() + GUEST_LIMIT + 30
        while not os.path.exists(name + ".rc"):
            if not self.pid():
                raise harness.HarnessError("the machine stopped (see %s/console.log)"
                                           % self.folder)
            if time.monotonic() > deadline:
                # A guest that no longer answers: the next case boots afresh.
                self.halt()
                raise harness.HarnessError("no answer from the machine in %d s" % GUEST_LIMIT)
            time.sleep(0.2)
        with open(name + ".out", errors="replace") as f:
            sys.stdout.write(f.read())
        with open(name + ".rc") as f:
            return int(f.read())

    def halt(self):
        pid = self.pid(booted=False)
        if not pid:
            return
        try:
            if self.pid():  # a guest that is up powers itself off
                open(os.path.join(self.spool, "halt"), "w").close()
                deadline = time.monotonic() + 30
                while harness.is_running(pid) and time.monotonic() < deadline:
                    time.sleep(0.2)
        finally:  # a time-out of ctest's in the wait included
            harness.end_process(pid)
        print("machine powered off")


def in_machine(args):
    """The command of args, run by the same script inside the machine."""
    for folder in (args.bin, args.work, args.screenshots):
        if os.path.commonpath([folder, SOURCE]) != SOURCE:
            print("%s is outside the source tree the machine shares" % folder)
            return 2
    folders = ["--bin", args.bin, "--work", args.work, "--screenshots", args.screenshots]
    argv = folders + [args.command]
    if args.command == "case":
        argv += ["--win98"] * args.win98 + [args.name]
    guest = Guest(args.machine, args.floppy)
    own = args.command == "case" and not guest.pid()
    if args.command == "down" and not guest.pid():
        print("no machine running")
        return 0
    if args.command == "up":
        # One left running by an interrupted run has the floppy and the
        # programs of an earlier build.
        guest.halt()
    if args.command == "up" or own:
        guest.boot()
    try:
        rc = guest.run(argv)
    finally:
        if own or args.command == "down":
            guest.halt()
    if rc and args.command == "case" and not own:
        # A failed case may leave the machine's display or Wine wedged: the
        # cases after it get a fresh machine, not its leftovers.
        guest.halt()
        try:
            guest.boot()
            guest.run(folders + ["up"])
        except harness.HarnessError as error:  # the next case boots its own
            print(error)
    return rc


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="folder of the built .EXE files")
    parser.add_argument("--work", required=True, help="folder for prefixes and logs")
    parser.add_argument("--screenshots", required=True)
    parser.add_argument("--machine", help="folder of the emulated PC to run in")
    parser.add_argument("--floppy", help="the machine's floppy image (with --machine)")
    sub = parser.add_subparsers(dest="command", required=True)
    sub.add_parser("up")
    sub.add_parser("down")
    one = sub.add_parser("case")
    one.add_argument("--win98", action="store_true", help="Wine reports Windows 98")
    one.add_argument("name")
    args = parser.parse_args(argv)
    for folder in ("bin", "work", "screenshots", "machine", "floppy"):
        if getattr(args, folder):
            setattr(args, folder, os.path.abspath(getattr(args, folder)))
    # Ended from outside (a ctest time-out): still end what the case started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    if args.machine:
        return in_machine(args)
    return {"up": up, "down": down, "case": run_case}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
