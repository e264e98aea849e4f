// The few things zarnflash asks of the host system, one file per platform: temporary files,
// paths as the loader takes them, whether a stream is a terminal, a clock.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Writes `bytes` to a new temporary file whose name begins with `stem`. 0 and the OS's reason
// in *error on failure.
int WriteTempFile(const char* stem, const std::vector<uint8_t>& bytes, std::string* path,
                  std::string* error);
// Reads a whole file. 0 and the OS's reason in *error when it cannot be read (a folder
// included).
int ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);
// Appends one line to a file, creating it. 0 and the OS's reason in *error on failure.
int AppendLine(const std::string& path, const std::string& line, std::string* error);
// A path from the command line as the wide string the loader opens.
std::wstring WidePath(const std::string& path);
// True when `stream` is a terminal (live progress bars go there).
bool IsTerminal(FILE* stream);
// Milliseconds on a monotonic clock.
int64_t MonotonicMs();
// The local time now as "2026-12-11T16:29:37+0000".
std::string LocalTimestamp();
