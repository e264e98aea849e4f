// A serial line that watches what the loader sends and hears: it passes every call on to the
// port and tells its listener about frames and answer bytes (for the --verbose trace), about
// packets the device acknowledged (for honest progress), a restart by the device, and a line
// that has hung up (the device unplugged). It never changes what passes.
#pragma once
#include <cstdint>
#include <string>

#include "flash/protocol.h"
#include "link/serial_port.h"

class LineListener {
public:
  virtual void OnTrace(const std::string& text) = 0;
  // `packets` data packets of the current pass have been acknowledged.
  virtual void OnAcknowledged(uint32_t packets) = 0;
  // The device asked for the image from its start again after packets had gone out.
  virtual void OnRestart() = 0;
  // The line has hung up: nothing more will come.
  virtual void OnHangUp() = 0;

protected:
  ~LineListener() {}
};

class WatchedLine : public SerialLine {
public:
  WatchedLine(CSerialPort* port, int packetSize, LineListener* listener, bool trace);

  int IsOpen() const override { return m_port->IsOpen(); }
  void Close() override { m_port->Close(); }
  int Write(const unsigned char* data, unsigned length) override;
  unsigned Read(unsigned char* buffer, unsigned max) override;
  int ReadByte(unsigned char* out, int timeoutSeconds) override;

  bool HungUp() const { return m_hungUp; }
  // The last answer byte read during the transfer.
  uint8_t LastAnswer() const { return m_lastAnswer; }
  // The last version reply seen in the handshake's reads (the loader's own scanner rule);
  // false when none came whole.
  bool LastReply(proto::VersionReply* reply) const {
    if (m_haveReply) *reply = m_reply;
    return m_haveReply;
  }

private:
  void Trace(const std::string& text) const;
  void CheckHangUp();

  CSerialPort* m_port;
  int m_packetSize;
  LineListener* m_listener;
  bool m_trace;
  bool m_hungUp = false;
  uint8_t m_lastAnswer = 0;
  uint32_t m_packetsOut = 0;  // new packets written since the transfer (re)started
  bool m_haveReply = false;
  proto::VersionReply m_reply = {};
};

// "24 56 00 56 3F 3F": bytes as hex pairs.
std::string HexBytes(const unsigned char* data, unsigned length);
// "ACK", "NAK", "'C'", "CAN", "0x55": an answer byte by name.
std::string AnswerName(uint8_t answer);
