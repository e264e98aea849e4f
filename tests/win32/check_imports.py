#!/usr/bin/env python3
"""Checks that Windows programs import only system DLLs and nothing newer than Windows 2000.

Usage: check_imports.py OBJDUMP BUILD_DIR
Reads the import table of every .exe and .dll under the Windows build tree (CMake's own probes
aside) with objdump and fails on a DLL outside the system set or on a function that a stock
Windows 2000 (SP4) does not have."""
import pathlib
import re
import subprocess
import sys

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll", "advapi32.dll",
    "setupapi.dll", "msvcrt.dll", "shell32.dll", "ole32.dll", "oleaut32.dll", "shlwapi.dll",
    "version.dll", "winmm.dll", "ws2_32.dll", "imm32.dll",
}

# Functions that toolchains and runtimes are known to pull in and that a stock Windows 2000 (SP4)
# does not export, by the release that brought them (XP with its service packs, or Vista and
# later). A program that imports one of them does not even start there: the loader refuses it.
# framework/old_windows_support_win32.cpp gives the static runtime's own such imports a slot.
WINDOWS_XP = re.compile(
    # kernel32: vectored handlers (the thread library), module, process and processor queries.
    r"^((Add|Remove)VectoredExceptionHandler|GetModuleHandleEx[AW]|GetSystemTimes|"
    r"GetNativeSystemInfo|IsWow64Process|GetSystemWow64Directory[AW]|"
    r"GetLogicalProcessorInformation|"
    r"GetNuma(HighestNodeNumber|NodeProcessorMask|ProcessorNode|AvailableMemoryNode)|"
    r"GetProcessId|GetProcessHandleCount|IsProcessInJob|"
    # kernel32: lock-free lists, pointer encoding, heap options, DLL search path, consoles.
    r"InitializeSListHead|Interlocked(PushEntry|PopEntry|Flush)SList|QueryDepthSList|"
    r"(En|De)code(System)?Pointer|Heap(Set|Query)Information|(Set|Get)DllDirectory[AW]|"
    r"AttachConsole|GetConsoleProcessList|CheckRemoteDebuggerPresent|DebugActiveProcessStop|"
    r"DebugSetProcessKillOnExit|TzSpecificLocalTimeToSystemTime|RtlCaptureContext|"
    r"RtlCaptureStackBackTrace|(Set|Get)(System|Process)DEPPolicy|\w*ActCtx\w*|"
    # advapi32, user32, comctl32 (subclassing by name), ws2_32.
    r"SystemFunction036|CreateWellKnownSid|IsWellKnownSid|IsGUIThread|PrintWindow|"
    r"GetLayeredWindowAttributes|\w*RawInput\w*|(Set|Get|Remove)WindowSubclass|DefSubclassProc|"
    r"getaddrinfo|freeaddrinfo|getnameinfo|GetAddrInfoW|FreeAddrInfoW|GetNameInfoW|"
    # msvcrt: what its Windows XP build added (its Windows 2000 build is the older runtime).
    r"___lc_codepage_func|___lc_collate_cp_func|___lc_handle_func|___mb_cur_max_func|"
    r"_aligned_\w+|_w?(c|local|gm|mk|mkgm|f|fu|u)?time64|"
    r"_w?f?stat64|_w?find(first|next)64|_v?sc(w)?printf|_(str|wcs)tou?i64)$")

WINDOWS_VISTA = re.compile(
    r"^(GetTickCount64|(Initialize|Sleep|Wake|WakeAll)ConditionVariable\w*|"
    r"\w*SRWLock\w*|InitOnce\w*|Fls(Alloc|Free|GetValue|SetValue)|"
    r"CreateSymbolicLink\w*|GetFinalPathNameByHandle\w*|CancelIoEx|CancelSynchronousIo|"
    r"GetFileInformationByHandleEx|SetFileInformationByHandle|Create(Event|Mutex|Semaphore)Ex\w*|"
    r"InitializeCriticalSectionEx|GetCurrentProcessorNumber\w*|QueryFullProcessImageName\w*|"
    r"\w*LocaleName\w*|GetLocaleInfoEx|CompareStringEx|LCMapStringEx|GetSystemTimePreciseAsFileTime|"
    r"GetSystemDefaultLocaleName|GetUserDefaultLocaleName|RegGetValue\w*|SHGetKnownFolderPath|"
    r"TaskDialog\w*|GetNamedPipe\w*ProcessId|SetThreadErrorMode|GetThreadErrorMode|"
    r"GetErrorMode|Wow64\w*|GetThreadId|CreateThreadpool\w*|SetThreadStackGuarantee|"
    r"(Add|Remove)VectoredContinueHandler|GetNuma\w+Ex|"
    r"SetupDi(Get|Set)(Device|DeviceInterface|Class)Property\w*|"
    r"_w?(c|local|gm|mk|mkgm|diff|f|fu|u)?time32|_vsnwprintf_s|_vsnprintf_s|\w+_s)$")

NEWER_THAN_WINDOWS_2000 = (("Windows XP", WINDOWS_XP), ("Windows Vista or later", WINDOWS_VISTA))


def first_release(function: str):
    """The Windows release that brought the function, or None where Windows 2000 has it."""
    for release, pattern in NEWER_THAN_WINDOWS_2000:
        if pattern.match(function):
            return release
    return None


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
                release = first_release(function)
                if release:
                    failures.append(f"{path}: {dll} {function} is newer than Windows 2000 "
                                    f"(from {release})")
        print(f"{path}: " + ", ".join(f"{d} ({len(f)})" for d, f in sorted(table.items())))
    for failure in failures:
        print(failure)
    print(f"{len(programs) - len({f.split(':')[0] for f in failures})} passed, "
          f"{len({f.split(':')[0] for f in failures})} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
