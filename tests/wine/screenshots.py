"""Takes a screenshot of the updater's window in each of its four languages, in Wine's virtual
desktop (which draws the title bar), cropped to the window: OUTDIR/window-<LANG>.png.

usage: screenshots.py --exe ZarnUpdate.exe --driver uidriver.exe OUTDIR [LANG ...]
"""

import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

LANGS = ["en_US.UTF-8", "zh_CN.UTF-8", "zh_TW.UTF-8", "ru_RU.UTF-8"]
DESKTOP = (800, 600)
CJK_FONTS = ["wqy-microhei.ttc,WenQuanYi Micro Hei"]


def shoot(session, exe, driver_exe, lang, outdir):
    # One desktop per language: the driver attaches to it before it looks at any window.
    tag = lang.split(".")[0]
    desktop = "zarn-" + tag
    session.start_app(exe, lang, wrapper=("explorer", "/desktop=%s,%dx%d" % ((desktop,) + DESKTOP)))
    driver = session.start_driver(driver_exe)
    try:
        driver.must("desktop %s 30000" % desktop, timeout=60)
        answer = driver.must("find 60000", timeout=90)
        driver.must("activate %d" % answer["hwnd"])
        dump = driver.must("dump %d" % answer["hwnd"])
        # The virtual desktop fills the screen from its top left corner.
        path = os.path.join(outdir, "window-%s.png" % tag)
        harness.capture_window(session, dump["rect"], path)
        driver.must("close %d" % answer["hwnd"])
        driver.call("waitgone %d 10000" % answer["hwnd"], timeout=30)
        print(path)
    finally:
        driver.close()


def main():
    args = harness.program_paths(sys.argv[1:])
    if not args:
        sys.exit(__doc__.strip().splitlines()[-1])
    outdir, langs = args[0], args[1:] or LANGS
    os.makedirs(outdir, exist_ok=True)
    with harness.Session(screen="%dx%dx24" % DESKTOP) as session:
        # A Chinese Windows draws the Chinese characters of a font that has none (the embedded
        # one) with a Chinese font; Wine does that only for faces linked by their full name.
        session.link_font("Elektra Text Pro Bold", CJK_FONTS)
        for lang in langs:
            shoot(session, os.environ[harness.ENV_EXE], os.environ[harness.ENV_DRIVER], lang, outdir)


if __name__ == "__main__":
    main()
