"""The window's watch over the device under Wine: unplugged and plugged in again under other
COM numbers (COM12 included), two copies of the updater watching one device while one of them
closes, and the window closed in the middle of an update. Checked from the window and from
the simulator's summary."""

import os
import sys
import time
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import ID_EXIT, ID_PROGRESS, ID_STATUS, ID_UPDATE  # noqa: E402
import scenario  # noqa: E402
from scenario import COM, T, UpdateRun, check_success  # noqa: E402

# One poll every 3 s, plus the discovery and the registry change themselves.
POLL_WAIT = 4.5
# A line slow enough that an update lasts several seconds: 1 MB at 150 kB/s.
SLOW_RATE = "150000"

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


def close_app(app):
    if app.running():
        app.window.click(ID_EXIT)
        if app.wait(10) is None:
            app.kill()


class Replug(unittest.TestCase):
    """Unplugged while idle: text 4 and the bar at 0 within about 3 s. Plugged in under
    another number: probed (a port that will not open is not taken), then text 3, and the
    next update goes through the new number. Plugged in under the known number: taken
    without a probe."""

    def test_unplug_and_replug_under_other_numbers(self):
        sim = session.start_devsim(DEVSIM, COM, ["--repeat", "--verify", IMAGE])
        app = scenario.start_app(session, driver, EXE)
        window = app.window
        try:
            self.assertIsNotNone(window.wait_control(ID_STATUS, scenario.status_is(T[3]), 3))

            def unplug():
                sim.unplug()
                start = time.monotonic()
                self.assertIsNotNone(
                    window.wait_control(ID_STATUS, scenario.status_is(T[4]), POLL_WAIT),
                    "the unplugged device still shows as connected")
                self.assertLess(time.monotonic() - start, 4.0)
                self.assertEqual(window.control(ID_PROGRESS)["pos"], 0)

            def wait_connected(what):
                self.assertIsNotNone(
                    window.wait_control(ID_STATUS, scenario.status_is(T[3]), POLL_WAIT),
                    what)

            # From COM7 to COM3, a number the discovery has not seen: probed, then taken.
            unplug()
            sim.plug(3)
            wait_connected("not found under COM3")

            # To COM12, whose port does not open at first: the probe fails, the device stays
            # disconnected over whole polls; once the port opens, it is taken.
            unplug()
            session.unmap_com(3)
            session.add_port_device(12)
            mark = window.watch()
            time.sleep(POLL_WAIT)
            self.assertEqual(window.text(ID_STATUS), T[4], "a port that does not open was taken")
            self.assertNotIn(("status", T[3]), scenario.story(window.events(mark)))
            session.map_com(12, sim.pty)
            sim.com = 12
            wait_connected("not found under COM12 (\\\\.\\COM12)")

            # Back under the known number while its port does not open: no probe, so it is
            # shown connected all the same.
            unplug()
            session.unmap_com(12)
            sim.plug()
            self.assertEqual(sim.com, 12)
            wait_connected("the known port was probed instead of taken")

            # The update goes through COM12.
            session.map_com(12, sim.pty)
            run = UpdateRun(window)
            check_success(self, run, scenario.version_line(IMAGE))
            self.assertEqual(run.answer(), [])
            summary = sim.summary(10)
            self.assertEqual((summary["update"], summary["verified"]), ("1", "1"), summary)

            # Still connected after it: the monitor leaves text 20 alone.
            mark = window.watch()
            time.sleep(POLL_WAIT)
            self.assertEqual(window.text(ID_STATUS), T[20])
            self.assertEqual(scenario.story(window.events(mark)), [])
        finally:
            close_app(app)
            sim.stop()
            session.remove_port_device()
            for number in (3, 7, 12):
                session.unmap_com(number)


class TwoCopies(unittest.TestCase):
    """Two copies watch one device; one closes (signalling the shared event): the other
    still follows the device's coming and going and still updates it."""

    def test_closing_one_copy_leaves_the_other_watching(self):
        sim = session.start_devsim(DEVSIM, COM, ["--repeat", "--verify", IMAGE])
        first = scenario.start_app(session, driver, EXE)
        second = scenario.start_app(session, driver, EXE)
        try:
            for app in (first, second):
                self.assertIsNotNone(
                    app.window.wait_control(ID_STATUS, scenario.status_is(T[3]), POLL_WAIT),
                    "a copy did not find the device")
            self.assertTrue(first.window.click(ID_EXIT))
            self.assertEqual(first.wait(10), 0, first.stderr()[-2000:])
            window = second.window
            for cycle in range(2):
                with self.subTest(cycle=cycle):
                    sim.unplug()
                    self.assertIsNotNone(
                        window.wait_control(ID_STATUS, scenario.status_is(T[4]), POLL_WAIT),
                        "the remaining copy stopped watching (unplug not seen)")
                    sim.plug()
                    self.assertIsNotNone(
                        window.wait_control(ID_STATUS, scenario.status_is(T[3]), POLL_WAIT),
                        "the remaining copy stopped watching (plug not seen)")
            run = UpdateRun(window)
            check_success(self, run, scenario.version_line(IMAGE))
            run.answer()
            self.assertEqual(sim.summary(10)["verified"], "1")
            self.assertTrue(window.click(ID_EXIT))
            self.assertEqual(second.wait(10), 0, second.stderr()[-2000:])
        finally:
            close_app(first)
            close_app(second)
            sim.stop()
            session.remove_port_device()


class CloseDuringUpdate(unittest.TestCase):
    """Closed in the middle of an update, by each way out, or at once after the press (while
    the update is still being started): no crash, no hang, the close sequence runs, the
    program ends within a couple of seconds and the device's line goes quiet unfinished."""

    @classmethod
    def setUpClass(cls):
        session.add_port_device(COM)

    @classmethod
    def tearDownClass(cls):
        session.remove_port_device()

    def test_close_during_an_update(self):
        ways = [
            ("exit button", lambda w: self.assertTrue(w.click(ID_EXIT)), 20),
            ("close box", lambda w: w.close_box(), 20),
            ("Alt+F4", lambda w: w.alt_f4(), 50),
            ("exit button right after the press", lambda w: self.assertTrue(w.click(ID_EXIT)),
             None),
        ]
        for name, close, at_percent in ways:
            with self.subTest(name):
                sim = session.start_devsim(DEVSIM, COM, ["--verify", IMAGE, "--rate", SLOW_RATE],
                                           register=False)
                app = scenario.start_app(session, driver, EXE)
                window = app.window
                try:
                    self.assertIsNotNone(
                        window.wait_control(ID_STATUS, scenario.status_is(T[3]), 3))
                    self.assertTrue(window.click(ID_UPDATE))
                    if at_percent is not None:
                        self.assertIsNotNone(
                            window.wait_control(ID_PROGRESS, lambda c: c["pos"] >= at_percent,
                                                15), "the transfer did not get going")
                    start = time.monotonic()
                    close(window)
                    self.assertTrue(window.wait_gone(5), "the window did not close")
                    code = app.wait(5)
                    took = time.monotonic() - start
                    self.assertIsNotNone(code, "the program hangs after its window closed")
                    err = app.stderr()
                    self.assertEqual(code, 0, err[-2000:])
                    for sign in scenario.CRASH_SIGNS:
                        self.assertNotIn(sign, err)
                    # About a second to stop the transfer, plus the close sequence's pause.
                    self.assertLess(took, 2.5)
                    self.assertFalse(os.path.exists(os.path.join(app.cwd, "ZarnUpdate.bin")),
                                     "the close sequence did not run to its end")
                finally:
                    if app.running():
                        app.kill()
                time.sleep(0.5)
                summary = sim.stop()
                self.assertEqual(summary["completed"], "0", summary)
                self.assertLess(int(summary["packets"]), -(-os.path.getsize(IMAGE) // 1024),
                                summary)
                if at_percent is not None:
                    self.assertEqual(summary.get("interrupted"), "1",
                                     "the device saw the update end: %s" % summary)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + harness.program_paths(sys.argv[1:]), verbosity=2)
