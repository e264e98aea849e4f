// CSerialPort: one serial port held exclusively, 8-N-1 at a chosen speed. Writes wait until
// done (bounded by 100 ms + 5 ms per byte); Read takes only what is already queued and never
// blocks; ReadByte waits for input up to a time-out in whole seconds.
//
// Every call reports its outcome by its result and none throws:
//   Open      1 opened and configured, 0 failed (absent, held by someone else, refused settings)
//   Close     nothing on a closed port; may be called any number of times
//   Write     1 written (or at least started), 0 closed port or the write could not start
//   Read      bytes placed in the buffer, 0 when nothing was queued or the port is closed
//   ReadByte  1 a byte is in *out, 0 time-out or closed port (*out is then 0)
//
// The platform state (handle and overlapped records on Windows, a descriptor on POSIX) lives
// in a private record of serial_port_win32.cpp / serial_port_posix.cpp.
#pragma once
#include <memory>
#include "framework/wnd.h"
#include "link/serial_line.h"

class CSerialPort : public CWnd, public SerialLine {
public:
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

  struct Impl;

private:
  std::unique_ptr<Impl> m_impl;
};
