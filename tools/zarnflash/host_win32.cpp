// What zarnflash asks of a Windows host.
#include "tools/zarnflash/host.h"

#include <io.h>
#include <windows.h>

#include <ctime>

namespace {

std::string LastErrorText() {
  wchar_t* text = nullptr;
  const DWORD error = ::GetLastError();
  ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out;
  if (text) {
    char narrow[512];
    const int n = ::WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    if (n > 1) out.assign(narrow, static_cast<size_t>(n - 1));
    ::LocalFree(text);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
  return out.empty() ? "error " + std::to_string(error) : out;
}

}  // namespace

int WriteTempFile(const char* stem, const std::vector<uint8_t>& bytes, std::string* path,
                  std::string* error) {
  char dir[MAX_PATH], name[MAX_PATH];
  if (!::GetTempPathA(sizeof dir, dir) || !::GetTempFileNameA(dir, stem, 0, name)) {
    *error = "cannot create a temporary file: " + LastErrorText();
    return 0;
  }
  HANDLE file = ::CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  const bool ok = file != INVALID_HANDLE_VALUE &&
                  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  if (!ok) *error = std::string("cannot write ") + name + ": " + LastErrorText();
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  if (!ok) {
    ::DeleteFileA(name);
    return 0;
  }
  *path = name;
  return 1;
}

int ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = path + " is a folder, not an image file";
    return 0;
  }
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot open " + path + ": " + LastErrorText();
    return 0;
  }
  bytes->clear();
  uint8_t chunk[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file, chunk, sizeof chunk, &n, nullptr)) {
      *error = "cannot read " + path + ": " + LastErrorText();
      ::CloseHandle(file);
      return 0;
    }
    if (n == 0) break;
    bytes->insert(bytes->end(), chunk, chunk + n);
  }
  ::CloseHandle(file);
  return 1;
}

int AppendLine(const std::string& path, const std::string& line, std::string* error) {
  HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, 0, nullptr);
  const std::string text = line + "\r\n";
  DWORD written = 0;
  if (file == INVALID_HANDLE_VALUE ||
      !::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    *error = "cannot write " + path + ": " + LastErrorText();
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return 0;
  }
  ::CloseHandle(file);
  return 1;
}

std::wstring WidePath(const std::string& path) {
  // The command line arrives in the ANSI code page.
  const int n = ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring(path.begin(), path.end());
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &out[0], n);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

bool IsTerminal(FILE* stream) { return _isatty(_fileno(stream)) != 0; }

int64_t MonotonicMs() {
  LARGE_INTEGER frequency, now;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  return static_cast<int64_t>(now.QuadPart * 1000 / frequency.QuadPart);
}

std::string LocalTimestamp() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  TIME_ZONE_INFORMATION zone;
  const DWORD kind = ::GetTimeZoneInformation(&zone);
  long bias = -zone.Bias - (kind == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : 0);
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u%c%02ld%02ld", t.wYear, t.wMonth,
                t.wDay, t.wHour, t.wMinute, t.wSecond, bias < 0 ? '-' : '+', labs(bias) / 60,
                labs(bias) % 60);
  return text;
}
