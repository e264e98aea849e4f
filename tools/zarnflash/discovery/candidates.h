// Finding candidate ports: the system's USB serial ports (libudev on Linux, the "Ports" walk on
// Windows) plus the ports the --ports patterns name. Every call returns 1 on success and 0 with
// the reason in *error; none throws. An empty list is a success.
#pragma once
#include <string>
#include <vector>

#include "tools/zarnflash/discovery/candidate.h"

// The system's serial ports that pass the filter, appended to *out. On Linux: every "tty"
// device with a USB parent, with its USB identity. On Windows: every port whose friendly name
// has the device's prefix, each COM number it names (no USB identity: the driver filter does
// not apply there, the name is the device's own).
int SystemCandidates(const CandidateFilter& filter, std::vector<Candidate>* out,
                     std::string* error);

// The ports the patterns name, appended to *out in sorted order per pattern, without USB
// identity. POSIX: glob(3) patterns ("/dev/pts/*", a devsim --link path); a wildcard keeps only
// character devices, a path without one is taken as it is; a pattern that matches nothing is
// not an error. Windows: COM names, several in one pattern with commas.
int PatternCandidates(const std::vector<std::string>& patterns, std::vector<Candidate>* out,
                      std::string* error);

// The name two spellings of one port share (a symlink resolved, COM names in capitals).
std::string CanonicalPort(const std::string& port);
// The name the port opens under: the path itself, or "\\.\COM12" (every COM number opens
// so, the short name only COM1 to COM9).
std::string OpenablePath(const std::string& port);

// System candidates (when filter.usbPorts) then pattern matches, each port once: a pattern
// that names a system candidate again adds nothing, the identified entry stays.
int FindCandidates(const CandidateFilter& filter, std::vector<Candidate>* out,
                   std::string* error);
