// The portable part of CSerialPort: ReadByte over Read and the platform's wait, and the words
// for the last failure.
#include "link/serial_port.h"

int CSerialPort::ReadByte(unsigned char* out, int timeoutSeconds) {
  // Whole calendar seconds: a limit of T ends after more than T and at most T + 1 seconds.
  const int64_t start = CalendarSeconds();
  *out = 0;
  if (!IsOpen()) {
    SetError(kNone, 0);
    return 0;
  }
  // Up to ten queued bytes are taken at once and only the last one counts: the device's
  // answer is the newest byte, whatever came before it in the same chunk.
  unsigned char chunk[10];
  unsigned got = Read(chunk, sizeof chunk);
  while (got == 0) {
    WaitForInput();
    // A line that has hung up brings nothing more: no use waiting out the time-out.
    if (m_error == kHungUp || CalendarSeconds() - start > timeoutSeconds) return 0;
    got = Read(chunk, sizeof chunk);
  }
  *out = chunk[got - 1];
  return 1;
}

const char* CSerialPort::ErrorName(Error error) {
  switch (error) {
    case kNone: return "no error";
    case kAbsent: return "absent";
    case kBusy: return "busy";
    case kPermissionDenied: return "permission denied";
    case kNotATerminal: return "not a terminal";
    case kSettingsRefused: return "settings refused";
    case kHungUp: return "hung up";
    case kOther: break;
  }
  return "other";
}

std::string CSerialPort::LastErrorText() const {
  std::string os = m_errorCode != 0 ? OsErrorText(m_errorCode) : std::string();
  if (os.empty()) return ErrorName(m_error);
  return os + " (" + ErrorName(m_error) + ")";
}
