"""Running Win32 programs under Wine on a virtual X display, for the end-to-end tests.

A Session owns one Xvfb server and one initialised Wine prefix (the base); its state lives in a
folder so that separate processes (the CTest fixture and each case) share it. Each case works in
a Prefix copied from the base, runs programs in it, looks at its windows through probe.exe (our
own Win32 program that reads them with the Win32 API), answers message boxes with keys sent by
xdotool and takes screenshots with xwd.
"""
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

SKIP = 77  # CTest's skip code for these tests


class Unavailable(Exception):
    """Wine, Xvfb or the win32 build is missing: the tests cannot run here."""


def _tool(*candidates):
    for candidate in candidates:
        path = candidate if os.path.isabs(candidate) else shutil.which(candidate)
        if path and os.access(path, os.X_OK):
            return path
    raise Unavailable(f"none of {', '.join(candidates)} is installed (scripts/install-deps)")


class Tools:
    def __init__(self):
        self.wine = _tool("/usr/lib/wine/wine64", "wine64", "wine")
        self.wineserver = _tool("/usr/lib/wine/wineserver", "wineserver64", "wineserver")
        self.xvfb = _tool("Xvfb")
        self.xdotool = _tool("xdotool")
        self.xwininfo = _tool("xwininfo")
        self.xwd = _tool("xwd")
        self.convert = _tool("convert")


# Folders of the prefix that programs only read: the copies share their files with the base.
SHARED_TREES = ("drive_c/windows/system32", "drive_c/windows/syswow64", "drive_c/windows/winsxs")


class Session:
    def __init__(self, state_dir):
        self.state_dir = os.path.abspath(state_dir)
        self.base = os.path.join(self.state_dir, "base")
        self.cases = os.path.join(self.state_dir, "cases")
        self.info_path = os.path.join(self.state_dir, "session.json")
        self.info = {}

    # -- set up and tear down (the CTest fixture) --

    def setup(self):
        """Starts Xvfb and initialises the base prefix. An environment that cannot run the
        tests is recorded, so that every case reports it as skipped."""
        self.cleanup()
        os.makedirs(self.state_dir, exist_ok=True)
        try:
            tools = Tools()
        except Unavailable as e:
            self._save({"unavailable": str(e)})
            print(f"setup: {e}")
            return
        display, pid = self._start_xvfb(tools)
        self._save({"display": display, "xvfb_pid": pid})
        started = time.monotonic()
        env = self._env(self.base, display)
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml="  # no Mono or Gecko installer prompts
        subprocess.run([tools.wine, "wineboot", "--init"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        # Wine draws the window frames itself, so screenshots show captions and borders.
        subprocess.run([tools.wine, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v",
                        "Managed", "/d", "N", "/f"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        subprocess.run([tools.wineserver, "-w"], env=env, timeout=120)
        print(f"setup: Xvfb on :{display} (pid {pid}), prefix initialised in "
              f"{time.monotonic() - started:.1f} s")

    def _start_xvfb(self, tools):
        """Starts Xvfb on the first free display number from 90 up; returns (number, pid)."""
        log = open(os.path.join(self.state_dir, "xvfb.log"), "wb")
        for number in range(90, 190):
            if os.path.exists(f"/tmp/.X{number}-lock") or \
                    os.path.exists(f"/tmp/.X11-unix/X{number}"):
                continue
            proc = subprocess.Popen(
                [tools.xvfb, f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                 "-noreset"], stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                start_new_session=True)
            socket = f"/tmp/.X11-unix/X{number}"
            deadline = time.monotonic() + 30
            while proc.poll() is None and not os.path.exists(socket) and \
                    time.monotonic() < deadline:
                time.sleep(0.1)
            if os.path.exists(socket) and proc.poll() is None:
                return number, proc.pid
            if proc.poll() is None:
                proc.kill()
            proc.wait()
        raise RuntimeError("Xvfb did not start on any display (see xvfb.log)")

    def cleanup(self, keep_prefixes=False):
        """Stops the Xvfb this session started and removes the prefixes (unless kept)."""
        info = self._load()
        pid = info.get("xvfb_pid")
        if pid and _is_xvfb(pid):
            os.kill(pid, signal.SIGTERM)
        if keep_prefixes:
            if os.path.exists(self.info_path):
                os.remove(self.info_path)
        elif os.path.isdir(self.state_dir):
            shutil.rmtree(self.state_dir, ignore_errors=True)

    # -- cases --

    def open(self):
        """Loads the state the fixture left; raises Unavailable when the tests cannot run."""
        self.info = self._load()
        if "unavailable" in self.info:
            raise Unavailable(self.info["unavailable"])
        if not self.info or not _is_xvfb(self.info.get("xvfb_pid", 0)):
            raise RuntimeError(f"no running session in {self.state_dir}: run the setup first")
        self.tools = Tools()
        return self

    def prefix(self, name):
        return Prefix(self, name)

    def _env(self, prefix, display):
        env = dict(os.environ)
        env.update({"WINEPREFIX": prefix, "WINEDEBUG": "-all", "WINEARCH": "win64",
                    "DISPLAY": f":{display}", "TZ": "UTC", "LC_ALL": "C.UTF-8"})
        return env

    def _save(self, info):
        with open(self.info_path, "w") as f:
            json.dump(info, f)

    def _load(self):
        try:
            with open(self.info_path) as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}


def _is_xvfb(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return b"Xvfb" in f.read().split(b"\0")[0]
    except OSError:
        return False


def _copy_prefix(base, target):
    shared = tuple(os.path.join(base, tree) for tree in SHARED_TREES)

    def copy(src, dst):
        if src.startswith(shared):
            os.link(src, dst)
        else:
            shutil.copy2(src, dst)

    shutil.copytree(base, target, symlinks=True, copy_function=copy)


class Prefix:
    """A fresh copy of the base prefix for one case."""

    def __init__(self, session, name):
        self.session = session
        self.tools = session.tools
        self.path = os.path.join(session.cases, name)
        self.env = session._env(self.path, session.info["display"])
        if os.path.exists(self.path):
            self.stop()
            shutil.rmtree(self.path)
        os.makedirs(session.cases, exist_ok=True)
        _copy_prefix(session.base, self.path)
        self.display = f":{session.info['display']}"

    def unix(self, windows_path):
        """The Linux path of a C: path of this prefix."""
        assert windows_path[:3].upper() == "C:\\", windows_path
        return os.path.join(self.path, "drive_c", *windows_path[3:].split("\\"))

    def find(self, windows_path):
        """Like unix(), but matching each part without regard to case, as Windows does;
        None when there is no such file."""
        current = os.path.join(self.path, "drive_c")
        for part in windows_path[3:].split("\\"):
            try:
                names = {n.lower(): n for n in os.listdir(current)}
            except OSError:
                return None
            if part.lower() not in names:
                return None
            current = os.path.join(current, names[part.lower()])
        return current

    def put(self, source, windows_path):
        target = self.unix(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)

    def start(self, windows_path, *args):
        """Starts a program; returns a Run that tells when and how it ended."""
        log = open(os.path.join(self.path, "programs.log"), "ab")
        return Run(subprocess.Popen([self.tools.wine, windows_path, *args], env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=log))

    def wine(self, *args, timeout=60):
        """Runs a program to its end; returns (exit code, its output).

        The output goes through a file, not a pipe: Wine's service processes inherit the
        handles and outlive the program, and a pipe would not close until they end."""
        with tempfile.TemporaryFile(dir=self.path) as out:
            code = subprocess.run([self.tools.wine, *args], env=self.env,
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                  timeout=timeout).returncode
            out.seek(0)
            return code, out.read().decode("latin-1")

    def probe(self, probe_exe, *command):
        code, output = self.wine(probe_exe, *command)
        if code != 0:
            raise RuntimeError(f"probe {command} failed with {code}: {output}")
        values = {}
        for line in output.splitlines():
            key, sep, value = line.partition("=")
            if sep:
                values[key.strip()] = value.rstrip("\r")
        return values

    def stop(self):
        """Ends this prefix's wineserver and every program still running in it."""
        for flag in ("-k", "-w"):
            subprocess.run([self.tools.wineserver, flag], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def settle(self):
        """Waits until every program of this prefix has ended and the wineserver is gone."""
        try:
            subprocess.run([self.tools.wineserver, "-w"], env=self.env, timeout=60)
        except subprocess.TimeoutExpired:
            self.stop()

    # -- the X side --

    def x_windows(self, title):
        """X windows whose name is exactly title."""
        done = subprocess.run([self.tools.xdotool, "search", "--name", f"^{re.escape(title)}$"],
                              env=self.env, capture_output=True, text=True)
        return [int(w) for w in done.stdout.split()]

    def press_return(self, title):
        """Answers the box captioned title as a user does: focus it and press Return."""
        windows = self.x_windows(title)
        if not windows:
            raise AssertionError(f"no X window named {title!r} to answer")
        subprocess.run([self.tools.xdotool, "windowfocus", "--sync", str(windows[-1]),
                        "key", "Return"], env=self.env, check=True, timeout=30)

    def x_geometry(self, window):
        done = subprocess.run([self.tools.xwininfo, "-id", str(window)], env=self.env,
                              capture_output=True, text=True, check=True)
        fields = dict(re.findall(r"^\s*([A-Za-z -]+):\s+(-?\d+)\s*$", done.stdout, re.M))
        return (int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"]),
                int(fields["Width"]), int(fields["Height"]))

    def screenshot(self, rect, png):
        """Saves the screen area rect = (x, y, width, height) as png; returns its RGB rows."""
        x, y, w, h = rect
        xwd = subprocess.run([self.tools.xwd, "-root", "-silent"], env=self.env,
                             capture_output=True, check=True).stdout
        crop = ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
        subprocess.run([self.tools.convert, "xwd:-", *crop, png], input=xwd, check=True)
        raw = subprocess.run([self.tools.convert, png, "-depth", "8", "rgb:-"],
                             capture_output=True, check=True).stdout
        if len(raw) != w * h * 3:
            raise AssertionError(f"screenshot is {len(raw)} bytes, not {w}x{h} pixels")
        return [[tuple(raw[(r * w + c) * 3:(r * w + c) * 3 + 3]) for c in range(w)]
                for r in range(h)]


class Run:
    """One started program."""

    def __init__(self, proc):
        self.proc = proc
        self.started = time.monotonic()
        self.ended = None

    def running(self):
        if self.proc.poll() is None:
            return True
        if self.ended is None:
            self.ended = time.monotonic()
        return False

    def wait(self, timeout):
        try:
            self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"program still running after {timeout} s")
        self.running()
        return self.proc.returncode


def wait_for(what, condition, timeout, interval=0.3):
    """Polls condition until it returns a true value; raises after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)
