#!/usr/bin/env python3
"""Checks that Windows programs import only system DLLs and nothing newer than Windows XP.

Usage: check_imports.py OBJDUMP BUILD_DIR
Reads the import table of every .exe and .dll under the Windows build tree (CMake's own probes aside) with objdump and fails on a DLL outside the system set or
on a function that Windows XP does not have."""
import pathlib
import re
import subprocess
import sys

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll", "advapi32.dll",
    "setupapi.dll", "msvcrt.dll", "shell32.dll", "ole32.dll", "oleaut32.dll", "shlwapi.dll",
    "version.dll", "winmm.dll", "ws2_32.dll", "imm32.dll",
}

# Functions that appeared after Windows XP and that toolchains are known to pull in.
LATER_WINDOWS = re.compile(
    r"^(GetTickCount64|(Initialize|Sleep|Wake|WakeAll)ConditionVariable\w*|"
    r"\w*SRWLock\w*|InitOnce\w*|Fls(Alloc|Free|GetValue|SetValue)|"
    r"CreateSymbolicLink\w*|GetFinalPathNameByHandle\w*|CancelIoEx|CancelSynchronousIo|"
    r"GetFileInformationByHandleEx|SetFileInformationByHandle|Create(Event|Mutex|Semaphore)Ex\w*|"
    r"InitializeCriticalSectionEx|GetCurrentProcessorNumber\w*|QueryFullProcessImageName\w*|"
    r"\w*LocaleName\w*|GetLocaleInfoEx|CompareStringEx|LCMapStringEx|GetSystemTimePreciseAsFileTime|"
    r"GetSystemDefaultLocaleName|GetUserDefaultLocaleName|RegGetValue\w*|SHGetKnownFolderPath|"
    r"TaskDialog\w*|GetNamedPipe\w*ProcessId|SetThreadErrorMode|GetThreadErrorMode|"
    r"GetErrorMode|Wow64\w*|GetProcessId|GetThreadId|CreateThreadpool\w*|"
    r"_vsnwprintf_s|_vsnprintf_s|\w+_s)$")


def imports(objdump: str, path: str):
    out = subprocess.run([objdump, "-p", path], check=True, capture_output=True, text=True).stdout
    table, dll = {}, None
    for line in out.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
            table[dll] = []
            continue
        m = re.match(r"\s+[0-9a-f]+\s+[0-9a-f]+\s+(\S+)\s*$", line)
        if dll and m:
            table[dll].append(m.group(1))
        elif not line.strip():
            dll = None
    return table


def main() -> int:
    objdump, build = sys.argv[1], pathlib.Path(sys.argv[2])
    programs = sorted(str(p) for p in build.rglob("*")
                      if p.suffix in (".exe", ".dll") and "CMakeFiles" not in p.parts)
    if not programs:
        print(f"no programs under {build}")
        return 1
    failures = []
    for path in programs:
        table = imports(objdump, path)
        if not table:
            failures.append(f"{path}: no import table read")
        for dll, functions in table.items():
            if dll not in SYSTEM_DLLS:
                failures.append(f"{path}: imports {dll}, not a system DLL")
            for function in functions:
                if LATER_WINDOWS.match(function):
                    failures.append(f"{path}: {dll} {function} is newer than Windows XP")
        print(f"{path}: " + ", ".join(f"{d} ({len(f)})" for d, f in sorted(table.items())))
    for failure in failures:
        print(failure)
    print(f"{len(programs) - len({f.split(':')[0] for f in failures})} passed, "
          f"{len({f.split(':')[0] for f in failures})} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
