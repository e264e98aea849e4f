// The device protocol as pure logic: command frames and their checksum, the scanner that finds
// the version reply in a chunk of input, XMODEM-1K packets with CRC-16, the flash size limits
// and the progress arithmetic. No I/O and no platform call: the loader moves bytes between the
// port and these functions, and the unit tests drive them alone.
#pragma once
#include <cstddef>
#include <cstdint>

namespace proto {

// Command frames: '$', letter, payload length n, payload, checksum, '?', '?'.
constexpr uint8_t kFrameStart = 0x24;  // '$'
constexpr uint8_t kFrameEnd = 0x3F;    // '?', twice
constexpr uint8_t kCmdVersion = 0x56;  // 'V'
constexpr uint8_t kCmdDownload = 0x44; // 'D'
constexpr int kFrameOverhead = 6;
constexpr int kVersionQueryLength = 6;
constexpr int kDownloadCommandLength = 15;
constexpr uint8_t kDownloadConstant = 0x02;

// XMODEM bytes.
constexpr uint8_t kSOH = 0x01;
constexpr uint8_t kSTX = 0x02;
constexpr uint8_t kEOT = 0x04;
constexpr uint8_t kACK = 0x06;
constexpr uint8_t kNAK = 0x15;
constexpr uint8_t kCAN = 0x18;
constexpr uint8_t kCrcMode = 0x43;  // 'C'
constexpr uint8_t kPadByte = 0x1A;  // fills the short last block

constexpr int kMaxBlockSize = 1024;
constexpr int kPacketOverhead = 5;  // head, sequence, complement, CRC high, CRC low
constexpr int kMaxPacketSize = kMaxBlockSize + kPacketOverhead;

// The packet parameters of every update: STX packets of 1024 data bytes, 1029 on the wire.
struct PacketFormat {
  uint8_t head;
  int blockSize;
  int packetSize;
};
constexpr PacketFormat kUpdatePacket = {kSTX, kMaxBlockSize, kMaxPacketSize};

// Flash addresses the download command carries: firmware 2.x and later loads at 4096; without
// such a reply the device is taken to be an older loader that expects 0x1B0000.
constexpr uint32_t kAddressCurrent = 4096;
constexpr uint32_t kAddressLegacy = 0x1B0000;

// Sum modulo 256 of `length` bytes: a frame's checksum covers letter, length and payload.
uint8_t FrameChecksum(const uint8_t* data, size_t length);

// Little-endian 32-bit fields, as the download command carries address and length.
void PutLe32(uint8_t* out, uint32_t value);
uint32_t GetLe32(const uint8_t* in);

// Writes the 6-byte version query (24 56 00 56 3F 3F). Returns its length.
int BuildVersionQuery(uint8_t* out);

// Writes the 15-byte download command: address and image length little-endian, then 0x02.
int BuildDownloadCommand(uint8_t* out, uint32_t address, uint32_t imageLength);

// CRC-16/XMODEM (poly 0x1021, init 0, no reflection, no final xor), a byte at a time from a
// 256-entry table. Pass a previous result as `crc` to continue over more data.
uint16_t Crc16(const uint8_t* data, size_t length, uint16_t crc = 0);

// Builds a data packet in `frame`: head, sequence, 255 - sequence, `length` data bytes from
// offset 3, CRC of the data (high byte first) at packetSize - 2. Returns packetSize.
int BuildPacket(uint8_t* frame, uint8_t head, uint8_t sequence, const uint8_t* data, int length,
                int packetSize);

// Largest image a flash size code allows (1: 4 MiB, 2: 8 MiB, 3: 16 MiB, each less 4096 bytes
// that the device keeps for itself); 0 for an unknown code.
uint32_t FlashSizeLimit(int sizeCode);
// True when an image of `length` bytes fits the flash of `sizeCode`.
bool ImageFits(int sizeCode, uint32_t length);

// The device's answer to the version query.
struct VersionReply {
  uint8_t major;
  uint8_t minor;
  uint8_t sizeCode;
};

// Finds accepted version replies in one chunk of input. Each chunk is scanned on its own: a
// reply counts only when all its bytes arrived in the same chunk. Bytes before '$' are skipped;
// a frame is complete at "??" once its length byte says so, and accepted when its checksum is
// right and its letter is 'V'; 16 bytes without a complete frame are dropped.
class ReplyScanner {
public:
  ReplyScanner(const uint8_t* chunk, size_t length);
  // Advances to the next accepted reply of the chunk; false when the chunk is used up.
  bool Next(VersionReply* reply);

private:
  static constexpr int kCapacity = 16;
  const uint8_t* m_chunk;
  size_t m_length;
  size_t m_pos = 0;
  uint8_t m_area[kCapacity] = {};
  int m_held = 0;
};

// Progress arithmetic of one transfer.
struct TransferPlan {
  uint32_t blocks;  // packets for the whole image, the last one padded
  uint32_t step;    // packets per progress unit: blocks / 100, at least 1
};
TransferPlan PlanTransfer(uint32_t imageLength, int blockSize);
// The progress value to report once `sent` packets have gone out on ACKs, or -1 when none is
// due. With a step of two or more a report goes out whenever sent % step == 1, with the value
// sent / step (it reaches 110 for a 998-block image). Small images (step 1) report the
// percentage after every packet instead, so that their bar moves too.
int ProgressAfter(const TransferPlan& plan, uint32_t sent);

}  // namespace proto
