// CSerialPort on Win32: a COM device opened for overlapped I/O, without sharing. Reads never
// wait for the device; writes wait for their completion, bounded by the write time-outs.
#include "link/serial_port.h"

#include <windows.h>

#include <cstdio>
#include <ctime>

struct CSerialPort::Impl {
  HANDLE m_hComm = INVALID_HANDLE_VALUE;
  OVERLAPPED m_writeOverlapped = {};
  OVERLAPPED m_readOverlapped = {};
};

namespace {

// Configures 8-N-1 at `baud` (all other line settings as the port has them) and time-outs that
// make reads return at once and give a write of n bytes 100 + 5 n ms.
bool Configure(HANDLE comm, unsigned baud) {
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  ::GetCommState(comm, &dcb);
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  if (!::SetCommState(comm, &dcb)) return false;

  COMMTIMEOUTS timeouts;
  ZeroMemory(&timeouts, sizeof timeouts);
  ::GetCommTimeouts(comm, &timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 5;
  timeouts.WriteTotalTimeoutConstant = 100;
  return ::SetCommTimeouts(comm, &timeouts) != 0;
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
  if (p.m_hComm == INVALID_HANDLE_VALUE) return 0;
  if (!Configure(p.m_hComm, baud)) {
    ::CloseHandle(p.m_hComm);
    p.m_hComm = INVALID_HANDLE_VALUE;
    return 0;
  }
  // A failed event leaves the port held; Close (or the destructor) releases what exists.
  p.m_readOverlapped.Offset = p.m_readOverlapped.OffsetHigh = 0;
  p.m_readOverlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!p.m_readOverlapped.hEvent) return 0;
  p.m_writeOverlapped.Offset = p.m_writeOverlapped.OffsetHigh = 0;
  p.m_writeOverlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!p.m_writeOverlapped.hEvent) return 0;
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
  if (p.m_hComm == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  if (::WriteFile(p.m_hComm, data, length, &written, &p.m_writeOverlapped)) return 1;
  if (::GetLastError() != ERROR_IO_PENDING) {
    ClearError(p.m_hComm);
    return 0;
  }
  // Once started, the write counts as written even if its completion fails or is cut short.
  for (;;) {
    if (::GetOverlappedResult(p.m_hComm, &p.m_writeOverlapped, &written, TRUE)) return 1;
    if (::GetLastError() != ERROR_IO_INCOMPLETE) {
      ClearError(p.m_hComm);
      return 1;
    }
  }
}

unsigned CSerialPort::Read(unsigned char* buffer, unsigned max) {
  Impl& p = *m_impl;
  if (p.m_hComm == INVALID_HANDLE_VALUE) return 0;
  DWORD errors = 0;
  COMSTAT status;
  ZeroMemory(&status, sizeof status);
  ::ClearCommError(p.m_hComm, &errors, &status);
  const DWORD n = status.cbInQue < max ? status.cbInQue : max;
  if (n == 0) return 0;
  DWORD got = 0;
  if (::ReadFile(p.m_hComm, buffer, n, &got, &p.m_readOverlapped)) return got;
  if (::GetLastError() != ERROR_IO_PENDING) {
    ClearError(p.m_hComm);
    return 0;
  }
  for (;;) {
    if (::GetOverlappedResult(p.m_hComm, &p.m_readOverlapped, &got, TRUE)) return got;
    if (::GetLastError() != ERROR_IO_INCOMPLETE) {
      ClearError(p.m_hComm);
      return got;
    }
  }
}

int CSerialPort::ReadByte(unsigned char* out, int timeoutSeconds) {
  const long long start = static_cast<long long>(std::time(nullptr));
  *out = 0;
  if (m_impl->m_hComm == INVALID_HANDLE_VALUE) return 0;
  unsigned char chunk[10];
  unsigned got = Read(chunk, sizeof chunk);
  while (got == 0) {
    ::Sleep(0);
    if (static_cast<long long>(std::time(nullptr)) - start > timeoutSeconds) return 0;
    got = Read(chunk, sizeof chunk);
  }
  *out = chunk[got - 1];
  return 1;
}
