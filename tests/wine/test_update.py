"""The update from the window under Wine against the simulated device on a virtual COM port:
no device, normal updates, every failure with its box, a line that goes silent or hangs up
mid-transfer, and an image picked with the file select command. Each scenario is checked from
the window (texts, bar, button, boxes, and the story of what changed on the way) and from the
simulator's summary of what it received."""

import os
import sys
import time
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import ID_FILE_SELECT, ID_PROGRESS, ID_STATUS, ID_UPDATE, ID_VERSION  # noqa: E402
import scenario  # noqa: E402
from scenario import COM, T, UpdateRun, check_box, check_failure, check_success  # noqa: E402

BLOCK = 1024
# Largest image flash size code 1 allows.
SIZE_CODE_1_LIMIT = 0x3FF000

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


def blocks(length):
    return (length + BLOCK - 1) // BLOCK


class WithDevice(unittest.TestCase):
    """One updater per class, on COM7 with the device listed; each test plugs in a simulator
    of its own behind that port (the listed device and the port number stay the same)."""

    sim = None

    @classmethod
    def start(cls, sim_args):
        cls.sim = session.start_devsim(DEVSIM, COM, sim_args)
        cls.app = scenario.start_app(session, driver, EXE)
        cls.window = cls.app.window

    @classmethod
    def tearDownClass(cls):
        if cls.sim:
            cls.sim.stop()
        cls.app.window.click(harness.ID_EXIT)
        if cls.app.wait(10) is None:
            cls.app.kill()
        session.remove_port_device()

    def device(self, *args, verify=None):
        """A new simulator behind COM7, verifying what it gets against the embedded image
        (or the file `verify`)."""
        if self.sim:
            self.sim.stop()
        type(self).sim = session.start_devsim(DEVSIM, COM, ["--verify", verify or IMAGE, *args],
                                              register=False)
        return self.sim


class NoDevice(unittest.TestCase):
    """No device listed (its simulator is behind COM7 all the same): text 4 from the first
    poll on and at every poll; Update refuses with the box of text 5 and does nothing else;
    once the device is listed, it is probed and shown connected."""

    def test_no_device_then_plugged_in(self):
        sim = session.start_devsim(DEVSIM, COM, ["--verify", IMAGE], register=False)
        app = scenario.start_app(session, driver, EXE)
        window = app.window
        try:
            mark = window.watch()
            found = time.monotonic()
            self.assertIsNotNone(window.wait_control(ID_STATUS, scenario.status_is(T[4]), 2.0),
                                 "no text 4 after the first poll")
            self.assertLess(time.monotonic() - found, 1.5)
            self.assertEqual(window.control(ID_PROGRESS)["pos"], 0)

            run = UpdateRun(window, box_timeout=5)
            check_box(self, run.box, T[5], "hand")
            c = run.controls
            self.assertEqual((c[ID_STATUS]["text"], c[ID_VERSION]["text"], c[ID_PROGRESS]["pos"],
                              c[ID_UPDATE]["enabled"]), (T[4], "", 0, True))
            # Nothing but the bar at 0 (and the monitor's own text 4 with its bar 0).
            self.assertEqual(set(run.story) - {("bar", 0), ("status", T[4])}, set(), run.story)
            self.assertFalse(os.path.exists(os.path.join(app.cwd, "ZarnUpdate.bin")),
                             "the image was extracted")
            self.assertEqual(run.answer(settle=0.3), [])
            self.assertEqual(len(window.boxes()), 0)

            # Every empty poll writes text 4 and bar 0 again, about 3 s apart.
            deadline = time.monotonic() + 8
            while time.monotonic() < deadline:
                fours = [e["t"] for e in window.events(mark)
                         if e["id"] == ID_STATUS and e.get("text") == T[4]]
                if len(fours) >= 2:
                    break
                time.sleep(0.2)
            self.assertGreaterEqual(len(fours), 2, "the monitor did not poll again")
            self.assertGreaterEqual(fours[1] - fours[0], 2900)
            self.assertLess(fours[1] - fours[0], 5000)
            polls = scenario.story(window.events(mark))
            self.assertNotIn(("status", T[3]), polls)

            # Plugged in: the next poll probes COM7 and shows text 3.
            sim.plug()
            plugged = time.monotonic()
            self.assertIsNotNone(window.wait_control(ID_STATUS, scenario.status_is(T[3]), 4.5),
                                 "the device was not found after it was plugged in")
            self.assertLess(time.monotonic() - plugged, 4.5)
        finally:
            window.click(harness.ID_EXIT)
            if app.wait(10) is None:
                app.kill()
            summary = sim.stop()
            session.remove_port_device()
        # The device saw nothing: no query, no download (the probe only opens the port).
        self.assertEqual((summary["query"], summary["download"], summary["bytes"]),
                         ("0", "0", "0"), summary)


class Updates(WithDevice):
    """The device listed from the start: connected within about a second; normal updates one
    after the other, clicks during an update, and every failure that the device can cause
    quickly. The window goes on working after each."""

    @classmethod
    def setUpClass(cls):
        cls.start(["--repeat", "--verify", IMAGE])
        found = time.monotonic()
        cls.first = cls.window.watch()
        connected = cls.window.wait_control(ID_STATUS, scenario.status_is(T[3]), 3)
        cls.connected_after = time.monotonic() - found if connected else None

    def test_a_connected_within_a_second_of_start(self):
        self.assertIsNotNone(self.connected_after, "the device was not found")
        self.assertLess(self.connected_after, 1.5)
        self.assertNotIn(("status", T[4]), scenario.story(self.window.events(self.first)))

    def test_b_two_updates_in_a_row(self):
        version = scenario.version_line(IMAGE)
        size = os.path.getsize(IMAGE)
        for update in (1, 2):
            with self.subTest(update=update):
                run = UpdateRun(self.window)
                check_success(self, run, version)
                with open(os.path.join(self.app.cwd, "ZarnUpdate.bin"), "rb") as f, \
                        open(IMAGE, "rb") as g:
                    self.assertTrue(f.read() == g.read(), "the extracted image differs")
                self.assertEqual(run.answer(), [])
                summary = self.sim.summary(10)
                self.assertEqual(
                    {k: summary[k] for k in ("update", "verified", "completed", "bytes",
                                             "length", "address", "packets", "eots", "naks")},
                    {"update": str(update), "verified": "1", "completed": "1",
                     "bytes": str(size), "length": str(size), "address": "0x1000",
                     "packets": str(blocks(size)), "eots": "4", "naks": "0"}, summary)

    def test_c_clicks_during_an_update_start_nothing(self):
        # A double click queues a second press behind the first (served inside the
        # install-stage wait); presses posted while the worker runs reach the window even
        # though the button is disabled, up to the last moments of the transfer; and presses
        # posted while the result box shows reach the window through the box's own loop.
        # The device sees exactly one more update.
        sim = self.device("--repeat")

        def presses(window):
            self.assertTrue(window.click(ID_UPDATE))
            self.assertTrue(window.click(ID_UPDATE))
            deadline = time.monotonic() + 30
            while not window.boxes() and time.monotonic() < deadline:
                window.command(ID_UPDATE)
                time.sleep(0.05)
            for _ in range(3):
                window.command(ID_UPDATE)

        run = UpdateRun(self.window, press=presses)
        check_success(self, run, scenario.version_line(IMAGE))
        self.assertEqual(run.story.count(("status", T[17])), 1, run.story)
        self.assertEqual(run.answer(settle=1.5), [], "a press started something after the end")
        self.assertEqual(len(self.window.boxes()), 0, "a box after the end")
        summary = sim.summary(10)
        self.assertEqual((summary["update"], summary["verified"]), ("1", "1"), summary)
        self.assertIsNone(sim.stop(), "the device saw a second update")

    def test_d_failures(self):
        # (what, devsim options, box text, version line written, code 1 follows, devsim's view)
        version = scenario.version_line(IMAGE)
        cases = [
            ("unknown flash size code", ["--size-code", "0"], T[9], False, False,
             {"query": "1", "download": "0"}),
            ("download command refused", ["--fault", "nak-download"], T[10], True, True,
             {"download": "1", "packets": "0", "naks": "1", "note": "download command refused"}),
            ("cancelled mid-transfer", ["--fault", "cancel", "--fault-packet", "300"], T[10],
             True, True, {"packets": "299", "note": "cancelled at packet 300"}),
            ("cancelled at the first packet", ["--fault", "cancel"], T[10], True, True,
             {"packets": "0", "note": "cancelled at packet 1"}),
        ]
        for name, args, text, versioned, reset, seen in cases:
            with self.subTest(name):
                sim = self.device(*args)
                run = UpdateRun(self.window, box_timeout=15)
                check_failure(self, run, text, version if versioned else None)
                after = run.answer(settle=0.3)
                self.assertEqual(after, [("bar", 0)] if reset else [],
                                 "after the box (code 1 after a failed transfer only)")
                self.assertEqual(self.window.control(ID_PROGRESS)["pos"], 0)
                summary = sim.stop()
                self.assertEqual({k: summary.get(k) for k in seen}, seen, summary)
                self.assertEqual(summary["completed"], "0", summary)
        # And the window still updates the device.
        self.device()
        run = UpdateRun(self.window)
        check_success(self, run, version)
        run.answer()
        self.assertEqual(self.sim.summary(10)["verified"], "1")


class LostLine(WithDevice):
    """The device goes quiet, or away, in the middle of the transfer: after the 10-second
    wait for an answer, the box with text 8. Each case runs in its own ctest entry."""

    def run_lost(self, fault, packet, note):
        self.start(["--verify", IMAGE, "--fault", fault, "--fault-packet", str(packet)])
        self.window.wait_control(ID_STATUS, scenario.status_is(T[3]), 3)
        run = UpdateRun(self.window, box_timeout=25)
        check_failure(self, run, T[8], scenario.version_line(IMAGE))
        self.assertEqual(run.answer(settle=0.3), [("bar", 0)])
        self.assertEqual(self.window.control(ID_UPDATE)["enabled"], True)
        summary = self.sim.stop()
        self.assertEqual((summary["packets"], summary["note"], summary["completed"]),
                         (str(packet - 1), note, "0"), summary)
        return run

    def test_silence_mid_transfer(self):
        run = self.run_lost("stop", 400, "stopped answering at packet 400")
        self.assertGreaterEqual(run.took, 10.0, "text 8 before the 10-second wait was over")
        self.assertLess(run.took, 15.0)

    def test_hangup_mid_transfer(self):
        self.run_lost("hangup", 500, "hung up at packet 500")

    def tearDown(self):
        type(self).tearDownClass()
        type(self).sim = None

    @classmethod
    def tearDownClass(cls):
        if getattr(cls, "app", None):
            super().tearDownClass()
            cls.app = None


class FileSelect(WithDevice):
    """The hidden file select command: the picked file is sent in place of the embedded
    image (which is still extracted); a cancelled dialog changes nothing; a picked file too
    large for the device's flash is refused before anything is sent; a file too short for a
    database version is sent after box 9, and a press in the meantime starts nothing."""

    @classmethod
    def setUpClass(cls):
        images = session.drive_c("images")
        os.makedirs(images, exist_ok=True)
        cls.other = os.path.join(images, "other.bin")
        data = bytearray((i * 7 + i // 1024) & 0xFF for i in range(300 * BLOCK + 77))
        data[8:12] = (20240229).to_bytes(4, "little")
        with open(cls.other, "wb") as f:
            f.write(data)
        cls.big = os.path.join(images, "big.bin")
        with open(cls.big, "wb") as f:
            f.truncate(SIZE_CODE_1_LIMIT + 1)
        cls.start(["--repeat", "--verify", cls.other])

    def pick(self, windows_path):
        """Opens the file dialog, types the path into its file name box and presses Open (or
        Cancel, for a path of None)."""
        self.window.command(ID_FILE_SELECT)
        boxes = self.window.wait_box(10)
        self.assertTrue(boxes, "no file dialog")
        dialog = boxes[0]
        self.assertEqual(dialog["class"], "#32770")
        controls = {c["id"]: c for c in self.driver_dump(dialog["hwnd"])["controls"]}
        # The file name box: cmb13 (1148) in the Explorer-style dialog, edt1 (1152) in others.
        name_box = 1148 if 1148 in controls else 1152
        self.assertIn(name_box, controls, "no file name box in the dialog")
        self.assertIn("*.bin", controls.get(1136, {}).get("text", ""), "not the .bin filter")
        if windows_path is None:
            self.assertTrue(self.window.answer_and_wait(dialog, 2), "Cancel did not close it")
            return
        driver.must("settext %d %d %s" % (dialog["hwnd"], name_box, windows_path))
        self.assertTrue(self.window.answer_and_wait(dialog, 1), "Open did not close the dialog")

    @staticmethod
    def driver_dump(hwnd):
        return driver.must("dump %d" % hwnd)

    def test_picked_file_is_sent(self):
        self.window.wait_control(ID_STATUS, scenario.status_is(T[3]), 3)
        # Too large for size code 1: refused after the query, with text 9, no version line.
        self.pick("C:\\images\\big.bin")
        run = UpdateRun(self.window)
        check_failure(self, run, T[9])
        self.assertEqual(run.controls[ID_VERSION]["text"], "")
        self.assertEqual(run.answer(settle=0.3), [])

        self.pick("C:\\images\\other.bin")
        version = scenario.version_line(self.other)
        for cancel_first in (False, True):
            with self.subTest(cancelled_dialog_before=cancel_first):
                if cancel_first:
                    self.pick(None)
                run = UpdateRun(self.window)
                check_success(self, run, version)
                # The embedded image is still extracted at each press, only not sent.
                with open(os.path.join(self.app.cwd, "ZarnUpdate.bin"), "rb") as f, \
                        open(IMAGE, "rb") as g:
                    self.assertTrue(f.read() == g.read(), "the extracted image differs")
                run.answer()
                summary = self.sim.summary(10)
                if summary.get("download") == "0":
                    # The refused update ended in the device when the next query came.
                    self.assertEqual(summary["query"], "1", summary)
                    summary = self.sim.summary(10)
                self.assertEqual((summary["verified"], summary["bytes"]),
                                 ("1", str(os.path.getsize(self.other))), summary)


    def test_press_after_a_failed_database_read_starts_nothing(self):
        # A file too short to hold a database version: its read fails inside the version
        # report (box 9, the button enabled again) while the transfer goes on. A press then,
        # served while the worker still runs, must not turn into a second update once the
        # success box it waited through is answered. The device answers slowly, so the rest
        # of the transfer lasts a few tenths of a second.
        tiny = os.path.join(session.drive_c("images"), "tiny.bin")
        with open(tiny, "wb") as f:
            f.write(b"\x01\x02\x03\x04\x05")
        sim = self.device("--latency-us", "100000", verify=tiny)
        self.pick("C:\\images\\tiny.bin")
        run = UpdateRun(self.window)
        check_box(self, run.box, T[9], "hand")
        self.assertTrue(run.controls[ID_UPDATE]["enabled"])
        after_read = run.answer()
        # The version line is written once the read's box is answered.
        self.assertEqual(after_read[:1], [("version", "DEVICE VER:V2.05 | DB VER: 0")])
        self.window.command(ID_UPDATE)
        boxes = self.window.wait_box(10)
        self.assertTrue(boxes, "no result box")
        check_box(self, boxes[0], T[11], "exclamation")
        self.assertTrue(self.window.answer_and_wait(boxes[0]), "the box did not go away")
        time.sleep(1.5)
        later = scenario.story(self.window.events(run.mark))[len(after_read):]
        self.assertNotIn(("status", T[17]), later, "the press started a second update")
        self.assertEqual(len(self.window.boxes()), 0, "a box after the end")
        summary = sim.summary(10)
        self.assertEqual((summary["verified"], summary["bytes"]), ("1", "5"), summary)
        self.assertIsNone(sim.stop(), "the device saw a second update")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + harness.program_paths(sys.argv[1:]), verbosity=2)
