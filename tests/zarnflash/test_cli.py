"""zarnflash against simulated devices on real ptys: list, flash, --all, watch, the failure
classes with their exit codes and sentences, JSON events and the audit log, progress on a
terminal and in a pipe, Ctrl-C and hang-ups."""
import json
import os
import pty
import select
import signal
import subprocess
import sys
import time
import unittest

from cli import (DEVSIM, FlasherTest, INTERRUPTED, LINK, NO_DEVICE, OK, PORT, READ, REJECTED,
                 SAMPLE, SIZE, USAGE, ZARNFLASH, zarnflash)


class ListTest(FlasherTest):
    def test_one_and_three_devices_with_their_versions(self):
        self.device("a", "--major", "2", "--minor", "5")
        run = zarnflash("list", "--json", *self.ports())
        self.assertEqual(OK, run.code, run.stderr)
        devices = run.of("device")
        self.assertEqual(1, len(devices))
        self.assertEqual({"major": 2, "minor": 5, "text": "V2.05"}, devices[0]["firmware"])
        self.assertEqual(1, devices[0]["size_code"])

        self.device("b", "--major", "3", "--minor", "1", "--size-code", "2")
        self.device("c", "--major", "2", "--minor", "10", "--size-code", "3")
        run = zarnflash("list", *self.ports())
        self.assertEqual(OK, run.code, run.stderr)
        lines = sorted(run.stdout.splitlines())
        self.assertEqual(3, len(lines), run.stdout)
        self.assertIn("firmware V2.05  flash size code 1", lines[0])
        self.assertIn("firmware V3.01  flash size code 2", lines[1])
        self.assertIn("firmware V2.10  flash size code 3", lines[2])

    def test_a_port_that_never_answers_is_no_device(self):
        self.device("quiet", "--fault", "silent")
        run = zarnflash("list", *self.ports())
        self.assertEqual(NO_DEVICE, run.code)
        self.assertIn("no device found", run.stderr)

    def test_a_held_port_is_listed_as_busy_with_its_holder(self):
        d = self.device("held")
        import fcntl
        fd = os.open(d.pty, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            run = zarnflash("list", *self.ports())
        finally:
            os.close(fd)
        self.assertIn("busy", run.stdout + run.stderr)
        self.assertIn(str(os.getpid()), run.stdout + run.stderr)


class FlashTest(FlasherTest):
    def test_built_in_image_goes_across_byte_for_byte(self):
        d = self.device("a", "--verify", SAMPLE)
        run = zarnflash("flash", *self.ports())
        self.assertEqual(OK, run.code, run.stderr)
        s = d.transfer()
        self.assertEqual("1", s["verified"], d.out)
        self.assertIn("done, 1021808 bytes", run.stdout)

    def test_image_file_goes_across(self):
        image = self.image("small.bin", 5000)
        d = self.device("a", "--verify", image)
        run = zarnflash("flash", "--port", d.link, "--image", image)
        self.assertEqual(OK, run.code, run.stderr)
        self.assertEqual("1", d.transfer()["verified"])

    def test_a_restart_by_the_device_is_said_in_words(self):
        image = self.image("i.bin", 8000)
        d = self.device("a", "--verify", image, "--fault", "restart", "--fault-packet", "3")
        run = zarnflash("flash", "--port", d.link, "--image", image)
        self.assertEqual(OK, run.code, run.stderr)
        self.assertIn("the device started the transfer over", run.stdout)
        self.assertIn("1 restarts", run.stdout)
        s = d.transfer()
        self.assertEqual(("1", "1"), (s["fired"], s["verified"]))

    def test_verbose_traces_frames_and_answers_but_never_whole_packets(self):
        d = self.device("a")
        run = zarnflash("flash", "--verbose", "--port", d.link, "--image", self.image("i.bin", 2500))
        self.assertEqual(OK, run.code, run.stderr)
        trace = run.stderr.splitlines()
        self.assertTrue(any(l.endswith("-> 24 56 00 56 3F 3F") for l in trace), run.stderr)
        self.assertTrue(any("<- ACK" in l for l in trace))
        self.assertTrue(any("-> packet 3: head 02, sequence 3, CRC " in l for l in trace))
        self.assertLess(max(len(l) for l in trace), 160)

    def test_two_devices_without_port_are_refused(self):
        self.device("a")
        self.device("b")
        run = zarnflash("flash", *self.ports())
        self.assertEqual(NO_DEVICE, run.code)
        self.assertIn("found 2 devices", run.stderr)
        self.assertIn("--all", run.stderr)
        for d in self.devices:
            self.assertEqual(0, sum(s["download"] == "1" for s in d.stop()))

    def test_all_flashes_three_at_once_and_one_failure_disturbs_none(self):
        image = self.image("image.bin", 40 * 1024)
        good = [self.device(n, "--verify", image) for n in ("a", "c")]
        bad = self.device("b", "--verify", image, "--fault", "cancel", "--fault-packet", "5")
        log = os.path.join(self.dir, "audit.jsonl")
        run = zarnflash("flash", "--all", "--json", "--log", log, "--image", image, *self.ports())
        self.assertEqual(REJECTED, run.code, run.stdout + run.stderr)
        with open(log) as f:
            audit = sorted((os.path.basename(e["port"]), e["ok"]) for e in map(json.loads, f))
        self.assertEqual([("port-a", True), ("port-b", False), ("port-c", True)], audit)
        results = {os.path.basename(e["port"]): e for e in run.of("result")}
        self.assertEqual({"port-a", "port-b", "port-c"}, set(results))
        self.assertTrue(results["port-a"]["ok"])
        self.assertTrue(results["port-c"]["ok"])
        self.assertEqual("rejected", results["port-b"]["class"])
        for d in good:
            self.assertEqual("1", d.transfer()["verified"])
        s = bad.transfer()
        self.assertEqual("1", s["fired"])
        self.assertEqual("0", s["completed"])


class FailureTest(FlasherTest):
    """Every failure class: its exit code and a sentence that says what happened."""

    def check(self, run, code, *words):
        self.assertEqual(code, run.code, run.stdout + run.stderr)
        for w in words:
            self.assertIn(w, run.stderr)
        self.assertNotIn("done,", run.stdout)

    def test_usage(self):
        self.check(zarnflash("flash", "--no-such-option"), USAGE)
        self.check(zarnflash(), USAGE)

    def test_no_device(self):
        self.check(zarnflash("flash", "--ports", os.path.join(self.dir, "none-*")), NO_DEVICE,
                   "no device found")

    def test_port_unusable(self):
        self.check(zarnflash("flash", "--port", os.path.join(self.dir, "absent")), PORT,
                   "cannot open", "absent")
        plain = self.image("not-a-port", 10)
        self.check(zarnflash("flash", "--port", plain), PORT, "cannot open", "not a terminal")

    def test_link_error_names_the_packet_and_the_byte(self):
        d = self.device("a", "--fault", "garbage", "--fault-packet", "3")
        self.check(zarnflash("flash", "--port", d.link, "--image", self.image("i.bin", 8000)),
                   LINK, "packet 3", "0x55")

    def test_read_error(self):
        d = self.device("a")
        self.check(zarnflash("flash", "--port", d.link, "--image", self.dir), READ, "folder")
        self.check(zarnflash("flash", "--port", d.link, "--image", os.path.join(self.dir, "nope.bin")),
                   READ, "cannot open")

    def test_rejected(self):
        d = self.device("a", "--fault", "nak-download")
        self.check(zarnflash("flash", "--port", d.link, "--image", self.image("i.bin", 3000)),
                   REJECTED, "refused the download command")

    def test_size_errors_are_refused_before_a_byte_is_sent(self):
        d = self.device("a")
        self.check(zarnflash("flash", "--port", d.link, "--image", self.image("empty.bin", 0)),
                   SIZE, "empty")
        big = os.path.join(self.dir, "big.bin")
        with open(big, "wb") as f:
            f.truncate(16 * 1024 * 1024 - 4096 + 1)
        self.check(zarnflash("flash", "--port", d.link, "--image", big), SIZE, "16773120")
        self.assertEqual([], [s for s in d.stop() if s["query"] == "1"])  # not even a version query

    def test_size_error_of_the_device(self):
        d = self.device("a", "--size-code", "0")
        self.check(zarnflash("flash", "--port", d.link, "--image", self.image("i.bin", 3000)),
                   SIZE, "flash size code")


class VersionTest(FlasherTest):
    def test_no_version_reply_warns_and_require_version_refuses(self):
        image = self.image("i.bin", 3000)
        d = self.device("a", "--fault", "no-version-reply", "--verify", image)
        run = zarnflash("flash", "--port", d.link, "--image", image)
        self.assertEqual(OK, run.code, run.stderr)
        self.assertIn("warning", run.stderr)
        self.assertIn("no valid version reply", run.stderr)
        self.assertEqual("0x1B0000", d.transfer()["address"])

        d = self.device("b", "--fault", "no-version-reply")
        run = zarnflash("flash", "--json", "--require-version", "--port", d.link, "--image", image)
        self.assertEqual(LINK, run.code)
        self.assertEqual(["no-version-reply"], [w["warning"] for w in run.of("warning")])
        self.assertIn("--require-version", run.of("result")[0]["message"])
        self.assertEqual(0, sum(s["download"] == "1" for s in d.stop()))


class DoctorTest(FlasherTest):
    def test_names_who_holds_a_candidate_port(self):
        d = self.device("held")
        import fcntl
        fd = os.open(d.pty, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            run = zarnflash("doctor", "--json", *self.ports())
        finally:
            os.close(fd)
        findings = run.of("finding")
        self.assertTrue(findings, run.stdout + run.stderr)
        holders = [f for f in findings if f["check"] == "holders" and not f["ok"]]
        self.assertEqual(1, len(holders), findings)
        self.assertIn(str(os.getpid()), holders[0]["message"])
        self.assertEqual(PORT, run.code)


class InterruptTest(FlasherTest):
    def test_ctrl_c_mid_transfer_exits_130_without_success(self):
        d = self.device("a", "--rate", "20000")  # about 50 s for the built-in image
        proc = subprocess.Popen([ZARNFLASH, "flash", "--plain", "--port", d.link],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        out = ""
        while "10%" not in out:
            line = proc.stdout.readline()
            self.assertTrue(line, "zarnflash ended early")
            out += line
        proc.send_signal(signal.SIGINT)
        rest, err = proc.communicate(timeout=15)
        self.assertEqual(INTERRUPTED, proc.returncode)
        self.assertNotIn("done,", out + rest)
        self.assertIn("interrupted", err)
        s = d.transfer()
        self.assertEqual("0", s["completed"])

    def test_hang_up_is_reported_at_once(self):
        d = self.device("a", "--fault", "hangup", "--fault-packet", "3")
        run = zarnflash("flash", "--json", "--port", d.link, "--image", self.image("i.bin", 8000))
        self.assertEqual(LINK, run.code)
        result = run.of("result")[0]
        self.assertIn("disconnected", result["message"])
        # Not the ten-second wait for an answer: the line's hang-up itself ends it.
        self.assertLess(result["duration_ms"], 5000)


class OutputTest(FlasherTest):
    def test_json_events_follow_the_documented_format(self):
        image = self.image("i.bin", 300 * 1024)
        d = self.device("a")
        log = os.path.join(self.dir, "audit.jsonl")
        run = zarnflash("flash", "--json", "--log", log, "--port", d.link, "--image", image)
        self.assertEqual(OK, run.code, run.stderr)
        for e in run.events:
            self.assertEqual("zarnflash", e["format"])
            self.assertEqual(1, e["version"])
            self.assertIn("time", e)
        kinds = [e["event"] for e in run.events]
        self.assertEqual("found", kinds[0])
        self.assertEqual("version", kinds[1])
        self.assertEqual("result", kinds[-1])
        progress = run.of("progress")
        self.assertTrue(progress)
        self.assertEqual(sorted(p["percent"] for p in progress), [p["percent"] for p in progress])
        self.assertLessEqual(progress[-1]["percent"], 100)
        self.assertEqual(300 * 1024, progress[-1]["bytes"])
        result = run.of("result")[0]
        self.assertTrue(result["ok"])
        self.assertEqual(0, result["exit_code"])
        self.assertEqual(300, result["stats"]["packets"])
        for key in ("naks", "restarts", "timeouts", "rate_bps", "line_rate_bps", "efficiency"):
            self.assertIn(key, result["stats"])
        with open(log) as f:
            lines = [json.loads(l) for l in f]
        self.assertEqual(1, len(lines))
        self.assertEqual(64, len(lines[0]["image"]["sha256"]))
        self.assertEqual(20180911, lines[0]["image"]["database_version"])
        self.assertEqual("V2.05", lines[0]["firmware"]["text"])
        self.assertIn("duration_ms", lines[0])

    def test_progress_is_a_bar_on_a_terminal_and_plain_lines_in_a_pipe(self):
        image = self.image("i.bin", 200 * 1024)
        d = self.device("a")
        run = zarnflash("flash", "--port", d.link, "--image", image)
        progress = [l for l in run.stdout.splitlines() if "%" in l and "done" not in l]
        self.assertLessEqual(len(progress), 11, run.stdout)
        self.assertNotIn("\033[", run.stdout)
        self.assertIn("100% (204800 of 204800 bytes)", run.stdout)

        pid, fd = pty.fork()
        if pid == 0:
            os.execv(ZARNFLASH, [ZARNFLASH, "flash", "--port", d.link, "--image", image])
        screen = b""
        while True:
            ready, _, _ = select.select([fd], [], [], 30)
            if not ready:
                break
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            screen += chunk
        _, status = os.waitpid(pid, 0)
        self.assertEqual(0, os.waitstatus_to_exitcode(status), screen)
        self.assertIn(b"\033[", screen)
        self.assertIn(b"[########################] 100%", screen)
        self.assertIn(b"kB/s", screen)


class WatchTest(FlasherTest):
    def test_flashes_two_devices_that_appear_one_after_the_other(self):
        image = self.image("i.bin", 20 * 1024)
        proc = subprocess.Popen([ZARNFLASH, "watch", "--plain", "--image", image, *self.ports()],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        out = ""

        def wait_for(text):
            nonlocal out
            while text not in out:
                line = proc.stdout.readline()
                self.assertTrue(line, "zarnflash ended early:\n" + out)
                out += line

        try:
            wait_for("waiting for devices")
            first = self.device("a", "--verify", image)
            wait_for("port-a: done")
            second = self.device("b", "--verify", image)
            wait_for("port-b: done")
        finally:
            proc.send_signal(signal.SIGINT)
        rest, err = proc.communicate(timeout=15)
        self.assertEqual(INTERRUPTED, proc.returncode, err)
        self.assertIn("2 devices, 2 succeeded, 0 failed", out + rest)
        self.assertEqual("1", first.transfer()["verified"])
        self.assertEqual("1", second.transfer()["verified"])


if __name__ == "__main__":
    unittest.main()
