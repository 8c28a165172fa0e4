"""Runs the suite's Windows programs under Wine on a virtual X display.

Pieces, each ended by process id when done (also when a test fails):
  Display  one Xvfb (-noreset, 1024x768x24) for a run
  Machine  a fresh copy of a template Wine prefix with its own persistent
           wineserver; runs programs, reads and writes the registry with
           `reg`, maps COM ports to pseudo-terminals, takes screenshots
Nothing here knows the programs under test; the cases do.
"""
import contextlib
import filecmp
import glob
import hashlib
import inspect
import os
import shutil
import signal
import subprocess
import tempfile
import time

SCREEN = (1024, 768)


def _first_existing(*paths):
    for p in paths:
        if p and os.path.exists(p):
            return p
    return paths[-1]


# What Wine's start.exe says when it could not start a program at all.
NOT_STARTED = "Application could not be started"
# Bounds on waits (never timing checks) are multiplied by this; the
# emulated PC, on a busy host, runs Wine several times slower.
PATIENCE = float(os.environ.get("ZAVIR_E2E_PATIENCE") or 1)
WINE = os.environ.get("ZAVIR_WINE") or _first_existing("/usr/lib/wine/wine64", shutil.which("wine64") or "", "wine64")
WINESERVER = os.environ.get("ZAVIR_WINESERVER") or _first_existing(
    "/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver", shutil.which("wineserver") or "", "wineserver")


class HarnessError(Exception):
    pass


# ---------------------------------------------------------------- processes

def process_state(pid):
    """The one-letter state of a process ('R', 'S', 'Z' ...) or None."""
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            stat = f.read().decode("latin-1")
    except OSError:
        return None
    # The command name is in parentheses and may hold spaces.
    return stat[stat.rfind(")") + 2:][:1] or None


def is_running(pid):
    """Running and not merely a zombie waiting to be reaped."""
    return process_state(pid) not in (None, "Z", "X")


def end_process(proc_or_pid, grace=3.0):
    """Ends one process by its id: SIGTERM, then SIGKILL after `grace`."""
    proc = proc_or_pid if isinstance(proc_or_pid, subprocess.Popen) else None
    pid = proc.pid if proc else proc_or_pid
    for sig, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, 5.0)):
        if not is_running(pid):
            break
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, sig)
        deadline = time.monotonic() + wait
        while is_running(pid) and time.monotonic() < deadline:
            time.sleep(0.02)
    if proc:
        with contextlib.suppress(subprocess.TimeoutExpired):
            proc.wait(timeout=1)


def pids_with_environment(name, value):
    """Processes whose environment holds name=value (how Wine's own
    helper processes of one prefix are found)."""
    needle = ("%s=%s" % (name, value)).encode() + b"\0"
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                env = b"\0" + f.read()
        except OSError:
            continue
        if b"\0" + needle in env and is_running(int(entry)):
            found.append(int(entry))
    return found


# ---------------------------------------------------------------- display

class Display:
    """One Xvfb.  number=None picks a free display by itself."""

    def __init__(self, number=None, log_path=None):
        self.number = number
        self.log_path = log_path
        self.proc = None

    @property
    def name(self):
        return ":%d" % self.number

    def start(self):
        cmd = ["Xvfb", "-screen", "0", "%dx%dx24" % SCREEN, "-noreset", "-nolisten", "tcp"]
        log = open(self.log_path or os.devnull, "ab")
        read_fd = None
        if self.number is None:
            read_fd, write_fd = os.pipe()
            cmd += ["-displayfd", str(write_fd)]
            pass_fds = (write_fd,)
        else:
            cmd.insert(1, self.name)
            pass_fds = ()
        self.proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                     pass_fds=pass_fds, start_new_session=True)
        log.close()
        if read_fd is not None:
            os.close(write_fd)
            with os.fdopen(read_fd, "rb") as f:
                text = f.readline().strip()
            if not text:
                self.stop()
                raise HarnessError("Xvfb did not start (see %s)" % self.log_path)
            self.number = int(text)
        socket = "/tmp/.X11-unix/X%d" % self.number
        deadline = time.monotonic() + 10
        while not os.path.exists(socket):
            if not is_running(self.proc.pid) or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        # A display number already taken: the socket is another server's.
        time.sleep(0.2)
        if not is_running(self.proc.pid) or not os.path.exists(socket):
            self.stop()
            raise HarnessError("Xvfb %s did not start (see %s)" % (self.name, self.log_path))
        return self

    def stop(self):
        if self.proc:
            end_process(self.proc)
            self.proc = None


def screenshot(display_name, path):
    """The whole screen as a PNG (ImageMagick import)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["import", "-display", display_name, "-window", "root", path],
                   check=True, timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


# ---------------------------------------------------------------- registry

def parse_reg_query(text):
    """`reg query` output (CRLF lines) as {value name: (type, data)};
    the default value is named ''."""
    values = {}
    for line in text.replace("\r\n", "\n").replace("\r", "\n").split("\n"):
        if not line.startswith("    "):
            continue
        parts = line.strip().split("    ", 2)
        if len(parts) < 2 or not parts[1].startswith("REG_"):
            continue
        name = "" if parts[0] == "(Default)" else parts[0]
        values[name] = (parts[1], parts[2] if len(parts) > 2 else "")
    return values


def reg_number(entry):
    """The number of a REG_DWORD entry from parse_reg_query, signed."""
    kind, data = entry
    if kind != "REG_DWORD":
        raise HarnessError("not a REG_DWORD: %r" % (entry,))
    value = int(data, 0)
    return value - (1 << 32) if value >= 1 << 31 else value


def decode_reg_export(raw):
    """A `reg export` file: UTF-16 with a byte-order mark, CRLF lines."""
    if raw.startswith(b"\xff\xfe") or raw.startswith(b"\xfe\xff"):
        text = raw.decode("utf-16")
    else:
        text = raw.decode("utf-8", "replace")
    return text.lstrip("\ufeff").replace("\r\n", "\n")


# ---------------------------------------------------------------- machine

def wine_environment(prefix, display_name):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": prefix,
        "WINEARCH": os.environ.get("ZAVIR_WINEARCH", "win64"),
        "DISPLAY": display_name,
        "WINEDEBUG": os.environ.get("ZAVIR_WINEDEBUG", "-all"),
        # No Mono or Gecko downloads, no desktop menu entries.
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        "WINESERVER": WINESERVER,
    })
    return env


def make_template(path, display_name, log=print):
    """Makes the template prefix once (wineboot), for Machines to copy;
    again when the way it is made changes."""
    stamp = os.path.join(path, ".zavir-template")
    recipe = hashlib.sha1(inspect.getsource(make_template).encode()).hexdigest()[:12]
    try:
        with open(stamp) as f:
            if f.read().endswith("recipe %s\n" % recipe):
                return path
    except OSError:
        pass
    building = path + ".building"
    shutil.rmtree(building, ignore_errors=True)
    os.makedirs(building)
    log("making the template Wine prefix %s" % path)
    started = time.monotonic()
    with Machine(building, display_name, fresh_from=None) as m:
        m.wine(["wineboot", "-i"], timeout=600)
        # No window manager: unmanaged windows, or hiding one stalls.
        m.reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N")
        m.reg_add(r"HKLM\Software\Wine\Ports", None, None, None)
    link_wine_files(building)
    with open(os.path.join(building, ".zavir-template"), "w") as f:
        f.write("made in %.1f s, recipe %s\n" % (time.monotonic() - started, recipe))
    shutil.rmtree(path, ignore_errors=True)
    os.rename(building, path)
    log("template made in %.1f s" % (time.monotonic() - started))
    return path


def link_wine_files(prefix):
    """Files that wineboot copied from Wine's own DLL folders become links
    to them: each case's copy of the template is then a few MB, not 600."""
    own = {}
    for folder in glob.glob("/usr/lib/*-linux-gnu/wine/*-windows"):
        for name in os.listdir(folder):
            own.setdefault(name.lower(), []).append(os.path.join(folder, name))
    for top, _, names in os.walk(os.path.join(prefix, "drive_c")):
        for name in names:
            path = os.path.join(top, name)
            same = [c for c in own.get(name.lower(), ()) if not os.path.islink(path)
                    and os.path.getsize(c) == os.path.getsize(path)
                    and filecmp.cmp(c, path, shallow=False)]
            if same:
                os.remove(path)
                os.symlink(same[0], path)


class Machine:
    """A Wine prefix with its own persistent wineserver.  Fresh copy of
    `fresh_from` (a template) unless that is None."""

    def __init__(self, prefix, display_name, fresh_from=None, screenshots=None, keep=False):
        self.prefix = os.path.abspath(prefix)
        self.display_name = display_name
        self.fresh_from = fresh_from
        self.screenshots = screenshots
        self.keep = keep
        self.server = None
        self.spawned = []
        self.env = wine_environment(self.prefix, display_name)

    # -- life
    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def start(self):
        if self.fresh_from:
            shutil.rmtree(self.prefix, ignore_errors=True)
            os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
            subprocess.run(["cp", "-a", "--reflink=auto", self.fresh_from, self.prefix], check=True)
        self._start_server()
        return self

    def _start_server(self):
        self.server = subprocess.Popen([WINESERVER, "-f", "-p"], env=self.env,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, start_new_session=True)

    def _stop_everything(self):
        for proc in reversed(self.spawned):
            end_process(proc, grace=0.5)
        self.spawned = []
        # Wine's own helpers (services, explorer, winedevice ...) outlive
        # their server: end them by id first, then the server, whose
        # SIGTERM saves the registry.
        server_pid = self.server.pid if self.server else None
        for pid in self.leftover_processes():
            if pid != server_pid:
                end_process(pid, grace=0.2)
        if self.server:
            end_process(self.server, grace=10)
            self.server = None
        for pid in self.leftover_processes():
            end_process(pid, grace=0.2)

    def restart(self):
        """A new Wine session on the same prefix (Wine reads the port
        mapping at session start)."""
        self._stop_everything()
        self._start_server()

    def close(self):
        self._stop_everything()
        if not self.keep and self.fresh_from:
            shutil.rmtree(self.prefix, ignore_errors=True)

    def leftover_processes(self):
        return pids_with_environment("WINEPREFIX", self.prefix)

    # -- programs
    def wine(self, args, timeout=60, input=None, check=False, cwd=None):
        """Runs a Windows program to its end; stdout and stderr as text.
        cwd (a Linux folder) becomes the program's current directory.
        Now and then, mostly just after a session starts, Wine fails to
        start a program at all; one that never ran is started once more."""
        result = self._run_once(args, timeout, input, cwd)
        if result.returncode != 0 and NOT_STARTED in result.stdout + result.stderr:
            time.sleep(0.5)
            result = self._run_once(args, timeout, input, cwd)
        if check and result.returncode != 0:
            raise HarnessError("%s failed (%d): %s%s" % (" ".join(args), result.returncode,
                                                         result.stdout, result.stderr))
        return result

    def _run_once(self, args, timeout, input, cwd):
        """Output goes through files: Wine's helper processes inherit the
        handles and would hold a pipe open long after the program ends."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.Popen([WINE] + list(args), env=self.env, stdout=out, stderr=err,
                                    stdin=subprocess.PIPE if input is not None else subprocess.DEVNULL,
                                    cwd=cwd)
            try:
                if input is not None:
                    proc.stdin.write(input.encode())
                    proc.stdin.close()
                returncode = proc.wait(timeout=timeout * PATIENCE)
            except BaseException:
                end_process(proc)
                raise
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(
                args, returncode, out.read().decode("utf-8", "replace"),
                err.read().decode("utf-8", "replace"))
        return result

    def spawn(self, args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, cwd=None):
        """Starts a Windows program in the background; ended by close().
        cwd (a Linux folder) becomes the program's current directory."""
        # stderr goes to a file (never a pipe: see _run_once) that tells a
        # program Wine never started from one that failed.
        err = tempfile.TemporaryFile()
        proc = subprocess.Popen([WINE] + list(args), env=self.env, stdin=stdin, stdout=stdout,
                                stderr=err, text=True, errors="replace", cwd=cwd)
        proc.err_file = err
        self.spawned.append(proc)
        return proc

    @staticmethod
    def errors_of(proc):
        """What a spawned program (and Wine for it) wrote to stderr so far."""
        proc.err_file.seek(0)
        return proc.err_file.read().decode("utf-8", "replace")

    def never_started(self, proc):
        """Ended with Wine's could-not-start message (see wine())."""
        return proc.poll() is not None and NOT_STARTED in self.errors_of(proc)

    def end(self, proc):
        end_process(proc)
        if proc in self.spawned:
            self.spawned.remove(proc)

    # -- files
    def c_drive(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    @staticmethod
    def windows_path(linux_path):
        """Wine's Z: drive is the Linux root."""
        return "Z:" + os.path.abspath(linux_path).replace("/", "\\")

    # -- registry
    def reg(self, args, check=True):
        return self.wine(["reg"] + list(args), timeout=60, check=check)

    def reg_add(self, key, name, kind, data):
        args = ["add", key]
        args += ["/ve"] if name == "" else (["/v", name] if name is not None else [])
        if kind:
            args += ["/t", kind]
        if data is not None:
            args += ["/d", str(data)]
        self.reg(args + ["/f"])

    def reg_query(self, key):
        """{value: (type, data)} of a key, or None when it does not exist.
        Any other failure of `reg` (seen now and then on a loaded machine)
        is tried again, then raised: it must not pass for a missing key."""
        for attempt in range(3):
            r = self.reg(["query", key], check=False)
            if r.returncode == 0:
                return parse_reg_query(r.stdout)
            if "Unable to find" in r.stdout + r.stderr:
                return None
            time.sleep(0.5)
        raise HarnessError("reg query %s failed (%d): %s%s" % (key, r.returncode, r.stdout,
                                                              r.stderr))

    def reg_delete(self, key, name=None):
        args = ["delete", key] + (["/v", name] if name else []) + ["/f"]
        return self.reg(args, check=False).returncode == 0

    def reg_export(self, key):
        out = os.path.join(self.prefix, "export-%d.reg" % time.monotonic_ns())
        self.reg(["export", key, self.windows_path(out), "/y"])
        with open(out, "rb") as f:
            raw = f.read()
        os.remove(out)
        return decode_reg_export(raw)

    def map_com_ports(self, ports, serialcomm=None):
        """COMn -> device path ({1: '/dev/pts/3', ...}) through Wine's
        Ports key, then a new session so that Wine takes them up.
        serialcomm, when given, fills hardware\\devicemap\\serialcomm
        ({value name: 'COM1', ...}) after the restart."""
        for n, path in sorted(ports.items()):
            self.reg_add(r"HKLM\Software\Wine\Ports", "COM%d" % n, "REG_SZ", path)
        self.restart()
        if serialcomm is not None:
            self.set_serialcomm(serialcomm)

    def set_serialcomm(self, values):
        # The key is volatile: it can't be made anew by reg, so only its
        # values are replaced.
        key = r"HKLM\Hardware\Devicemap\Serialcomm"
        for name in self.reg_query(key) or {}:
            if name not in values:
                self.reg_delete(key, name)
        for name, port in values.items():
            self.reg_add(key, name, "REG_SZ", port)

    # -- screen
    def screenshot(self, name):
        if not self.screenshots:
            raise HarnessError("no screenshot folder given")
        return screenshot(self.display_name, os.path.join(self.screenshots, name + ".png"))
