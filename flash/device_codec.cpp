// The device's side of the wire formats: frames and the version reply, the command frame
// assembler, the download command and data packet checks.
#include "flash/device_codec.h"

namespace proto {

int BuildFrame(uint8_t* out, uint8_t letter, const uint8_t* payload, int length) {
  out[0] = kFrameStart;
  out[1] = letter;
  out[2] = static_cast<uint8_t>(length);
  for (int i = 0; i < length; ++i) out[3 + i] = payload[i];
  out[3 + length] = FrameChecksum(out + 1, static_cast<size_t>(length) + 2);
  out[4 + length] = kFrameEnd;
  out[5 + length] = kFrameEnd;
  return length + kFrameOverhead;
}

int BuildVersionReply(uint8_t* out, uint8_t major, uint8_t minor, uint8_t sizeCode) {
  const uint8_t payload[kVersionReplyPayload] = {major, minor, sizeCode};
  return BuildFrame(out, kCmdVersion, payload, kVersionReplyPayload);
}

FrameVerdict CommandAssembler::Feed(uint8_t b) {
  if (m_held == 0 && b != kFrameStart) return FrameVerdict::kIncomplete;
  m_bytes[m_held++] = b;
  if (m_held < 3) return FrameVerdict::kIncomplete;
  const int n = m_bytes[2];
  if (m_held == 3 && n > kMaxCommandPayload) {
    m_frame = CommandFrame();
    m_frame.letter = m_bytes[1];
    m_frame.payloadLength = n;
    m_held = 0;
    return FrameVerdict::kTooLong;
  }
  if (m_held < n + kFrameOverhead) return FrameVerdict::kIncomplete;
  m_held = 0;
  m_frame.letter = m_bytes[1];
  m_frame.payloadLength = n;
  m_frame.payload = m_bytes + 3;
  m_frame.checksum = m_bytes[3 + n];
  m_frame.expectedChecksum = FrameChecksum(m_bytes + 1, static_cast<size_t>(n) + 2);
  if (m_bytes[4 + n] != kFrameEnd || m_bytes[5 + n] != kFrameEnd) return FrameVerdict::kNotClosed;
  if (m_frame.checksum != m_frame.expectedChecksum) return FrameVerdict::kBadChecksum;
  return FrameVerdict::kOk;
}

DownloadVerdict ParseDownload(const CommandFrame& frame, DownloadCommand* out) {
  if (frame.letter != kCmdDownload) return DownloadVerdict::kNotDownload;
  if (frame.payloadLength != kDownloadPayloadLength) return DownloadVerdict::kWrongLength;
  out->address = GetLe32(frame.payload);
  out->imageLength = GetLe32(frame.payload + 4);
  out->constant = frame.payload[8];
  return out->constant == kDownloadConstant ? DownloadVerdict::kOk
                                            : DownloadVerdict::kWrongConstant;
}

int PacketLength(uint8_t head) {
  switch (head) {
    case kSOH: return kSohBlockSize + kPacketOverhead;
    case kSTX: return kStxBlockSize + kPacketOverhead;
    default: return 0;
  }
}

PacketCheck CheckPacket(const uint8_t* packet, size_t length) {
  PacketCheck c;
  if (length == 0 || static_cast<size_t>(PacketLength(packet[0])) != length) return c;
  c.sequence = packet[1];
  c.complement = packet[2];
  c.data = packet + 3;
  c.dataLength = static_cast<int>(length) - kPacketOverhead;
  c.crcSent = static_cast<uint16_t>(packet[length - 2] << 8 | packet[length - 1]);
  c.crcComputed = Crc16(c.data, static_cast<size_t>(c.dataLength));
  if (static_cast<uint8_t>(c.sequence + c.complement) != 0xFF)
    c.verdict = PacketVerdict::kBadComplement;
  else if (c.crcSent != c.crcComputed)
    c.verdict = PacketVerdict::kBadCrc;
  else
    c.verdict = PacketVerdict::kOk;
  return c;
}

}  // namespace proto
