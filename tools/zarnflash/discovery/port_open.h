// Opening a candidate port as the loader does, keeping why it failed. OpenPort returns 1 with
// the port open, or 0 with *failure filled from the port's own account; it never throws.
#pragma once
#include <string>

#include "link/serial_port.h"

struct OpenFailure {
  CSerialPort::Error kind = CSerialPort::kNone;  // CSerialPort::ErrorName says it in words
  int osError = 0;   // errno or GetLastError, 0 where the OS gave none
  std::string text;  // the OS's words and the kind, "permission denied (permission denied)"
};

// Opens `port` ("/dev/ttyACM0", a link to a pty, "COM7") with CSerialPort at `baud`.
int OpenPort(CSerialPort* serial, const std::string& port, unsigned baud, OpenFailure* failure);
