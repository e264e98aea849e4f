"""The updater's main window under Wine as a user sees it on an English system: title, size,
layout, captions, fonts, focus; Esc and Enter ignored; every way out runs the close sequence."""

import os
import sys
import time
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import (ID_EXIT, ID_FILE_SELECT, ID_PICTURE, ID_PROGRESS, ID_SETUP,  # noqa: E402
                     ID_STATUS, ID_UPDATE, ID_VERSION)
from ui_texts import ENGLISH  # noqa: E402

LANG = "en_US.UTF-8"
FONT = "Elektra Text Pro"

# Client position and size of each control, for the 452 x 211 banner.
LAYOUT = [
    (ID_SETUP, 352, 213, 90, 35),
    (ID_STATUS, 5, 221, 452, 20),
    (ID_FILE_SELECT, 352, 253, 90, 35),
    (ID_UPDATE, 69, 263, 130, 35),
    (ID_EXIT, 263, 263, 130, 35),
    (ID_PROGRESS, 5, 311, 437, 25),
    (ID_VERSION, 5, 341, 452, 20),
]

# The files every close deletes: (where, name); "cwd" is the program's working directory.
CLOSE_DELETES = [("cwd", "ZarnUpdate.bin"), ("C:", "DPInst.exe"), ("C:", "ulvex-cdc.inf")]
# Files beside them that no close may touch.
CLOSE_KEEPS = [("cwd", "picked.bin"), ("C:", "keep.txt")]

session = None
driver = None


def setUpModule():
    global session, driver
    session, driver = harness.open_session(os.environ[harness.ENV_DRIVER], LANG)


def tearDownModule():
    harness.close_session(session, driver)


def start_app():
    return harness.start_app_window(session, driver, os.environ[harness.ENV_EXE], LANG)


class Appearance(unittest.TestCase):
    """One start; every check reads the window as it first shows."""

    @classmethod
    def setUpClass(cls):
        cls.app = start_app()
        # Read at once: from its first poll on, the connection monitor owns the status line.
        cls.dump = cls.app.window.dump()
        cls.controls = {c["id"]: c for c in cls.dump["controls"]}

    @classmethod
    def tearDownClass(cls):
        cls.app.window.click(ID_EXIT)
        if cls.app.wait(10) is None:
            cls.app.kill()

    def test_title_is_update_version_and_crlf(self):
        self.assertEqual(self.dump["title"], "Update V2.0_RUS\r\n")

    def test_outer_size_is_banner_width_by_banner_height_plus_180(self):
        rect = self.dump["rect"]
        self.assertEqual((rect["w"], rect["h"]), (452, 391))

    def test_window_is_centred_on_the_screen(self):
        rect, screen = self.dump["rect"], self.dump["screen"]
        self.assertAlmostEqual(rect["x"], (screen["w"] - rect["w"]) / 2, delta=1)
        self.assertAlmostEqual(rect["y"], (screen["h"] - rect["h"]) / 2, delta=1)

    def test_controls_stand_where_the_layout_puts_them(self):
        for cid, x, y, w, h in LAYOUT:
            with self.subTest(control=cid):
                c = self.controls[cid]
                self.assertEqual((c["x"], c["y"], c["w"], c["h"]), (x, y, w, h))

    def test_picture_shows_the_whole_banner(self):
        pic = self.controls[ID_PICTURE]
        self.assertEqual(pic["class"].lower(), "static")
        self.assertEqual((pic["w"], pic["h"]), (452, 211))
        self.assertTrue(pic["visible"])

    def test_setup_and_file_select_never_show(self):
        shown = {cid: c["visible"] for cid, c in self.controls.items()}
        self.assertEqual(shown, {ID_PICTURE: True, ID_EXIT: True, ID_SETUP: False,
                                 ID_STATUS: True, ID_UPDATE: True, ID_FILE_SELECT: False,
                                 ID_PROGRESS: True, ID_VERSION: True})

    def test_captions(self):
        texts = {cid: c["text"] for cid, c in self.controls.items()
                 if cid not in (ID_PICTURE, ID_PROGRESS)}
        # The status line shows text 12 until the connection monitor's first poll, half a
        # second after start; on a slow machine the dump may come after it (text 4: no device).
        self.assertIn(texts.pop(ID_STATUS), (ENGLISH[12], ENGLISH[4]))
        self.assertEqual(texts, {ID_EXIT: ENGLISH[1], ID_SETUP: ENGLISH[0],
                                 ID_UPDATE: ENGLISH[2], ID_FILE_SELECT: ENGLISH[7],
                                 ID_VERSION: ""})

    def test_four_controls_use_the_embedded_font(self):
        for cid in (ID_UPDATE, ID_EXIT, ID_VERSION, ID_STATUS):
            with self.subTest(control=cid):
                c = self.controls[cid]
                self.assertEqual((c["font"], c["font_height"], c["font_weight"]), (FONT, 24, 400))
                # Only a registered embedded font is realised under its own name.
                self.assertEqual(c["font_realized"], FONT)
        for cid in (ID_SETUP, ID_FILE_SELECT, ID_PROGRESS, ID_PICTURE):
            with self.subTest(control=cid):
                self.assertNotEqual(self.controls[cid]["font"], FONT)

    def test_progress_bar_is_empty_with_range_0_to_100(self):
        bar = self.controls[ID_PROGRESS]
        self.assertEqual(bar["class"].lower(), "msctls_progress32")
        self.assertEqual((bar["range"], bar["pos"]), ([0, 100], 0))

    def test_focus_starts_on_the_exit_button(self):
        self.assertEqual(self.dump["focus"], ID_EXIT)

    def test_update_and_exit_are_enabled(self):
        self.assertTrue(self.controls[ID_UPDATE]["enabled"])
        self.assertTrue(self.controls[ID_EXIT]["enabled"])


class Closing(unittest.TestCase):
    """Esc and Enter do nothing; the exit button, the close box and Alt+F4 each end the program
    through the close sequence, with its pause and its file deletions."""

    def plant(self, app, files):
        paths = {}
        for where, name in files:
            path = os.path.join(app.cwd, name) if where == "cwd" else session.drive_c(name)
            with open(path, "wb") as f:
                f.write(b"planted")
            paths[(where, name)] = path
        return paths

    def close_and_check(self, app, way, planted):
        window = app.window
        start = time.monotonic()
        way(window)
        self.assertTrue(window.wait_gone(10), "the window did not close")
        took = time.monotonic() - start
        code = app.wait(10)
        self.assertEqual(code, 0, "the program did not end cleanly: %s" % app.stderr()[-2000:])
        for key, path in planted.items():
            if key in CLOSE_DELETES:
                self.assertFalse(os.path.exists(path), "%s was not deleted" % (key,))
            else:
                self.assertTrue(os.path.exists(path), "%s was deleted" % (key,))
                os.unlink(path)
        # The close sequence pauses 500 ms for the connection monitor before it goes on.
        self.assertGreaterEqual(took, 0.45, "the window closed without the close sequence's pause")

    def test_esc_and_enter_do_nothing_then_exit_button_closes(self):
        app = start_app()
        try:
            planted = self.plant(app, CLOSE_DELETES + CLOSE_KEEPS)
            window = app.window
            # On the exit button, Enter would press it and Esc would cancel the dialog; on the
            # update button, Enter would press that (or end the dialog with IDOK).
            for focus in (ID_EXIT, ID_UPDATE):
                with self.subTest(focus=focus):
                    if focus != ID_EXIT:
                        window.key("tab")
                        self.assertIsNotNone(window.wait_for(lambda d: d["focus"] == focus, 5),
                                             "Tab did not move the focus to %d" % focus)
                    self.assertEqual(window.focus(), focus)
                    window.key("esc")
                    window.key("enter")
                    time.sleep(1.0)
                    self.assertTrue(app.running(), "the program ended")
                    self.assertFalse(window.wait_gone(0), "the window closed")
                    self.assertEqual(window.boxes(), [], "a message box appeared")
                    for path in planted.values():
                        self.assertTrue(os.path.exists(path), "a file was deleted")
            self.close_and_check(app, lambda w: self.assertTrue(w.click(ID_EXIT)), planted)
        finally:
            app.kill()

    def test_every_way_out_runs_the_close_sequence(self):
        ways = [
            ("exit button", lambda w: self.assertTrue(w.click(ID_EXIT)), CLOSE_DELETES + CLOSE_KEEPS),
            ("close box", lambda w: w.close_box(), CLOSE_DELETES + CLOSE_KEEPS),
            ("Alt+F4", lambda w: w.alt_f4(), CLOSE_DELETES + CLOSE_KEEPS),
            # Nothing to delete is no error.
            ("exit button, no files", lambda w: self.assertTrue(w.click(ID_EXIT)), []),
        ]
        for name, way, files in ways:
            with self.subTest(way=name):
                app = start_app()
                try:
                    self.close_and_check(app, way, self.plant(app, files))
                finally:
                    app.kill()


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + harness.program_paths(sys.argv[1:]), verbosity=2)
