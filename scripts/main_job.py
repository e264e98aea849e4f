"""The main job: the real ZarnUpdate.exe under Wine updates the simulated device on a virtual
COM port with the image it embeds.

On a desktop (DISPLAY usable, CI not set) the window opens there for the user to press Update;
otherwise it runs on a private Xvfb, presses Update itself, waits for the result box, prints a
summary, saves a screenshot, answers the box and closes the program. Exits 0 only when the
device verified the whole image.

usage: main_job.py [--build DIR] [--screenshot PNG] [--headless | --desktop]
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True
TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "tests", "wine"))
import harness  # noqa: E402
from harness import ID_EXIT, ID_STATUS, ID_UPDATE, ID_VERSION  # noqa: E402
from ui_texts import ENGLISH as T  # noqa: E402

COM = 7
LANG = "en_US.UTF-8"
DESKTOP_NAME = "zarn-main-job"
DESKTOP_SIZE = (800, 600)
# A user may take a while to press the button; after this long the job gives up.
USER_TIMEOUT = 30 * 60


def say(text=""):
    print(text, flush=True)


def display_usable(display):
    """True when an X server answers on display."""
    if not display:
        return False
    if shutil.which("xdpyinfo"):
        try:
            return subprocess.run(["xdpyinfo", "-display", display], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, timeout=10).returncode == 0
        except subprocess.TimeoutExpired:
            return False
    number = display.split(":")[-1].split(".")[0]
    return display.startswith(":") and os.path.exists("/tmp/.X11-unix/X" + number)


def template(build, managed):
    """A booted prefix kept in the build tree and copied for each run (booting one takes about
    ten seconds); made on a private Xvfb so that nothing flashes on the user's screen."""
    path = os.path.join(build, "wine-prefix-" + ("desktop" if managed else "xvfb"))
    if os.path.isfile(os.path.join(path, "system.reg")):
        return path
    say("preparing a Wine prefix in %s (once)..." % path)
    shutil.rmtree(path, ignore_errors=True)
    xvfb = harness.Xvfb()
    try:
        harness.make_prefix(path, xvfb.display, managed=managed)
    finally:
        subprocess.run([harness.WINESERVER, "-k"], env=harness._clean_env(path, xvfb.display, "C"),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        xvfb.close()
    return path


def device_version(line):
    """'DEVICE VER:V2.05 | DB VER: 20180911' -> ('V2.05', '20180911')."""
    left, _, right = line.partition("|")
    return left.split(":", 1)[-1].strip(), right.split(":", 1)[-1].strip()


def update_time(events):
    """Seconds from text 17 (the update begins) to the last control change before the box,
    from the program's own clock; None when the events do not show both."""
    start = [e["t"] for e in events if e["id"] == ID_STATUS and e.get("text") == T[17]]
    if not start:
        return None
    end = [e["t"] for e in events if e["t"] >= start[-1]]
    return (max(end) - start[-1]) / 1000.0


def report(summary, version_line, box, took, image_size):
    """Prints what the window and the device say about one update; True when it succeeded."""
    device, database = device_version(version_line) if version_line else ("?", "?")
    say("  device version:    %s" % device)
    say("  database version:  %s" % database)
    if summary:
        say("  device received:   %s of %d bytes, %s packets, flash address %s"
            % (summary.get("bytes"), image_size, summary.get("packets"), summary.get("address")))
        verified = summary.get("verified") == "1"
        say("  bytes verified by the device: %s"
            % (summary.get("bytes") if verified else "none (%s)" % summary.get("note", "not verified")))
    else:
        verified = False
        say("  the device reported no finished update")
    if took is not None:
        say("  time taken:        %.1f s" % took)
    if box:
        say("  result box:        %r (%s icon)" % (box["text"], box["icon"]))
    ok = bool(box) and box["text"] == T[11] and verified and summary.get("bytes") == str(image_size)
    return ok


def headless(args, exe, driver_exe, devsim, image):
    size = os.path.getsize(image)
    with harness.Session(template=template(args.build, managed=False),
                         screen="%dx%dx24" % DESKTOP_SIZE) as session:
        say("Xvfb on %s; Wine prefix %s" % (session.display, session.prefix))
        sim = session.start_devsim(devsim, COM, ["--verify", image])
        say("device simulator on %s, seen by Windows as COM%d" % (sim.pty, COM))
        # Wine's virtual desktop draws the title bar, for the screenshot.
        app = session.start_app(exe, LANG, wrapper=(
            "explorer", "/desktop=%s,%dx%d" % ((DESKTOP_NAME,) + DESKTOP_SIZE)))
        driver = session.start_driver(driver_exe)
        try:
            driver.must("desktop %s 30000" % DESKTOP_NAME, timeout=60)
            window = app.find_window(driver)
            driver.must("activate %d" % window.hwnd)
            if not window.wait_control(ID_STATUS, lambda c: c["text"] == T[3], 10):
                say("the updater did not find the device: %r" % window.text(ID_STATUS))
                return 1
            say("status: %s -- pressing %s" % (T[3], T[2]))
            mark = window.watch()
            start = time.monotonic()
            if not window.click(ID_UPDATE):
                say("the update button could not be pressed")
                return 1
            boxes = window.wait_box(120)
            took = time.monotonic() - start
            if not boxes:
                say("no result box within two minutes")
                return 1
            box = boxes[0]
            version = window.text(ID_VERSION)
            measured = update_time(window.events(mark))
            summary = sim.summary(10)
            harness.capture_window(session, window.dump()["rect"], args.screenshot)
            say()
            say("ZarnUpdate.exe (Wine) -> simulated device on COM%d:" % COM)
            ok = report(summary, version, box, measured if measured is not None else took, size)
            say("  screenshot:        %s" % args.screenshot)
            window.answer_and_wait(box)
            pid = window.dump()["pid"]
            window.click(ID_EXIT)
            ended = driver.call("waitexit %d 15000" % pid, timeout=45)
            code = ended.get("code") if ended.get("ended") else None
            if code != 0:
                say("the updater did not end cleanly (exit code %s)" % code)
                ok = False
            say("update %s" % ("succeeded" if ok else "FAILED"))
            return 0 if ok else 1
        finally:
            driver.close()


def desktop(args, exe, driver_exe, devsim, image):
    size = os.path.getsize(image)
    display = os.environ["DISPLAY"]
    with harness.Session(template=template(args.build, managed=True), display=display) as session:
        say("Wine prefix %s" % session.prefix)
        sim = session.start_devsim(devsim, COM, ["--repeat", "--verify", image])
        driver = session.start_driver(driver_exe)
        app = session.start_app(exe, LANG)
        try:
            window = app.find_window(driver)
            say("device simulator on %s, seen by Windows as COM%d" % (sim.pty, COM))
            say()
            say("The updater's window is open on your screen (DISPLAY=%s)." % display)
            say("  1. Wait until it says \"%s\"." % T[3])
            say("  2. Press \"%s\" and watch the bar." % T[2])
            say("  3. Read the result box and press OK.")
            say("  4. Close the window with \"%s\" when you are done." % T[1])
            say()
            mark = window.watch()
            results = []
            deadline = time.monotonic() + USER_TIMEOUT
            while time.monotonic() < deadline and app.running():
                answer = driver.call("waitbox %d 500" % window.hwnd, timeout=30)
                if not answer.get("ok"):
                    if driver.must("waitgone %d 0" % window.hwnd)["gone"]:
                        break
                    continue
                box = answer["boxes"][0]
                events = window.events(mark)
                mark = events[-1]["n"] + 1 if events else mark
                version = window.text(ID_VERSION)
                summary = sim.summary(2) if box["text"] != T[5] else None
                say("Update %d:" % (len(results) + 1))
                ok = report(summary, version, box, update_time(events), size)
                say("  -> %s" % ("succeeded" if ok else "FAILED"))
                results.append(ok)
                driver.call("waitgone %d %d" % (box["hwnd"], USER_TIMEOUT * 1000),
                            timeout=USER_TIMEOUT + 30)
            if app.running():
                say("giving up after %d minutes" % (USER_TIMEOUT // 60))
                window.click(ID_EXIT)
            app.wait(15)
        finally:
            driver.close()
    if not results:
        say("the window was closed without an update")
        return 1
    return 0 if results[-1] else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.strip().splitlines()[0])
    parser.add_argument("--build", default=os.environ.get("ZARN_BUILD_DIR", os.path.join(TOP, "build")))
    parser.add_argument("--screenshot")
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--headless", action="store_true", help="Xvfb, Update pressed by the job")
    mode.add_argument("--desktop", action="store_true", help="the window on $DISPLAY")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.screenshot = os.path.abspath(args.screenshot or os.path.join(args.build, "main-job.png"))

    exe = os.path.join(args.build, "win32", "app", "ZarnUpdate.exe")
    driver = os.path.join(args.build, "win32", "tests", "wine", "uidriver", "uidriver.exe")
    devsim = os.path.join(args.build, "native", "tools", "devsim", "devsim")
    for path in (exe, driver, devsim):
        if not os.path.isfile(path):
            sys.exit("missing %s: build first (scripts/build.sh)" % path)
    image = harness.embedded_image(exe)

    on_desktop = args.desktop or (not args.headless and not os.environ.get("CI")
                                  and display_usable(os.environ.get("DISPLAY")))
    say("embedded image: %s (%d bytes)" % (image, os.path.getsize(image)))
    if on_desktop:
        return desktop(args, exe, driver, devsim, image)
    return headless(args, exe, driver, devsim, image)


if __name__ == "__main__":
    sys.exit(main())
