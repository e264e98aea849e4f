// Opening a candidate port and keeping the port's reason when it does not open.
#include "tools/zarnflash/discovery/port_open.h"

#include "tools/zarnflash/discovery/candidates.h"

int OpenPort(CSerialPort* serial, const std::string& port, unsigned baud, OpenFailure* failure) {
  *failure = OpenFailure();
  if (serial->OpenPath(OpenablePath(port).c_str(), baud)) return 1;
  failure->kind = serial->LastError();
  failure->osError = serial->LastErrorCode();
  failure->text = serial->LastErrorText();
  return 0;
}
