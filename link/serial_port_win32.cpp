// CSerialPort on Win32: a COM device opened for overlapped I/O, without sharing. Reads never
// wait for the device; writes wait for their completion, bounded by the write time-outs.
#include "link/serial_port.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <string>

struct CSerialPort::Impl {
  HANDLE m_hComm = INVALID_HANDLE_VALUE;
  OVERLAPPED m_writeOverlapped = {};
  OVERLAPPED m_readOverlapped = {};
};

namespace {

CSerialPort::Error OpenError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return CSerialPort::kAbsent;
    case ERROR_ACCESS_DENIED:  // what Windows answers for a COM port another program holds
    case ERROR_SHARING_VIOLATION:
      return CSerialPort::kBusy;
    default:
      return CSerialPort::kOther;
  }
}

// A call on an open handle: these codes mean the device behind it has gone.
CSerialPort::Error TransferError(DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return CSerialPort::kHungUp;
    default:
      return CSerialPort::kOther;
  }
}

// Configures 8-N-1 at `baud` (all other line settings as the port has them) and time-outs that
// make reads return at once and give a write of n bytes 100 + 5 n ms. On failure *error and
// *code say why: a handle without line settings is no serial line.
bool Configure(HANDLE comm, unsigned baud, CSerialPort::Error* error, DWORD* code) {
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  const bool isLine = ::GetCommState(comm, &dcb) != 0;
  *error = isLine ? CSerialPort::kSettingsRefused : CSerialPort::kNotATerminal;
  *code = isLine ? 0 : ::GetLastError();
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  if (!::SetCommState(comm, &dcb)) {
    if (isLine) *code = ::GetLastError();
    return false;
  }

  COMMTIMEOUTS timeouts;
  ZeroMemory(&timeouts, sizeof timeouts);
  ::GetCommTimeouts(comm, &timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 5;
  timeouts.WriteTotalTimeoutConstant = 100;
  if (::SetCommTimeouts(comm, &timeouts)) return true;
  if (isLine) *code = ::GetLastError();
  return false;
}

void ClearError(HANDLE comm) {
  DWORD errors = 0;
  COMSTAT status;
  ::ClearCommError(comm, &errors, &status);
}

}  // namespace

CSerialPort::CSerialPort() : m_impl(new Impl) {}

CSerialPort::~CSerialPort() { Close(); }

int CSerialPort::Open(int port, unsigned baud) {
  char name[32];
  if (port < 10)
    std::snprintf(name, sizeof name, "COM%d:", port);
  else
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port);
  return OpenPath(name, baud);
}

int CSerialPort::OpenPath(const char* path, unsigned baud) {
  wchar_t name[64];
  std::swprintf(name, sizeof name / sizeof name[0], L"%hs", path);
  Impl& p = *m_impl;
  p.m_hComm = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (p.m_hComm == INVALID_HANDLE_VALUE) {
    const DWORD reason = ::GetLastError();
    SetError(OpenError(reason), static_cast<int>(reason));
    return 0;
  }
  Error refused = kNone;
  DWORD code = 0;
  if (!Configure(p.m_hComm, baud, &refused, &code)) {
    SetError(refused, static_cast<int>(code));
    ::CloseHandle(p.m_hComm);
    p.m_hComm = INVALID_HANDLE_VALUE;
    return 0;
  }
  // A failed event leaves the port held; Close (or the destructor) releases what exists.
  p.m_readOverlapped.Offset = p.m_readOverlapped.OffsetHigh = 0;
  p.m_readOverlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!p.m_readOverlapped.hEvent) {
    SetError(kOther, static_cast<int>(::GetLastError()));
    return 0;
  }
  p.m_writeOverlapped.Offset = p.m_writeOverlapped.OffsetHigh = 0;
  p.m_writeOverlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!p.m_writeOverlapped.hEvent) {
    SetError(kOther, static_cast<int>(::GetLastError()));
    return 0;
  }
  SetError(kNone, 0);
  return 1;
}

void CSerialPort::Close() {
  Impl& p = *m_impl;
  if (p.m_hComm == INVALID_HANDLE_VALUE) return;
  ::SetCommMask(p.m_hComm, 0);
  ::CloseHandle(p.m_hComm);
  if (p.m_readOverlapped.hEvent) ::CloseHandle(p.m_readOverlapped.hEvent);
  if (p.m_writeOverlapped.hEvent) ::CloseHandle(p.m_writeOverlapped.hEvent);
  p.m_readOverlapped.hEvent = nullptr;
  p.m_writeOverlapped.hEvent = nullptr;
  p.m_hComm = INVALID_HANDLE_VALUE;
}

int CSerialPort::IsOpen() const { return m_impl->m_hComm != INVALID_HANDLE_VALUE; }

int CSerialPort::Write(const unsigned char* data, unsigned length) {
  Impl& p = *m_impl;
  SetError(kNone, 0);
  if (p.m_hComm == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  if (::WriteFile(p.m_hComm, data, length, &written, &p.m_writeOverlapped)) return 1;
  DWORD code = ::GetLastError();
  if (code != ERROR_IO_PENDING) {
    SetError(TransferError(code), static_cast<int>(code));
    ClearError(p.m_hComm);
    return 0;
  }
  // Once started, the write counts as written even if its completion fails or is cut short.
  for (;;) {
    if (::GetOverlappedResult(p.m_hComm, &p.m_writeOverlapped, &written, TRUE)) return 1;
    code = ::GetLastError();
    if (code != ERROR_IO_INCOMPLETE) {
      SetError(TransferError(code), static_cast<int>(code));
      ClearError(p.m_hComm);
      return 1;
    }
  }
}

unsigned CSerialPort::Read(unsigned char* buffer, unsigned max) {
  Impl& p = *m_impl;
  SetError(kNone, 0);
  if (p.m_hComm == INVALID_HANDLE_VALUE) return 0;
  DWORD errors = 0;
  COMSTAT status;
  ZeroMemory(&status, sizeof status);
  if (!::ClearCommError(p.m_hComm, &errors, &status)) {
    // Nothing counts as queued then; a device that has gone fails every call so.
    const DWORD code = ::GetLastError();
    SetError(TransferError(code), static_cast<int>(code));
  }
  const DWORD n = status.cbInQue < max ? status.cbInQue : max;
  if (n == 0) return 0;
  DWORD got = 0;
  if (::ReadFile(p.m_hComm, buffer, n, &got, &p.m_readOverlapped)) return got;
  DWORD code = ::GetLastError();
  if (code != ERROR_IO_PENDING) {
    SetError(TransferError(code), static_cast<int>(code));
    ClearError(p.m_hComm);
    return 0;
  }
  for (;;) {
    if (::GetOverlappedResult(p.m_hComm, &p.m_readOverlapped, &got, TRUE)) return got;
    code = ::GetLastError();
    if (code != ERROR_IO_INCOMPLETE) {
      SetError(TransferError(code), static_cast<int>(code));
      ClearError(p.m_hComm);
      return got;
    }
  }
}

// ReadByte spins between reads, as the loader always has: it gives the processor away
// without sleeping, so an answer is seen the moment it is queued.
void CSerialPort::WaitForInput() { ::Sleep(0); }

int64_t CSerialPort::CalendarSeconds() {
  // The runtime's time() counts in 32 bits here, and _time64 is missing from the runtime
  // Windows 2000 ships: seconds since 1970 from the system clock's 100 ns ticks since 1601.
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  const int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  return ticks / 10000000 - INT64_C(11644473600);
}

std::string CSerialPort::OsErrorText(int code) {
  char text[256];
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  // The system's sentences end in a full stop and a line break.
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' ||
                   text[n - 1] == '.'))
    --n;
  std::string out(text, n);
  if (out.empty()) return "error " + std::to_string(code);
  out[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(out[0])));
  return out;
}
