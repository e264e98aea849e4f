// CSerialPort: one serial port held exclusively, 8-N-1 at a chosen speed. Writes wait until
// done (bounded by 100 ms + 5 ms per byte); Read takes only what is already queued and never
// blocks; ReadByte waits for input up to a time-out in whole seconds.
//
// Every call reports its outcome by its result and none throws:
//   Open      1 opened and configured, 0 failed (absent, held by someone else, refused settings)
//   Close     nothing on a closed port; may be called any number of times
//   Write     1 written (or at least started), 0 closed port or the write could not start
//   Read      bytes placed in the buffer, 0 when nothing was queued or the port is closed
//   ReadByte  1 a byte is in *out, 0 time-out or closed port (*out is then 0); a line that
//             has hung up (LastError() kHungUp) ends the wait at once
//
// Beside its result, each call of Open, OpenPath, Write, Read and ReadByte leaves why the
// operating system failed it, for tools that tell the user (the loader only stops on a 0):
// LastError() is kNone after a call that met no OS failure (a success, nothing queued, a
// time-out, a closed port), LastErrorCode() the OS's own error number (errno, GetLastError)
// or 0 where the OS gave none, and LastErrorText() both in words. Close leaves them alone.
//   kAbsent            POSIX ENOENT, ENODEV, ENXIO, ENOTDIR at open;
//                      Win32 ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND
//   kBusy              POSIX EBUSY at open (another opener set TIOCEXCL), EWOULDBLOCK from the
//                      exclusive flock; Win32 ERROR_ACCESS_DENIED and ERROR_SHARING_VIOLATION
//                      at open (Windows reports a COM port held by another program so)
//   kPermissionDenied  POSIX EACCES, EPERM at open (Windows has no separate case)
//   kNotATerminal      POSIX ENOTTY, EINVAL from tcgetattr; Win32 a failed GetCommState:
//                      the path opened but is no serial line
//   kSettingsRefused   the line refused 8-N-1 at the speed (POSIX: a speed termios lacks,
//                      EINVAL; Win32 a failed SetCommState or SetCommTimeouts)
//   kHungUp            the line has gone while open (the device unplugged): POSIX EIO, ENXIO
//                      or ENODEV from the queue query, a read or a write;
//                      Win32 ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND, ERROR_GEN_FAILURE,
//                      ERROR_DEVICE_NOT_CONNECTED or ERROR_DEVICE_REMOVED on an open handle
//   kOther             any other OS failure; LastErrorCode() tells which
// A write that counts as written (result 1) still leaves the reason its completion failed.
//
// The platform state (handle and overlapped records on Windows, a descriptor on POSIX) lives
// in a private record of serial_port_win32.cpp / serial_port_posix.cpp.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include "framework/wnd.h"
#include "link/serial_line.h"

class CSerialPort : public CWnd, public SerialLine {
public:
  enum Error {
    kNone,
    kAbsent,
    kBusy,
    kPermissionDenied,
    kNotATerminal,
    kSettingsRefused,
    kHungUp,
    kOther,
  };

  CSerialPort();
  ~CSerialPort() override;

  // Port numbers name COMn: below 10 "COMn:", from 10 upward "\\.\COMn". On POSIX port n is
  // the device /dev/ttyS(n-1), the numbering Wine uses for its COM ports.
  int Open(int port, unsigned baud);
  // POSIX only: open a device by path (a pty of the device simulator, /dev/ttyACM0, ...).
  int OpenPath(const char* path, unsigned baud);
  void Close() override;
  int IsOpen() const override;

  int Write(const unsigned char* data, unsigned length) override;
  unsigned Read(unsigned char* buffer, unsigned max) override;
  int ReadByte(unsigned char* out, int timeoutSeconds) override;

  Error LastError() const { return m_error; }
  int LastErrorCode() const { return m_errorCode; }
  // "no such file or directory (absent)": the OS's words, then the kind.
  std::string LastErrorText() const;
  // "absent", "busy", ...: the kind alone.
  static const char* ErrorName(Error error);

  struct Impl;

private:
  void SetError(Error error, int code) {
    m_error = error;
    m_errorCode = code;
  }
  // The platform's part of ReadByte: a short wait for input, and the calendar clock.
  void WaitForInput();
  static int64_t CalendarSeconds();
  // The OS's description of its error number, or empty when it has none.
  static std::string OsErrorText(int code);

  std::unique_ptr<Impl> m_impl;
  Error m_error = kNone;
  int m_errorCode = 0;
};
