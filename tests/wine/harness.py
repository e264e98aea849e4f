"""Runs the Windows updater and the UI driver under Wine, each test run in a private 32-bit
prefix on its own Xvfb, and always leaves nothing running behind it.

A scenario, in short:

    with Session() as s:                                  # prefix + Xvfb, all gone at the end
        driver = s.start_driver(os.environ[ENV_DRIVER])   # one driver for the whole scenario
        sim = s.start_devsim(devsim_path, 7, ["--repeat"])  # COM7 -> pty, Ports device listed
        app = s.start_app(os.environ[ENV_EXE], "en_US.UTF-8")
        win = app.find_window(driver)
        win.wait_control(ID_STATUS, lambda c: c["text"] == ENGLISH[3], timeout=5)
        win.click(ID_UPDATE)
        box = win.wait_box(60)[0]     # title, text, icon ("hand", "exclamation", ...), buttons
        win.answer_box(box)
        sim.summary()                 # devsim's summary line as a dict
"""

import json
import os
import re
import select
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

WINE = shutil.which("wine") or "/usr/bin/wine"
WINEBOOT = shutil.which("wineboot") or "/usr/bin/wineboot"
WINESERVER = shutil.which("wineserver") or "/usr/bin/wineserver"
XVFB = shutil.which("Xvfb") or "/usr/bin/Xvfb"
WINE_FONTS = "/usr/share/wine/fonts"

# Where the tests find their programs and the prefix made once per ctest run (see
# CMakeLists.txt beside this file); command-line options of the test scripts override them.
ENV_EXE = "ZARN_UPDATE_EXE"
ENV_DRIVER = "ZARN_UIDRIVER_EXE"
ENV_TEMPLATE = "ZARN_WINE_TEMPLATE"
ENV_DEVSIM = "ZARN_DEVSIM_EXE"

# Control ids of the updater's main window.
ID_EXIT = 2
ID_SETUP = 1000
ID_STATUS = 1001
ID_UPDATE = 1002
ID_FILE_SELECT = 1003
ID_PROGRESS = 1004
ID_VERSION = 1006
ID_PICTURE = -1

# The Ports setup class, under which SetupAPI lists serial ports.
PORTS_CLASS_GUID = "{4D36E978-E325-11CE-BFC1-08002BE10318}"
DEVICE_NAME = "Zentap USB-Serial Communications Port"


class HarnessError(Exception):
    pass


def _wait_or_kill(proc, timeout=10):
    """Waits for the process to end, and kills it when it does not within `timeout`."""
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def _end_process(proc, timeout=10):
    if proc.poll() is None:
        proc.terminate()
        _wait_or_kill(proc, timeout)


def _clean_env(prefix, display, lang):
    env = {k: v for k, v in os.environ.items()
           if not (k.startswith("LC_") or k in ("LANG", "LANGUAGE", "WINEDLLOVERRIDES"))}
    env.update(WINEPREFIX=prefix, WINEARCH="win32", WINEDEBUG="-all", LANG=lang, LC_ALL=lang)
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    return env


def locale_installed(lang):
    """Wine takes the system language from the C library's locale: one that is not generated
    falls back to C, which Wine reports as English (0x0409)."""
    wanted = lang.lower().replace("utf-8", "utf8")
    out = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.lower()
    return wanted in out.split()


# With no window manager on the Xvfb, Wine's X11 driver waits 2 s for one at every window it
# destroys; unmanaged windows are destroyed at once and look the same to the program.
UNMANAGED_REG = ("Windows Registry Editor Version 5.00\r\n\r\n"
                 "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n\"Managed\"=\"N\"\r\n")


def make_prefix(prefix, display=None, managed=False):
    """A fresh 32-bit prefix; returns when the wineserver has written its registry. Its windows
    are left to the window manager (title bars, moving) only when managed is true."""
    env = _clean_env(prefix, display, "en_US.UTF-8")
    subprocess.run([WINEBOOT, "-i"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300, check=True)
    # Wine's own fonts (fonts-wine) draw the title bar's buttons and the dialogs' default face;
    # wineboot leaves the prefix's font folder empty.
    if os.path.isdir(WINE_FONTS):
        fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
        os.makedirs(fonts, exist_ok=True)
        for name in os.listdir(WINE_FONTS):
            shutil.copy(os.path.join(WINE_FONTS, name), fonts)
    if not managed:
        reg = os.path.join(prefix, "unmanaged.reg")
        with open(reg, "w", encoding="utf-16") as f:
            f.write(UNMANAGED_REG)
        subprocess.run([WINE, "regedit", "/S", reg], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=True)
        os.unlink(reg)
    subprocess.run([WINESERVER, "-w"], env=env, timeout=120)


class Xvfb:
    """An X server of its own on a display number nobody uses (Xvfb picks it and tells us)."""

    def __init__(self, screen="1024x768x24"):
        rd, wr = os.pipe()
        try:
            self.proc = subprocess.Popen(
                [XVFB, "-displayfd", str(wr), "-screen", "0", screen, "-nolisten", "tcp"],
                pass_fds=(wr,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        finally:
            os.close(wr)
        try:
            number = b""
            deadline = time.monotonic() + 30
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([rd], [], [], left)[0]:
                    raise HarnessError("Xvfb did not start")
                chunk = os.read(rd, 16)
                if not chunk:
                    raise HarnessError("Xvfb exited at start")
                number += chunk
        except BaseException:
            self.close()
            raise
        finally:
            os.close(rd)
        self.display = ":" + number.decode().strip()

    def close(self):
        _end_process(self.proc)


class Driver:
    """The UI driver (uidriver.exe): one long-lived Wine process, one JSON answer per command."""

    def __init__(self, session, exe, lang="en_US.UTF-8"):
        self.proc = session.spawn([WINE, exe], lang=lang, stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  cwd=os.path.dirname(os.path.abspath(exe)))
        self._buf = b""
        self.ping = self.call("ping", timeout=60)

    def call(self, command, timeout=30):
        """Sends one command line and returns its answer as a dict; raises on no answer."""
        if self.proc.poll() is not None:
            raise HarnessError("the UI driver has ended (exit code %s)" % self.proc.returncode)
        self.proc.stdin.write(command.encode("utf-8") + b"\n")
        self.proc.stdin.flush()
        fd = self.proc.stdout.fileno()
        deadline = time.monotonic() + timeout
        while b"\n" not in self._buf:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise HarnessError("no answer from the UI driver to %r" % command)
            chunk = os.read(fd, 65536)
            if not chunk:
                raise HarnessError("the UI driver ended while answering %r" % command)
            self._buf += chunk
        line, self._buf = self._buf.split(b"\n", 1)
        return json.loads(line.decode("ascii"))

    def must(self, command, timeout=30):
        """As call, but an answer with ok false is an error."""
        answer = self.call(command, timeout)
        if not answer.get("ok"):
            raise HarnessError("%s: %s" % (command, answer.get("error")))
        return answer

    def close(self):
        if self.proc.poll() is None:
            try:
                self.call("quit", timeout=5)
            except (HarnessError, OSError, ValueError):
                pass
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        _wait_or_kill(self.proc)
        self.proc.stdout.close()


class Window:
    """The updater's main window, seen and worked through the driver."""

    def __init__(self, driver, hwnd):
        self.driver = driver
        self.hwnd = hwnd
        self._pid = None

    def dump(self):
        return self.driver.must("dump %d" % self.hwnd)

    def controls(self):
        """Controls of a fresh dump, by id."""
        return {c["id"]: c for c in self.dump()["controls"]}

    def control(self, cid):
        return self.driver.must("control %d %d" % (self.hwnd, cid))["control"]

    def text(self, cid):
        return self.control(cid)["text"]

    def focus(self):
        return self.driver.must("focus %d" % self.hwnd)["focus"]

    def key(self, name):
        return self.driver.must("key %d %s" % (self.hwnd, name))

    def click(self, cid):
        """Presses a button as a user would; False when it is hidden or disabled."""
        return self.driver.must("click %d %d" % (self.hwnd, cid))["clicked"]

    def command(self, cid):
        """Posts the button's command straight to the window, as a click queued before the
        button was disabled would arrive; works on hidden buttons too."""
        self.driver.must("command %d %d" % (self.hwnd, cid))

    def close_box(self):
        self.driver.must("close %d" % self.hwnd)

    def alt_f4(self):
        self.driver.must("altf4 %d" % self.hwnd)

    def boxes(self):
        return self.driver.must("boxes %d" % self.hwnd)["boxes"]

    def wait_box(self, timeout=10.0):
        """The message boxes of the window, once there is at least one; None on time-out."""
        answer = self.driver.call("waitbox %d %d" % (self.hwnd, int(timeout * 1000)),
                                  timeout=timeout + 30)
        return answer["boxes"] if answer.get("ok") else None

    def answer_box(self, box, button=1):
        self.driver.must("answer %d %d" % (box["hwnd"], button))

    def answer_and_wait(self, box, button=1, timeout=10.0):
        """Answers a box and waits until it has gone; False when it stays."""
        self.answer_box(box, button)
        return self.driver.must("waitgone %d %d" % (box["hwnd"], int(timeout * 1000)),
                                timeout=timeout + 30)["gone"]

    def wait_gone(self, timeout=10.0):
        return self.driver.must("waitgone %d %d" % (self.hwnd, int(timeout * 1000)),
                                timeout=timeout + 30)["gone"]

    def watch(self):
        """Starts logging what the window's thread does to its controls; returns the number of
        the next event, to pass to events()."""
        return self.driver.must("watch %d" % self.hwnd)["next"]

    def events(self, since=0):
        """Logged control events of this window's process from number since on: dicts with
        n, t (ms), id, kind ("text", "pos", "enable") and text or value."""
        if self._pid is None:
            self._pid = self.dump()["pid"]
        return self.driver.must("events %d %d" % (since, self._pid))["events"]

    def set_text(self, cid, text):
        self.driver.must("settext %d %d %s" % (self.hwnd, cid, text))

    def wait_control(self, cid, predicate, timeout=10.0, interval=0.05):
        """Polls one control until predicate(control) is true; returns it or None."""
        deadline = time.monotonic() + timeout
        while True:
            control = self.control(cid)
            if predicate(control):
                return control
            if time.monotonic() >= deadline:
                return None
            time.sleep(interval)

    def wait_for(self, predicate, timeout=10.0, interval=0.05):
        """Polls a fresh dump until predicate(dump) is true; returns that dump or None."""
        deadline = time.monotonic() + timeout
        while True:
            dump = self.dump()
            if predicate(dump):
                return dump
            if time.monotonic() >= deadline:
                return None
            time.sleep(interval)


class App:
    """One run of the updater, in a working directory of its own (where ".\\ZarnUpdate.bin"
    goes)."""

    def __init__(self, session, exe, lang, cwd, args=(), wrapper=()):
        self.session = session
        self.cwd = cwd
        self.lang = lang
        self.proc = session.spawn([WINE, *wrapper, exe, *args], lang=lang, cwd=cwd,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.window = None

    def find_window(self, driver, timeout=60.0, title_prefix=""):
        answer = driver.call("find %d %s" % (int(timeout * 1000), title_prefix), timeout=timeout + 30)
        if not answer.get("ok"):
            raise HarnessError("the updater's window did not appear (process %s)"
                               % ("running" if self.proc.poll() is None
                                  else "ended with %s" % self.proc.returncode))
        self.window = Window(driver, answer["hwnd"])
        return self.window

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout=30.0):
        """The exit code, or None when the program is still running after timeout."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def stderr(self):
        """What Wine printed for the program (only once it has ended)."""
        if self.proc.poll() is None or self.proc.stderr is None:
            return ""
        data = self.proc.stderr.read()
        self.proc.stderr.close()
        self.proc.stderr = None
        return data.decode("utf-8", "replace")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def _read_line(stream, timeout):
    """One line from a pipe within timeout, without a trailing newline; None on time-out or end."""
    fd = stream.fileno()
    line = b""
    deadline = time.monotonic() + timeout
    while not line.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            return None
        byte = os.read(fd, 1)
        if not byte:
            return None
        line += byte
    return line.decode("utf-8", "replace").rstrip("\n")


def parse_summary(line):
    """devsim's summary line as a dict: 'devsim: update=1 verified=1 ...' -> {'update': '1', ...}."""
    fields = {}
    for word in shlex.split(line)[1:]:  # note="hung up at packet 5" is one field
        key, _, value = word.partition("=")
        fields[key] = value
    return fields


class Devsim:
    """The simulated device (tools/devsim) on a pty, plugged into a session as COM<com>: the port
    mapped to the pty and, unless register is False, a present Ports device named for it."""

    def __init__(self, session, exe, com, args=(), register=True, instance="5&1A2B3C&0&1"):
        self.session = session
        self.com = com
        self.instance = instance
        self.proc = subprocess.Popen([exe, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.pty = _read_line(self.proc.stdout, 10)
        if not self.pty:
            self.close()
            raise HarnessError("devsim did not start")
        session.map_com(com, self.pty)
        self.registered = False
        if register:
            self.plug()

    def plug(self, com=None):
        """Shows the device to SetupAPI (again), under another COM number if given."""
        if com is not None and com != self.com:
            self.session.unmap_com(self.com)
            self.com = com
            self.session.map_com(com, self.pty)
        self.session.add_port_device(self.com, self.instance)
        self.registered = True

    def unplug(self):
        """The device disappears from SetupAPI's list; the pty stays open."""
        self.session.remove_port_device(self.instance)
        self.registered = False

    def summary(self, timeout=30.0):
        """The next summary line as a dict, or None when none came in time."""
        line = _read_line(self.proc.stdout, timeout)
        return parse_summary(line) if line else None

    def stop(self, timeout=10.0):
        """Ends the simulator (if still running) and returns its last summary line as a dict:
        the update in progress (marked interrupted) when none had ended, else the last one
        not yet read; None when it printed none."""
        if self.proc.poll() is None:
            self.proc.terminate()
        last = None
        while True:
            line = _read_line(self.proc.stdout, timeout)
            if line is None:
                break
            last = parse_summary(line)
        _wait_or_kill(self.proc, timeout)
        return last

    def close(self):
        _end_process(self.proc)
        self.proc.stdout.close()
        self.proc.stderr.close()


class Session:
    """A private Wine prefix and Xvfb for one group of tests. Copies the run's template prefix
    when there is one (a copy takes about 2 s, wineboot about 10 s), else boots a new one."""

    def __init__(self, template=None, screen="1024x768x24", display=None):
        """display: an X display to show the windows on (a user's desktop, managed by its
        window manager) instead of an Xvfb of the session's own."""
        self.root = tempfile.mkdtemp(prefix="zarn-wine-")
        self.prefix = os.path.join(self.root, "prefix")
        self.xvfb = None
        self._display = display
        self._procs = []
        self._devsims = []
        try:
            if display is None:
                self.xvfb = Xvfb(screen)
            template = template if template is not None else os.environ.get(ENV_TEMPLATE)
            if template and os.path.isfile(os.path.join(template, "system.reg")):
                subprocess.run(["cp", "-a", template, self.prefix], check=True)
            else:
                make_prefix(self.prefix, self.display, managed=display is not None)
        except BaseException:
            self.close()
            raise

    @property
    def display(self):
        return self._display if self._display is not None else self.xvfb.display

    def env(self, lang="en_US.UTF-8"):
        return _clean_env(self.prefix, self.display, lang)

    def spawn(self, args, lang="en_US.UTF-8", **kwargs):
        proc = subprocess.Popen(args, env=self.env(lang), **kwargs)
        self._procs.append(proc)
        return proc

    def run(self, args, lang="en_US.UTF-8", timeout=120, **kwargs):
        return subprocess.run(args, env=self.env(lang), timeout=timeout, **kwargs)

    def workdir(self, name):
        """An empty directory for one run of the updater."""
        path = tempfile.mkdtemp(prefix=name + "-", dir=self.root)
        return path

    def drive_c(self, *parts):
        """Unix path of C:\\<parts>."""
        return os.path.join(self.prefix, "drive_c", *parts)

    def start_driver(self, exe, lang="en_US.UTF-8"):
        return Driver(self, exe, lang)

    def start_app(self, exe, lang="en_US.UTF-8", cwd=None, **kwargs):
        return App(self, exe, lang, cwd or self.workdir("run"), **kwargs)

    def start_devsim(self, exe, com, args=(), **kwargs):
        sim = Devsim(self, exe, com, args, **kwargs)
        self._devsims.append(sim)
        return sim

    # --- the simulated device's side of Windows ------------------------------------------

    def map_com(self, number, device_path):
        """COM<number> opens device_path (a pty's slave side)."""
        link = os.path.join(self.prefix, "dosdevices", "com%d" % number)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(device_path, link)

    def unmap_com(self, number):
        link = os.path.join(self.prefix, "dosdevices", "com%d" % number)
        if os.path.lexists(link):
            os.unlink(link)

    def regedit(self, text):
        """Imports a .reg text into the prefix's registry."""
        path = os.path.join(self.root, "import-%d.reg" % time.monotonic_ns())
        with open(path, "w", encoding="utf-16") as f:
            f.write(text)
        self.run([WINE, "regedit", "/S", path], stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL, check=True)
        os.unlink(path)

    @staticmethod
    def _port_key(instance):
        return "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB\\VID_1F3A&PID_7001\\" + instance

    def add_port_device(self, com, instance="5&1A2B3C&0&1", friendly=None):
        """A present serial port device that SetupAPI lists in the Ports class."""
        name = friendly if friendly is not None else "%s (COM%d)" % (DEVICE_NAME, com)
        quote = lambda s: s.replace("\\", "\\\\").replace('"', '\\"')
        self.regedit("Windows Registry Editor Version 5.00\r\n\r\n"
                     "[%s]\r\n"
                     "\"ClassGUID\"=\"%s\"\r\n"
                     "\"Class\"=\"Ports\"\r\n"
                     "\"FriendlyName\"=\"%s\"\r\n"
                     "\"DeviceDesc\"=\"%s\"\r\n"
                     % (self._port_key(instance), PORTS_CLASS_GUID, quote(name), DEVICE_NAME))

    def remove_port_device(self, instance="5&1A2B3C&0&1"):
        self.regedit("Windows Registry Editor Version 5.00\r\n\r\n[-%s]\r\n"
                     % self._port_key(instance))

    def link_font(self, face, fallbacks):
        """Draws the characters that face lacks with the fallback fonts ("file,face" each)."""
        data = "".join(f + "\0" for f in fallbacks) + "\0"
        hexed = ",".join("%02x" % b for b in data.encode("utf-16-le"))
        self.regedit("Windows Registry Editor Version 5.00\r\n\r\n"
                     "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\"
                     "FontLink\\SystemLink]\r\n\"%s\"=hex(7):%s\r\n" % (face, hexed))

    # --- the end ----------------------------------------------------------------------------

    def close(self):
        """Ends every Wine process of the prefix, every devsim, the Xvfb, and removes the
        prefix."""
        for sim in self._devsims:
            sim.close()
        self._devsims = []
        if os.path.isdir(self.prefix):
            try:
                subprocess.run([WINESERVER, "-k"], env=self.env(), timeout=30,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            except subprocess.TimeoutExpired:
                pass
        for proc in self._procs:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            for stream in (proc.stdin, proc.stdout, proc.stderr):
                if stream:
                    try:
                        stream.close()
                    except OSError:
                        pass
        self._procs = []
        if self.xvfb:
            self.xvfb.close()
            self.xvfb = None
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def open_session(driver_exe, lang="en_US.UTF-8", **session_args):
    """A Session with one UI driver started in it, for a whole test module; the session is
    closed again when the driver does not start."""
    session = Session(**session_args)
    try:
        return session, session.start_driver(driver_exe, lang)
    except BaseException:
        session.close()
        raise


def close_session(session, driver):
    if driver:
        driver.close()
    if session:
        session.close()


def start_app_window(session, driver, exe, lang="en_US.UTF-8"):
    """Starts the updater and finds its window; the program is killed if the window never
    shows."""
    app = session.start_app(exe, lang)
    try:
        app.find_window(driver)
    except BaseException:
        app.kill()
        raise
    return app


def capture_window(session, rect, path):
    """Grabs `rect` off the session's screen into `path` once two grabs in a row agree (the
    window has finished painting)."""
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    geometry = "%dx%d+%d+%d" % (rect["w"], rect["h"], rect["x"], rect["y"])
    previous = None
    for _ in range(10):
        time.sleep(0.3)
        subprocess.run(["import", "-display", session.display, "-window", "root",
                        "-crop", geometry, "+repage", path], check=True)
        with open(path, "rb") as f:
            data = f.read()
        if data == previous:
            return
        previous = data


def embedded_image(exe):
    """The image file that exe embeds: the one its build tree's update_image.rc names (the
    exe is <tree>/app/ZarnUpdate.exe), unless ZARN_UPDATE_IMAGE names one."""
    if os.environ.get("ZARN_UPDATE_IMAGE"):
        return os.environ["ZARN_UPDATE_IMAGE"]
    rc = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(exe))), "res",
                      "update_image.rc")
    with open(rc, encoding="utf-8") as f:
        for line in f:
            found = re.match(r'\s*135\s+OTHER\s+"(.*)"\s*$', line)
            if found:
                return found.group(1)
    raise HarnessError("no image resource in " + rc)


def program_paths(argv):
    """Takes --exe, --driver and --devsim (the native device simulator, for the tests that
    need it) from argv, else from the environment; returns the rest."""
    rest, exe, driver = [], os.environ.get(ENV_EXE), os.environ.get(ENV_DRIVER)
    it = iter(argv)
    for a in it:
        if a == "--exe":
            exe = next(it)
        elif a == "--driver":
            driver = next(it)
        elif a == "--devsim":
            os.environ[ENV_DEVSIM] = os.path.abspath(next(it))
        else:
            rest.append(a)
    if not exe or not driver:
        sys.exit("usage: %s --exe ZarnUpdate.exe --driver uidriver.exe [unittest options]"
                 " (or set %s and %s)" % (os.path.basename(sys.argv[0]), ENV_EXE, ENV_DRIVER))
    os.environ[ENV_EXE] = os.path.abspath(exe)
    os.environ[ENV_DRIVER] = os.path.abspath(driver)
    return rest


def main():
    """harness.py make-template DIR: the prefix a test run copies for each test group."""
    if len(sys.argv) == 3 and sys.argv[1] == "make-template":
        target = sys.argv[2]
        shutil.rmtree(target, ignore_errors=True)
        os.makedirs(os.path.dirname(os.path.abspath(target)), exist_ok=True)
        xvfb = Xvfb()
        try:
            make_prefix(target, xvfb.display)
        finally:
            subprocess.run([WINESERVER, "-k"], env=_clean_env(target, xvfb.display, "C"),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            xvfb.close()
        if not os.path.isfile(os.path.join(target, "system.reg")):
            sys.exit("wineboot made no registry in " + target)
        return
    if len(sys.argv) == 3 and sys.argv[1] == "remove-template":
        shutil.rmtree(sys.argv[2], ignore_errors=True)
        return
    sys.exit("usage: harness.py make-template DIR | remove-template DIR")


if __name__ == "__main__":
    main()
