"""The Windows console build of zarnflash under Wine against simulated devices on virtual COM
ports (each a pty mapped as COMn, listed as the device's "Ports" entry): it finds them by the
window's walk, reads their versions, flashes one and reports a failing one with its exit code."""

import json
import os
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

ZARNFLASH = os.environ.get("ZARN_ZARNFLASH_EXE", "")
DEVSIM = os.environ.get("ZARN_DEVSIM_EXE", "")
REJECTED = 7


class ConsoleFlasher(unittest.TestCase):
    def setUp(self):
        self.session = harness.Session()
        self.image = harness.embedded_image(os.environ[harness.ENV_EXE])

    def tearDown(self):
        self.session.close()

    def zarnflash(self, *args):
        proc = self.session.run([harness.WINE, ZARNFLASH, *args], capture_output=True, text=True,
                                timeout=120)
        events = [json.loads(l) for l in proc.stdout.splitlines() if l.startswith("{")]
        return proc, events

    def test_list_then_flash_one_and_fail_one(self):
        good = self.session.start_devsim(DEVSIM, 7, ["--repeat", "--verify", self.image,
                                                     "--major", "2", "--minor", "7"])
        bad = self.session.start_devsim(DEVSIM, 12, ["--repeat", "--fault", "cancel",
                                                     "--fault-packet", "4"],
                                        instance="5&1A2B3C&0&2")
        proc, events = self.zarnflash("list", "--json")
        self.assertEqual(0, proc.returncode, proc.stdout + proc.stderr)
        found = {e["port"]: e["firmware"]["text"] for e in events if e["event"] == "device"}
        self.assertEqual({"COM7": "V2.07", "COM12": "V2.05"}, found)

        proc, events = self.zarnflash("flash", "--port", "COM7")
        self.assertEqual(0, proc.returncode, proc.stdout + proc.stderr)
        self.assertIn("done, 1021808 bytes", proc.stdout)
        summary = good.stop()
        self.assertEqual("1", summary["verified"], summary)

        proc, events = self.zarnflash("flash", "--json", "--port", "COM12")
        self.assertEqual(REJECTED, proc.returncode, proc.stdout + proc.stderr)
        result = [e for e in events if e["event"] == "result"][0]
        self.assertEqual("rejected", result["class"])
        self.assertIn("packet 4", result["message"])
        self.assertEqual("1", bad.stop()["fired"])


if __name__ == "__main__":
    rest = harness.program_paths(sys.argv[1:])
    unittest.main(argv=[sys.argv[0], *rest])
