"""The updater's window in each system language that Wine can be given through LANG: the
title, the captions and the status line come from the matching table; every language without
a table of its own, other Chinese and Russian ones included, gets English."""

import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import ID_EXIT, ID_FILE_SELECT, ID_SETUP, ID_STATUS, ID_UPDATE  # noqa: E402
from ui_texts import ENGLISH, RUSSIAN, SIMPLIFIED_CHINESE, TRADITIONAL_CHINESE  # noqa: E402

# LANG, the language id Wine reports for it, the table the window must use.
CASES = [
    ("en_US.UTF-8", 0x0409, ENGLISH),
    ("zh_CN.UTF-8", 0x0804, SIMPLIFIED_CHINESE),
    ("zh_TW.UTF-8", 0x0404, TRADITIONAL_CHINESE),
    ("ru_RU.UTF-8", 0x0419, RUSSIAN),
    ("zh_HK.UTF-8", 0x0C04, ENGLISH),
    ("ru_MD.UTF-8", 0x0819, ENGLISH),
]


class Languages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = harness.Session()
        try:
            cls.driver = cls.session.start_driver(os.environ[harness.ENV_DRIVER])
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.driver.close()
        cls.session.close()

    def test_texts_follow_the_system_language(self):
        for lang, langid, table in CASES:
            with self.subTest(lang=lang):
                app = self.session.start_app(os.environ[harness.ENV_EXE], lang)
                try:
                    window = app.find_window(self.driver)
                    dump = window.dump()
                    self.assertEqual(
                        dump["langid"], langid,
                        "Wine gives the program language 0x%04x for LANG=%s; is that locale "
                        "generated (scripts/install-deps.sh)?" % (dump["langid"] or 0, lang))
                    texts = {c["id"]: c["text"] for c in dump["controls"]}
                    self.assertEqual(dump["title"], table[6] + " V2.0_RUS\r\n")
                    self.assertEqual(
                        {cid: texts[cid] for cid in (ID_EXIT, ID_UPDATE, ID_SETUP, ID_FILE_SELECT)},
                        {ID_EXIT: table[1], ID_UPDATE: table[2], ID_SETUP: table[0],
                         ID_FILE_SELECT: table[7]})
                    # Text 12 until the monitor's first poll, then text 4 (no device here).
                    self.assertIn(texts[ID_STATUS], (table[12], table[4]))
                    self.assertEqual((dump["rect"]["w"], dump["rect"]["h"]), (452, 391))
                    self.assertTrue(window.click(ID_EXIT))
                    self.assertEqual(app.wait(10), 0)
                finally:
                    app.kill()


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + harness.program_paths(sys.argv[1:]), verbosity=2)
