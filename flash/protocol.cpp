// Pure protocol logic: frames, reply scanning, CRC-16 and packets, limits and progress.
#include "flash/protocol.h"

#include <cstring>

namespace proto {
namespace {

// table[i] is the CRC of the single byte i, polynomial 0x1021.
struct CrcTable {
  uint16_t entry[256];
  CrcTable() {
    for (int i = 0; i < 256; ++i) {
      uint16_t crc = static_cast<uint16_t>(i << 8);
      for (int bit = 0; bit < 8; ++bit)
        crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
      entry[i] = crc;
    }
  }
};
const CrcTable kCrcTable;

}  // namespace

void PutLe32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t GetLe32(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
         static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

uint8_t FrameChecksum(const uint8_t* data, size_t length) {
  uint8_t sum = 0;
  for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  return sum;
}

int BuildVersionQuery(uint8_t* out) {
  out[0] = kFrameStart;
  out[1] = kCmdVersion;
  out[2] = 0;
  out[3] = FrameChecksum(out + 1, 2);
  out[4] = kFrameEnd;
  out[5] = kFrameEnd;
  return kVersionQueryLength;
}

int BuildDownloadCommand(uint8_t* out, uint32_t address, uint32_t imageLength) {
  out[0] = kFrameStart;
  out[1] = kCmdDownload;
  out[2] = 9;
  PutLe32(out + 3, address);
  PutLe32(out + 7, imageLength);
  out[11] = kDownloadConstant;
  out[12] = FrameChecksum(out + 1, 11);
  out[13] = kFrameEnd;
  out[14] = kFrameEnd;
  return kDownloadCommandLength;
}

uint16_t Crc16(const uint8_t* data, size_t length, uint16_t crc) {
  for (size_t i = 0; i < length; ++i)
    crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable.entry[((crc >> 8) ^ data[i]) & 0xFF]);
  return crc;
}

int BuildPacket(uint8_t* frame, uint8_t head, uint8_t sequence, const uint8_t* data, int length,
                int packetSize) {
  std::memcpy(frame + 3, data, static_cast<size_t>(length));
  const uint16_t crc = Crc16(data, static_cast<size_t>(length));
  frame[0] = head;
  frame[1] = sequence;
  frame[2] = static_cast<uint8_t>(255 - sequence);
  frame[packetSize - 2] = static_cast<uint8_t>(crc >> 8);
  frame[packetSize - 1] = static_cast<uint8_t>(crc);
  return packetSize;
}

uint32_t FlashSizeLimit(int sizeCode) {
  switch (sizeCode) {
    case 1: return 0x3FF000;
    case 2: return 0x7FF000;
    case 3: return 0xFFF000;
    default: return 0;
  }
}

bool ImageFits(int sizeCode, uint32_t length) {
  const uint32_t limit = FlashSizeLimit(sizeCode);
  return limit != 0 && length <= limit;
}

ReplyScanner::ReplyScanner(const uint8_t* chunk, size_t length) : m_chunk(chunk), m_length(length) {}

bool ReplyScanner::Next(VersionReply* reply) {
  while (m_pos < m_length) {
    const uint8_t b = m_chunk[m_pos++];
    if (m_held == 0 && b != kFrameStart) continue;
    m_area[m_held++] = b;
    if (m_held == kCapacity) {
      m_held = 0;
      continue;
    }
    const bool complete = b == kFrameEnd && m_held >= kFrameOverhead &&
                          m_area[m_held - 2] == kFrameEnd && m_held == m_area[2] + kFrameOverhead;
    if (!complete) continue;
    const int k = m_held;
    m_held = 0;
    if (m_area[k - 3] != FrameChecksum(m_area + 1, static_cast<size_t>(k - 4)) ||
        m_area[1] != kCmdVersion)
      continue;
    // The fields stand at offsets 3 to 5 whatever the length byte says.
    reply->major = m_area[3];
    reply->minor = m_area[4];
    reply->sizeCode = m_area[5];
    return true;
  }
  return false;
}

TransferPlan PlanTransfer(uint32_t imageLength, int blockSize) {
  TransferPlan plan;
  const uint32_t size = static_cast<uint32_t>(blockSize);
  plan.blocks = imageLength / size + (imageLength % size ? 1 : 0);
  plan.step = plan.blocks / 100;
  if (plan.step == 0) plan.step = 1;
  return plan;
}

int ProgressAfter(const TransferPlan& plan, uint32_t sent) {
  if (plan.step == 1) return plan.blocks ? static_cast<int>(uint64_t(sent) * 100 / plan.blocks) : -1;
  if (sent % plan.step != 1) return -1;
  return static_cast<int>(sent / plan.step);
}

}  // namespace proto
