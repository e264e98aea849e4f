#!/usr/bin/env python3
"""Tests of check_imports.py: it must fail on what Windows 2000 lacks and pass on what it has.

Usage: check_imports_test.py OBJDUMP CXX
OBJDUMP and CXX are the mingw-w64 objdump and C++ compiler; the probes they build and read live
in temporary folders, never in the Windows build tree that the real check scans."""
import pathlib
import subprocess
import sys
import tempfile
import textwrap
import unittest

HERE = pathlib.Path(__file__).resolve().parent
CHECK = HERE / "check_imports.py"
SLOTS = HERE.parents[1] / "framework" / "old_windows_support_win32.cpp"
OBJDUMP = CXX = None

# "objdump -p" as a real one prints an import table: a fixed USER32 block, then one block per case.
IMPORT_TABLE = textwrap.dedent("""\
    The Import Tables (interpreted .idata section contents)
     vma:            Hint    Time      Forward  DLL       First
                     Table   Stamp     Chain    Name      Thunk
     0005b000\t0005b0b4 00000000 00000000 0005c2a8 0005b3b4

    \tDLL Name: USER32.dll
    \tvma:  Hint/Ord Member-Name Bound-To
    \t5b6b4\t  160  DispatchMessageW
    \t5b6cc\t  329  GetMessageW

     0005b014\t0005b0c4 00000000 00000000 0005c2bc 0005b3c4

    \tDLL Name: {dll}
    \tvma:  Hint/Ord Member-Name Bound-To
    \t5b6e4\t   96  {function}

     0005b028\t00000000 00000000 00000000 00000000 00000000
    """)

# (DLL, function, the release the check must name, or None where Windows 2000 has the function).
# The passing rows are the near neighbours of listed names, so a pattern that reaches too far
# shows.
CASES = [
    ("KERNEL32.dll", "AddVectoredExceptionHandler", "Windows XP"),
    ("KERNEL32.dll", "RemoveVectoredExceptionHandler", "Windows XP"),
    ("KERNEL32.dll", "GetModuleHandleExW", "Windows XP"),
    ("KERNEL32.dll", "GetSystemTimes", "Windows XP"),
    ("KERNEL32.dll", "GetNativeSystemInfo", "Windows XP"),
    ("KERNEL32.dll", "IsWow64Process", "Windows XP"),
    ("KERNEL32.dll", "InitializeSListHead", "Windows XP"),
    ("KERNEL32.dll", "InterlockedPopEntrySList", "Windows XP"),
    ("KERNEL32.dll", "GetLogicalProcessorInformation", "Windows XP"),
    ("KERNEL32.dll", "AttachConsole", "Windows XP"),
    ("KERNEL32.dll", "EncodePointer", "Windows XP"),
    ("KERNEL32.dll", "SetDllDirectoryW", "Windows XP"),
    ("msvcrt.dll", "___lc_codepage_func", "Windows XP"),
    ("msvcrt.dll", "_aligned_malloc", "Windows XP"),
    ("msvcrt.dll", "_time64", "Windows XP"),
    ("msvcrt.dll", "_vscwprintf", "Windows XP"),
    ("COMCTL32.DLL", "SetWindowSubclass", "Windows XP"),
    ("WS2_32.dll", "getaddrinfo", "Windows XP"),
    ("KERNEL32.dll", "GetTickCount64", "Windows Vista or later"),
    ("KERNEL32.dll", "InitializeSRWLock", "Windows Vista or later"),
    ("SETUPAPI.dll", "SetupDiGetDevicePropertyW", "Windows Vista or later"),
    ("msvcrt.dll", "_time32", "Windows Vista or later"),
    ("msvcrt.dll", "strerror_s", "Windows Vista or later"),
    ("KERNEL32.dll", "GetModuleHandleW", None),
    ("KERNEL32.dll", "GetSystemTimeAsFileTime", None),
    ("KERNEL32.dll", "GetSystemInfo", None),
    ("KERNEL32.dll", "GetTickCount", None),
    ("KERNEL32.dll", "InterlockedIncrement", None),
    ("KERNEL32.dll", "InitializeCriticalSection", None),
    ("KERNEL32.dll", "TryEnterCriticalSection", None),
    ("KERNEL32.dll", "GetHandleInformation", None),
    ("KERNEL32.dll", "IsDebuggerPresent", None),
    ("GDI32.dll", "AddFontMemResourceEx", None),
    ("SETUPAPI.dll", "SetupDiGetDeviceRegistryPropertyW", None),
    ("COMCTL32.DLL", "InitCommonControlsEx", None),
    ("USER32.dll", "GetGUIThreadInfo", None),
    ("msvcrt.dll", "time", None),
    ("msvcrt.dll", "_setjmp3", None),
    ("msvcrt.dll", "_snwprintf", None),
    ("msvcrt.dll", "strerror", None),
]


def run_check(objdump: str, tree: pathlib.Path):
    result = subprocess.run([sys.executable, str(CHECK), objdump, str(tree)],
                            capture_output=True, text=True)
    return result.returncode, result.stdout


class CannedImportTables(unittest.TestCase):
    """The check over import tables in objdump's own layout, through a stand-in objdump that
    prints the "program" file it is given."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.dir.name)
        self.objdump = self.root / "objdump"
        self.objdump.write_text('#!/bin/sh\nexec cat "$2"\n')
        self.objdump.chmod(0o755)
        self.tree = self.root / "win32"
        self.tree.mkdir()

    def tearDown(self):
        self.dir.cleanup()

    def program(self, name: str, dll: str, function: str) -> pathlib.Path:
        path = self.tree / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(IMPORT_TABLE.format(dll=dll, function=function))
        return path

    def test_each_function_by_release(self):
        for dll, function, release in CASES:
            with self.subTest(function=function):
                path = self.program("app/Probe.exe", dll, function)
                status, out = run_check(str(self.objdump), self.tree)
                if release is None:
                    self.assertEqual(status, 0, out)
                    self.assertIn("1 passed, 0 failed", out)
                else:
                    self.assertEqual(status, 1, out)
                    self.assertIn(f"{path}: {dll.lower()} {function} is newer than Windows 2000 "
                                  f"(from {release})", out)

    def test_one_bad_library_fails_the_tree_and_only_it_is_named(self):
        good = self.program("app/ZarnUpdate.exe", "KERNEL32.dll", "GetTickCount")
        bad = self.program("tests/hook.dll", "KERNEL32.dll", "AddVectoredExceptionHandler")
        status, out = run_check(str(self.objdump), self.tree)
        self.assertEqual(status, 1, out)
        failures = [line for line in out.splitlines() if "newer than" in line]
        self.assertEqual(failures, [f"{bad}: kernel32.dll AddVectoredExceptionHandler is newer "
                                    f"than Windows 2000 (from Windows XP)"], out)
        self.assertIn(f"{good}: kernel32.dll (1), user32.dll (2)", out)
        self.assertIn("1 passed, 1 failed", out)

    def test_dll_outside_the_system_set_fails(self):
        path = self.program("app/Probe.exe", "libstdc++-6.dll", "__gxx_personality_v0")
        status, out = run_check(str(self.objdump), self.tree)
        self.assertEqual(status, 1, out)
        self.assertIn(f"{path}: imports libstdc++-6.dll, not a system DLL", out)

    def test_cmake_probes_are_skipped_and_an_empty_tree_fails(self):
        self.program("CMakeFiles/3.25/CompilerIdC/a.exe", "KERNEL32.dll", "GetTickCount64")
        status, out = run_check(str(self.objdump), self.tree)
        self.assertEqual(status, 1, out)
        self.assertIn("no programs under", out)


@unittest.skipUnless(len(sys.argv) > 2, "needs the mingw-w64 objdump and compiler")
class RealProbe(unittest.TestCase):
    """A program built by the real toolchain that calls AddVectoredExceptionHandler itself: the
    real objdump shows the import and the check refuses it, until the program carries the slots
    that the Windows programs carry."""

    PROBE = textwrap.dedent("""\
        #include <windows.h>
        static LONG WINAPI Pass(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }
        int main() {
          void* handler = AddVectoredExceptionHandler(1, &Pass);
          return handler != nullptr && RemoveVectoredExceptionHandler(handler) != 0 ? 0 : 1;
        }
        """)

    def build(self, tree: pathlib.Path, *extra: str):
        tree.mkdir()
        source = tree.parent / "probe.cpp"
        source.write_text(self.PROBE)
        subprocess.run([CXX, "-O2", "-static", "-Wno-cast-function-type", "-o",
                        str(tree / "probe.exe"), str(source), *extra], check=True)

    def test_check_fails_on_the_import_and_passes_with_the_slots(self):
        with tempfile.TemporaryDirectory() as root:
            bare = pathlib.Path(root) / "bare"
            self.build(bare)
            status, out = run_check(OBJDUMP, bare)
            self.assertEqual(status, 1, out)
            self.assertIn("kernel32.dll AddVectoredExceptionHandler is newer than Windows 2000 "
                          "(from Windows XP)", out)
            self.assertIn("kernel32.dll RemoveVectoredExceptionHandler is newer than Windows 2000",
                          out)

            slotted = pathlib.Path(root) / "slotted"
            self.build(slotted, str(SLOTS))
            status, out = run_check(OBJDUMP, slotted)
            self.assertEqual(status, 0, out)
            self.assertIn("1 passed, 0 failed", out)


if __name__ == "__main__":
    if len(sys.argv) > 2:
        OBJDUMP, CXX = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1])
