"""Shared pieces of the zarnflash command-line tests: the programs, simulated devices on ptys
(each devsim makes its own and a link to it in a test folder, which --ports finds by glob),
and running zarnflash with its output, JSON events and exit code."""
import json
import os
import signal
import subprocess
import tempfile
import time
import unittest

ZARNFLASH = os.environ.get("ZARNFLASH", "zarnflash")
DEVSIM = os.environ.get("DEVSIM", "devsim")
SAMPLE = os.environ.get("ZARN_SAMPLE_IMAGE", "")

# Exit codes, as zarnflash documents them.
OK, USAGE, NO_DEVICE, PORT, LINK, READ, REJECTED, SIZE, INTERRUPTED = 0, 2, 3, 4, 5, 6, 7, 8, 130


def summaries(text):
    """devsim's summary lines as dicts of their fields."""
    found = []
    for line in text.splitlines():
        if not line.startswith("devsim: update="):
            continue
        fields = {}
        for word in line[len("devsim: "):].split(" "):
            if "=" in word:
                key, value = word.split("=", 1)
                fields[key] = value
        found.append(fields)
    return found


def transfer(found):
    """The last update that got as far as a download command, or None."""
    with_download = [s for s in found if s.get("download") == "1"]
    return with_download[-1] if with_download else None


class Devsim:
    """One simulated device, linked as `link` (found by --ports through a glob). It serves
    update after update: zarnflash's probe of a port counts as one (a version query alone)."""

    def __init__(self, link, *args):
        self.link = link
        self.proc = subprocess.Popen([DEVSIM, "--link", link, "--repeat", *args],
                                     stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.pty = self.proc.stdout.readline().strip()
        deadline = time.time() + 5
        while not os.path.islink(link) and time.time() < deadline:
            time.sleep(0.01)
        self.out = ""

    def stop(self):
        """Ends it (if it still runs) and returns its summaries."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        out, _ = self.proc.communicate(timeout=20)
        self.out += out
        return summaries(self.out)

    def transfer(self):
        """Ends it and returns the summary of its last transfer (None when there was none)."""
        return transfer(self.stop())


class Run:
    def __init__(self, proc, stdout, stderr):
        self.code = proc.returncode
        self.stdout = stdout
        self.stderr = stderr
        self.events = []
        for line in stdout.splitlines():
            if line.startswith("{"):
                self.events.append(json.loads(line))

    def of(self, kind):
        return [e for e in self.events if e["event"] == kind]


def zarnflash(*args, timeout=60):
    proc = subprocess.run([ZARNFLASH, *args], capture_output=True, text=True, timeout=timeout)
    return Run(proc, proc.stdout, proc.stderr)


class FlasherTest(unittest.TestCase):
    """A test folder for links and images; devices made here are stopped at the end."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="zarnflash-test-")
        self.devices = []

    def tearDown(self):
        for d in self.devices:
            if d.proc.poll() is None:
                d.proc.kill()
                d.proc.communicate()
        subprocess.run(["rm", "-rf", self.dir])

    def device(self, name, *args):
        d = Devsim(os.path.join(self.dir, "port-" + name), *args)
        self.devices.append(d)
        return d

    def ports(self):
        return ["--ports", os.path.join(self.dir, "port-*")]

    def image(self, name, length, version=20180911):
        path = os.path.join(self.dir, name)
        data = bytearray((i * 7 + 3) & 0xFF for i in range(length))
        if length >= 12:
            data[8:12] = version.to_bytes(4, "little")
        with open(path, "wb") as f:
            f.write(data)
        return path
