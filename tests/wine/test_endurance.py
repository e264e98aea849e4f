"""Long use of one window under Wine: 50 updates in a row, and 20 unplug and replug cycles
while idle. The program's open handles and memory, as its own process reads them, end within
a small margin of what they were after a warm-up round."""

import os
import sys
import time
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import ID_EXIT, ID_STATUS  # noqa: E402
import scenario  # noqa: E402
from scenario import COM, T, UpdateRun, check_success  # noqa: E402

UPDATES = 50
CYCLES = 20
# One poll every 3 s, plus the discovery and the registry change themselves.
POLL_WAIT = 4.5
# Margins over the whole run, after the warm-up. Wine opens a few handles of its own lazily
# (registry keys, thread and event handles in its libraries), so a small fixed slack; a handle
# lost per update or per cycle goes past it. Private bytes (committed private memory, what a
# leak grows) may move with the heaps' free lists; a lost image buffer (1 MB), or 20 KB lost
# per round, goes past the margin. The working set is shown, not held to a margin: it also
# counts pages that Wine touches for the first time in memory already committed.
HANDLE_MARGIN = 5
MEMORY_MARGIN = 1 << 20

session = None
driver = None
EXE = DRIVER = DEVSIM = IMAGE = None


def setUpModule():
    global session, driver, EXE, DRIVER, DEVSIM, IMAGE
    EXE, DRIVER, DEVSIM = scenario.programs()
    IMAGE = harness.embedded_image(EXE)
    session, driver = harness.open_session(DRIVER)


def tearDownModule():
    harness.close_session(session, driver)


def counts(window):
    """(handles, private bytes, working set) of the window's process, read inside it."""
    answer = driver.must("process %d" % window.hwnd)
    return answer["handles"], answer["private_bytes"], answer["working_set"]


class Endurance(unittest.TestCase):
    """One updater on COM7 with a simulator that serves update after update."""

    def setUp(self):
        self.sim = session.start_devsim(DEVSIM, COM, ["--repeat", "--verify", IMAGE])
        self.app = scenario.start_app(session, driver, EXE)
        self.window = self.app.window
        self.assertIsNotNone(self.window.wait_control(ID_STATUS, scenario.status_is(T[3]), 3),
                             "the device was not found")

    def tearDown(self):
        if self.app.running():
            self.window.click(ID_EXIT)
            if self.app.wait(10) is None:
                self.app.kill()
        self.sim.stop()
        session.remove_port_device()

    def check_within_margins(self, start, end, what):
        print("\n%s: handles %d -> %d (margin %d); private bytes %d -> %d (margin %d);"
              " working set %d -> %d" % (what, start[0], end[0], HANDLE_MARGIN, start[1], end[1],
                                         MEMORY_MARGIN, start[2], end[2]), file=sys.stderr)
        self.assertGreater(start[0], 0, "the process's handle count could not be read")
        self.assertGreater(start[1], 0, "the process's private bytes could not be read")
        self.assertLessEqual(end[0] - start[0], HANDLE_MARGIN, "handles grew")
        self.assertLessEqual(end[1] - start[1], MEMORY_MARGIN, "private bytes grew")


class Updates(Endurance):
    def update(self, number, version):
        run = UpdateRun(self.window)
        check_success(self, run, version)
        self.assertEqual(run.answer(), [], "update %d: something after the box" % number)
        summary = self.sim.summary(10)
        self.assertEqual((summary["verified"], summary["completed"]), ("1", "1"),
                         "update %d: %r" % (number, summary))

    def test_fifty_updates_in_a_row(self):
        version = scenario.version_line(IMAGE)
        self.update(0, version)  # the warm-up
        start = counts(self.window)
        started = time.monotonic()
        for number in range(1, UPDATES + 1):
            self.update(number, version)
            if number % 10 == 0:
                print("\nafter %d: handles, private bytes, working set %r"
                      % (number, counts(self.window)), file=sys.stderr)
        end = counts(self.window)
        print("\n%d updates in %.0f s" % (UPDATES, time.monotonic() - started), file=sys.stderr)
        self.check_within_margins(start, end, "%d updates" % UPDATES)


class Replug(Endurance):
    def cycle(self, number):
        """Unplugged and plugged in again, each as soon as the window has shown the last."""
        self.sim.unplug()
        self.assertIsNotNone(
            self.window.wait_control(ID_STATUS, scenario.status_is(T[4]), POLL_WAIT, 0.02),
            "cycle %d: the unplug was not seen" % number)
        self.sim.plug()
        self.assertIsNotNone(
            self.window.wait_control(ID_STATUS, scenario.status_is(T[3]), POLL_WAIT, 0.02),
            "cycle %d: the device was not found again" % number)

    def test_twenty_unplug_and_replug_cycles(self):
        self.cycle(0)  # the warm-up
        start = counts(self.window)
        started = time.monotonic()
        for number in range(1, CYCLES + 1):
            self.cycle(number)
        end = counts(self.window)
        print("\n%d cycles in %.0f s" % (CYCLES, time.monotonic() - started), file=sys.stderr)
        self.check_within_margins(start, end, "%d cycles" % CYCLES)
        # And the window still updates the device.
        run = UpdateRun(self.window)
        check_success(self, run, scenario.version_line(IMAGE))
        run.answer()
        self.assertEqual(self.sim.summary(10)["verified"], "1")


del Endurance  # the base class has no test of its own

if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + harness.program_paths(sys.argv[1:]), verbosity=2)
