"""Steps and readings shared by the end-to-end scenarios: starting the updater against the
simulated device, pressing Update, and reading what the window did on the way as a short
story of status texts, version texts, button changes and bar positions."""

import os
import struct
import time

import harness
from harness import ID_PROGRESS, ID_STATUS, ID_UPDATE, ID_VERSION
from ui_texts import ENGLISH as T

LANG = "en_US.UTF-8"
COM = 7
VERSION_FORMAT = "DEVICE VER:V%d.%02d | DB VER: %d"
# Without a window manager the no-crash evidence is Wine's own report on stderr.
CRASH_SIGNS = ("Unhandled exception", "unhandled exception", "page fault", "Backtrace:")


def database_version(path):
    """The database version an image file carries: signed 32-bit little-endian at offset 8."""
    with open(path, "rb") as f:
        head = f.read(12)
    return struct.unpack_from("<i", head, 8)[0]


def version_line(image, major=2, minor=5):
    return VERSION_FORMAT % (major, minor, database_version(image))


def programs():
    """The updater, the UI driver and the device simulator, as program_paths left them."""
    return (os.environ[harness.ENV_EXE], os.environ[harness.ENV_DRIVER],
            os.environ[harness.ENV_DEVSIM])


# Starts the updater and finds its window.
start_app = harness.start_app_window


def status_is(text):
    return lambda c: c["text"] == text


def story(events):
    """The control events as (what, value): ("status", text), ("version", text),
    ("button", enabled) and ("bar", position); other controls' events are left out."""
    out = []
    for e in events:
        if e["id"] == ID_STATUS and e["kind"] == "text":
            out.append(("status", e["text"]))
        elif e["id"] == ID_VERSION and e["kind"] == "text":
            out.append(("version", e["text"]))
        elif e["id"] == ID_UPDATE and e["kind"] == "enable":
            out.append(("button", bool(e["value"])))
        elif e["id"] == ID_PROGRESS and e["kind"] == "pos":
            out.append(("bar", e["value"]))
    return out


class UpdateRun:
    """One press of Update up to the first message box: how long it took, the box, the
    window's controls while the box shows, and the story from the press on."""

    def __init__(self, window, box_timeout=30.0, press=None):
        self.window = window
        mark = window.watch()
        start = time.monotonic()
        if press:
            press(window)
        else:
            assert window.click(ID_UPDATE), "the update button could not be pressed"
        boxes = window.wait_box(box_timeout)
        self.took = time.monotonic() - start
        self.box = boxes[0] if boxes else None
        self.controls = window.controls() if boxes else None
        self.events = window.events(mark)
        self.story = story(self.events)
        self.mark = self.events[-1]["n"] + 1 if self.events else mark

    def answer(self, settle=0.0):
        """Answers the box; then what the window did after it, within settle seconds."""
        assert self.window.answer_and_wait(self.box), "the message box did not go away"
        if settle:
            time.sleep(settle)
        return story(self.window.events(self.mark))


def check_box(test, box, text, icon):
    """A box of the window: its text, its icon, caption text 6 and a single OK button."""
    test.assertIsNotNone(box, "no message box appeared")
    test.assertEqual((box["text"], box["icon"], box["title"]), (text, icon, T[6]))
    test.assertEqual([b["id"] for b in box["buttons"]], [1], "not a single OK button")


def split_at(test, seq, item):
    test.assertIn(item, seq)
    i = seq.index(item)
    return seq[:i], seq[i + 1:]


def check_started(test, run):
    """The story's start, common to every update that got past the extraction: bar 0, text
    17, the wait loop's bar steps, bar 0, button disabled, text 16. Returns the rest."""
    before, rest = split_at(test, run.story, ("status", T[17]))
    test.assertEqual(before, [("bar", 0)], "before text 17")
    waiting, rest = split_at(test, rest, ("button", False))
    test.assertTrue(waiting and waiting[-1] == ("bar", 0), "bar not set to 0 before the start")
    for what, value in waiting:
        test.assertEqual(what, "bar", "while the install stage ran")
        test.assertTrue(0 <= value <= 100 and value % 5 == 0, "wait-loop bar step %r" % value)
    test.assertEqual(rest[:1], [("status", T[16])], "after the button was disabled")
    return rest[1:]


def check_success(test, run, version):
    """A whole successful update as the window showed it, and the window with its box."""
    rest = check_started(test, run)
    test.assertEqual(rest[:1], [("version", version)], "the version line after text 16")
    running, tail = rest[1:-3], rest[-3:]
    test.assertEqual(tail, [("bar", 100), ("button", True), ("status", T[20])],
                     "the end of a successful update")
    bars = [value for what, value in running if what == "bar"]
    test.assertEqual([what for what, _ in running], ["bar"] * len(running),
                     "only the bar moves during the transfer")
    test.assertEqual(bars, sorted(bars), "the bar went back during the transfer")
    test.assertGreaterEqual(len(bars), 50, "the bar did not rise step by step")
    test.assertGreaterEqual(bars[-1], 99, "the bar did not reach the end")
    check_box(test, run.box, T[11], "exclamation")
    c = run.controls
    test.assertEqual((c[ID_STATUS]["text"], c[ID_VERSION]["text"], c[ID_PROGRESS]["pos"],
                      c[ID_UPDATE]["enabled"]), (T[20], version, 100, True))


def check_failure(test, run, text, version=None):
    """A failed update: the box with text and the hand icon; the bar at 0 and the button
    enabled while it shows; the status line still text 16; the version line written first
    when the device's version had been accepted."""
    rest = check_started(test, run)
    if version is not None:
        test.assertEqual(rest[:1], [("version", version)], "the version line after text 16")
        rest = rest[1:]
    test.assertNotIn("version", [what for what, _ in rest], "version line without code 9")
    test.assertNotIn("status", [what for what, _ in rest], "a failure changed the status line")
    test.assertEqual(rest[-2:], [("bar", 0), ("button", True)], "the end of a failed update")
    check_box(test, run.box, text, "hand")
    c = run.controls
    test.assertEqual((c[ID_STATUS]["text"], c[ID_PROGRESS]["pos"], c[ID_UPDATE]["enabled"]),
                     (T[16], 0, True))
    if version is not None:
        test.assertEqual(c[ID_VERSION]["text"], version)


def wait_process_gone(app, timeout):
    """Seconds until the program ended (its exit code in app), or None."""
    start = time.monotonic()
    code = app.wait(timeout)
    return None if code is None else time.monotonic() - start
