// A serial line that reports what passes, without changing it.
#include "tools/zarnflash/watched_line.h"

#include <cstdio>

#include "flash/protocol.h"

std::string HexBytes(const unsigned char* data, unsigned length) {
  std::string out;
  char pair[4];
  for (unsigned i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", data[i]);
    out += pair;
  }
  return out;
}

std::string AnswerName(uint8_t answer) {
  switch (answer) {
    case proto::kACK: return "ACK";
    case proto::kNAK: return "NAK";
    case proto::kCAN: return "CAN";
    case proto::kCrcMode: return "'C'";
    case proto::kEOT: return "EOT";
    default: {
      char text[8];
      std::snprintf(text, sizeof text, "0x%02X", answer);
      return text;
    }
  }
}

WatchedLine::WatchedLine(CSerialPort* port, int packetSize, LineListener* listener, bool trace)
    : m_port(port), m_packetSize(packetSize), m_listener(listener), m_trace(trace) {}

void WatchedLine::Trace(const std::string& text) const {
  if (m_trace) m_listener->OnTrace(text);
}

int WatchedLine::Write(const unsigned char* data, unsigned length) {
  const int ok = m_port->Write(data, length);
  const char* result = ok ? "" : " (write failed)";
  if (static_cast<int>(length) == m_packetSize && length > 3) {
    // Packets are named, never dumped: their head, sequence and CRC say enough.
    const bool resend = m_lastAnswer == proto::kNAK;
    if (ok && !resend) ++m_packetsOut;
    char text[96];
    std::snprintf(text, sizeof text, "-> %spacket %u: head %02X, sequence %u, CRC %02X%02X%s",
                  resend ? "again " : "", m_packetsOut, data[0], data[1], data[length - 2],
                  data[length - 1], result);
    Trace(text);
  } else if (length == 1 && data[0] == proto::kEOT) {
    Trace(std::string("-> EOT") + result);
  } else {
    Trace("-> " + HexBytes(data, length) + result);
  }
  return ok;
}


void WatchedLine::CheckHangUp() {
  if (m_hungUp || m_port->LastError() != CSerialPort::kHungUp) return;
  m_hungUp = true;
  Trace("line hung up");
  m_listener->OnHangUp();
}

unsigned WatchedLine::Read(unsigned char* buffer, unsigned max) {
  const unsigned got = m_port->Read(buffer, max);
  if (!got) {
    CheckHangUp();
    return 0;
  }
  Trace("<- " + HexBytes(buffer, got));
  proto::ReplyScanner scanner(buffer, got);
  proto::VersionReply reply;
  while (scanner.Next(&reply)) {
    m_reply = reply;
    m_haveReply = true;
  }
  return got;
}

int WatchedLine::ReadByte(unsigned char* out, int timeoutSeconds) {
  const int got = m_port->ReadByte(out, timeoutSeconds);
  if (!got) {
    CheckHangUp();
    return 0;
  }
  m_lastAnswer = *out;
  Trace("<- " + AnswerName(*out));
  if (*out == proto::kACK && m_packetsOut) m_listener->OnAcknowledged(m_packetsOut);
  if (*out == proto::kCrcMode && m_packetsOut) {
    m_packetsOut = 0;
    m_listener->OnRestart();
  }
  return 1;
}
