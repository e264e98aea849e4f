// The device's side of the wire formats: the frames it sends (the version reply, or any frame
// a test needs), the command frames it collects from the byte stream, the download command and
// the data packets it checks. Pure logic like protocol.h (whose constants, checksum and CRC it
// uses): no I/O, no platform call.
//
// Every call reports its outcome by its result and none throws:
//   BuildFrame               bytes written: the payload's length + kFrameOverhead
//   BuildVersionReply        bytes written: always kVersionReplyLength (9)
//   CommandAssembler::Feed   kIncomplete while no frame has ended; otherwise the verdict on the
//                            frame this byte ended, which Frame() then shows
//   ParseDownload            kOk, or the first thing that is wrong; *out is filled in whenever
//                            the letter and the payload length are right
//   PacketLength             bytes of a packet with that head: 133 (SOH), 1029 (STX), else 0
//   CheckPacket              kOk, or the first thing that is wrong; the fields read from the
//                            packet are filled in whenever the length is right
#pragma once
#include <cstddef>
#include <cstdint>

#include "flash/protocol.h"

namespace proto {

// '$' 'V' 3 major minor sizeCode checksum '?' '?'
constexpr int kVersionReplyLength = 9;
constexpr int kVersionReplyPayload = 3;

// Payload of the download command: address, image length (both little-endian), 0x02.
constexpr int kDownloadPayloadLength = kDownloadCommandLength - kFrameOverhead;

// An SOH packet carries 128 data bytes, an STX packet 1024.
constexpr int kSohBlockSize = 128;
constexpr int kStxBlockSize = kMaxBlockSize;

// The longest command payload the device collects as a frame; the updater's longest is 9, and
// a larger length byte means the device has locked on to something that is not a frame.
constexpr int kMaxCommandPayload = 32;
constexpr int kMaxCommandFrame = kMaxCommandPayload + kFrameOverhead;

// Writes a command frame: '$', letter, payload length, payload, checksum, '?', '?'. Returns its
// length, `length` + kFrameOverhead.
int BuildFrame(uint8_t* out, uint8_t letter, const uint8_t* payload, int length);
// Where the checksum of a frame of `frameLength` bytes stands: just before "??".
constexpr int FrameChecksumAt(int frameLength) { return frameLength - 3; }

// Writes the device's answer to the version query.
int BuildVersionReply(uint8_t* out, uint8_t major, uint8_t minor, uint8_t sizeCode);

// A complete command frame as collected, valid or not.
struct CommandFrame {
  uint8_t letter = 0;
  int payloadLength = 0;
  const uint8_t* payload = nullptr;  // inside the assembler: valid until its next Feed
  uint8_t checksum = 0;              // as sent
  uint8_t expectedChecksum = 0;      // over letter, length and payload
};

enum class FrameVerdict {
  kIncomplete,   // no frame ended with this byte
  kOk,           // closed by "??" with the right checksum
  kNotClosed,    // the two bytes after the checksum are not "??"
  kBadChecksum,  // closed, but the checksum is wrong
  kTooLong,      // the length byte is over kMaxCommandPayload: dropped at that byte
};

// Collects command frames one byte at a time, across reads. Bytes before '$' are skipped (the
// updater's left-overs such as the EOTs after a transfer); a frame ends once its length byte's
// count of bytes has arrived, whatever those bytes are; after every verdict the next byte
// starts afresh. Time is the caller's: it calls Reset when a frame waited too long.
class CommandAssembler {
public:
  FrameVerdict Feed(uint8_t b);
  // The frame the last verdict other than kIncomplete was about; for kTooLong only letter and
  // payloadLength are meaningful.
  const CommandFrame& Frame() const { return m_frame; }
  // Bytes of an unfinished frame held so far (0 between frames).
  int Held() const { return m_held; }
  void Reset() { m_held = 0; }

private:
  uint8_t m_bytes[kMaxCommandFrame] = {};
  int m_held = 0;
  CommandFrame m_frame;
};

struct DownloadCommand {
  uint32_t address = 0;
  uint32_t imageLength = 0;
  uint8_t constant = 0;  // kDownloadConstant in a valid command
};

enum class DownloadVerdict {
  kOk,
  kNotDownload,    // the letter is not 'D'
  kWrongLength,    // the payload length is not 9
  kWrongConstant,  // the last payload byte is not 0x02
};

// Reads a download command from a frame that arrived closed and with the right checksum.
DownloadVerdict ParseDownload(const CommandFrame& frame, DownloadCommand* out);

// The length a packet starting with `head` has on the wire.
int PacketLength(uint8_t head);

enum class PacketVerdict {
  kOk,
  kWrongLength,    // the head is neither SOH nor STX, or the length does not fit the head
  kBadComplement,  // sequence + complement is not 255
  kBadCrc,         // the CRC bytes do not match the data
};

struct PacketCheck {
  PacketVerdict verdict = PacketVerdict::kWrongLength;
  uint8_t sequence = 0;
  uint8_t complement = 0;
  const uint8_t* data = nullptr;  // inside the packet that was checked
  int dataLength = 0;
  uint16_t crcSent = 0;
  uint16_t crcComputed = 0;
};

// Checks one whole packet: head, sequence and complement, data, CRC (high byte first).
PacketCheck CheckPacket(const uint8_t* packet, size_t length);

}  // namespace proto
