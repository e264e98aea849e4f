#!/usr/bin/env python3
"""Tests of check_arrows.py on small trees made for each case: it must refuse an include that goes
up the arrows, however it is spelled, and let every other include pass."""
import pathlib
import subprocess
import sys
import tempfile
import unittest

CHECK = pathlib.Path(__file__).resolve().parent / "check_arrows.py"

# Every tree holds these headers, one per room and one outside the rooms.
HEADERS = ["app/app.h", "ui/dlg.h", "flash/flash.h", "link/port.h", "framework/wnd.h",
           "res/resource.h", "tools/tool.h"]

# (file, the line that includes, whether the check must refuse it)
CASES = [
    ("framework/wnd_win32.cpp", '#include "link/port.h"', True),
    ("framework/wnd_win32.cpp", '#include "app/app.h"', True),
    ("framework/wnd.h", '#include "../ui/dlg.h"', True),  # found beside the file
    ("framework/sub/deep.h", '#include <flash/flash.h>', True),
    ("link/port.cpp", '#include "flash/flash.h"', True),
    ("link/port.cpp", '  #  include "ui/dlg.h"', True),
    ("flash/flash.cpp", '#include "ui/dlg.h"', True),
    ("ui/dlg.cpp", '#include "app/app.h"', True),
    ("framework/wnd_win32.cpp", '#include "wnd.h"', False),  # its own room, beside it
    ("framework/wnd_win32.cpp", '#include <windows.h>', False),  # not a file of the tree
    ("link/port.cpp", '#include "framework/wnd.h"', False),
    ("flash/flash.cpp", '#include "link/port.h"', False),
    ("ui/dlg.cpp", '#include "link/port.h"', False),  # skipping a room down is fine
    ("ui/dlg.cpp", '#include "res/resource.h"', False),  # outside the rooms
    ("app/app.cpp", '#include "ui/dlg.h"', False),
    ("tools/tool.cpp", '#include "app/app.h"', False),
    ("tests/unit/a_test.cpp", '#include "ui/dlg.h"', False),
    ("link/notes.txt", '#include "ui/dlg.h"', False),  # not a source file
    ("framework/wnd.h", '// #include "ui/dlg.h" once, no more', False),
]


def run_check(top: pathlib.Path):
    return subprocess.run([sys.executable, str(CHECK), str(top)], capture_output=True, text=True)


class CheckArrowsTest(unittest.TestCase):
    def make_tree(self, top: pathlib.Path, file: str, line: str):
        for header in HEADERS:
            (top / header).parent.mkdir(parents=True, exist_ok=True)
            (top / header).write_text("#pragma once\n")
        path = top / file
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(f"// a file\n{line}\nint x;\n")

    def test_cases(self):
        for file, line, refused in CASES:
            with self.subTest(file=file, line=line), tempfile.TemporaryDirectory() as folder:
                top = pathlib.Path(folder)
                self.make_tree(top, file, line)
                result = run_check(top)
                self.assertEqual(1 if refused else 0, result.returncode, result.stdout)
                if refused:
                    self.assertIn(f"{file}:2: includes ", result.stdout)

    def test_every_wrong_include_is_listed(self):
        with tempfile.TemporaryDirectory() as folder:
            top = pathlib.Path(folder)
            self.make_tree(top, "link/port.cpp", '#include "flash/flash.h"\n#include "app/app.h"')
            result = run_check(top)
            self.assertEqual(1, result.returncode)
            self.assertEqual(["link/port.cpp:2: includes flash/flash.h, from a room above link/",
                              "link/port.cpp:3: includes app/app.h, from a room above link/"],
                             result.stdout.splitlines())


if __name__ == "__main__":
    unittest.main()
