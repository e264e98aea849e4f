// Fuzzes the device side: the command frame assembler, the download command and packet checks
// on arbitrary bytes, then devsim's Session fed raw bytes, frames and packets on a fake clock.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "flash/device_codec.h"
#include "fuzz/fuzz_input.h"
#include "tools/devsim/session.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "device: %s\n", what);
  std::abort();
}


void CheckAssembler(const uint8_t* data, size_t size) {
  proto::CommandAssembler frames;
  for (size_t i = 0; i < size; ++i) {
    const proto::FrameVerdict verdict = frames.Feed(data[i]);
    if (frames.Held() < 0 || frames.Held() >= proto::kMaxCommandFrame) Fail("held out of range");
    const proto::CommandFrame& f = frames.Frame();
    switch (verdict) {
      case proto::FrameVerdict::kIncomplete:
        continue;
      case proto::FrameVerdict::kTooLong:
        if (f.payloadLength <= proto::kMaxCommandPayload) Fail("too long, but not over the limit");
        break;
      case proto::FrameVerdict::kOk:
      case proto::FrameVerdict::kNotClosed:
      case proto::FrameVerdict::kBadChecksum: {
        // The frame is the input's bytes ending here.
        const size_t length = size_t(f.payloadLength) + proto::kFrameOverhead;
        if (f.payloadLength > proto::kMaxCommandPayload || length > i + 1) Fail("frame length");
        const uint8_t* raw = data + i + 1 - length;
        const bool closed = raw[length - 1] == proto::kFrameEnd && raw[length - 2] == proto::kFrameEnd;
        const uint8_t sum = proto::FrameChecksum(raw + 1, length - 4);
        if (raw[0] != proto::kFrameStart || raw[1] != f.letter || f.checksum != raw[length - 3] ||
            f.expectedChecksum != sum)
          Fail("frame fields are not the input's bytes");
        if ((verdict == proto::FrameVerdict::kNotClosed) != !closed) Fail("closing verdict");
        if (verdict == proto::FrameVerdict::kBadChecksum && f.checksum == sum) Fail("checksum verdict");
        if (verdict == proto::FrameVerdict::kOk && f.checksum != sum) Fail("accepted a bad checksum");
        if (verdict != proto::FrameVerdict::kOk) break;
        proto::DownloadCommand command;
        switch (proto::ParseDownload(f, &command)) {
          case proto::DownloadVerdict::kNotDownload:
            if (f.letter == proto::kCmdDownload) Fail("a 'D' frame is no download command");
            break;
          case proto::DownloadVerdict::kWrongLength:
            if (f.letter != proto::kCmdDownload || f.payloadLength == proto::kDownloadPayloadLength)
              Fail("wrong length verdict");
            break;
          case proto::DownloadVerdict::kOk:
          case proto::DownloadVerdict::kWrongConstant: {
            if (f.letter != proto::kCmdDownload || f.payloadLength != proto::kDownloadPayloadLength)
              Fail("parsed a frame that is no download command");
            uint8_t rebuilt[proto::kDownloadCommandLength];
            proto::BuildDownloadCommand(rebuilt, command.address, command.imageLength);
            for (int k = 3; k < 11; ++k)
              if (rebuilt[k] != raw[k]) Fail("download fields are not the frame's");
            if ((command.constant == proto::kDownloadConstant) !=
                (proto::ParseDownload(f, &command) == proto::DownloadVerdict::kOk))
              Fail("constant verdict");
            break;
          }
          default:
            Fail("undocumented download verdict");
        }
        break;
      }
      default:
        Fail("undocumented frame verdict");
    }
    if (frames.Held() != 0) Fail("a verdict left bytes held");
  }
}

void CheckPacketAt(const uint8_t* data, size_t length) {
  const proto::PacketCheck c = proto::CheckPacket(data, length);
  const size_t expected = length ? size_t(proto::PacketLength(data[0])) : 0;
  switch (c.verdict) {
    case proto::PacketVerdict::kWrongLength:
      if (expected != 0 && expected == length) Fail("right length called wrong");
      return;
    case proto::PacketVerdict::kBadComplement:
    case proto::PacketVerdict::kBadCrc:
    case proto::PacketVerdict::kOk:
      break;
    default:
      Fail("undocumented packet verdict");
  }
  if (expected != length || c.data != data + 3 || size_t(c.dataLength) + 5 != length)
    Fail("packet fields");
  const bool complement = uint8_t(c.sequence + c.complement) == 0xFF;
  if ((c.verdict == proto::PacketVerdict::kBadComplement) == complement) Fail("complement verdict");
  if (c.verdict == proto::PacketVerdict::kOk) {
    std::vector<uint8_t> rebuilt(length);
    proto::BuildPacket(rebuilt.data(), data[0], c.sequence, c.data, c.dataLength, int(length));
    for (size_t k = 0; k < length; ++k)
      if (rebuilt[k] != data[k]) Fail("accepted a packet that does not rebuild to its bytes");
  }
}

void CheckPackets(const uint8_t* data, size_t size) {
  const size_t lengths[] = {0, 1, 5, 133, 1029};
  for (size_t n : lengths) {
    if (n > size) break;
    std::vector<uint8_t> exact(data, data + n);  // its own allocation: over-reads are caught
    CheckPacketAt(exact.data(), n);
  }
  // Random bytes rarely carry a right CRC: packets built from the input with their CRC right,
  // then the complement taken from the input and, now and then, one data byte changed.
  if (size < 4) return;
  const bool small = data[0] & 1;
  const uint8_t head = small ? proto::kSOH : proto::kSTX;
  const size_t block = small ? proto::kSohBlockSize : proto::kStxBlockSize;
  std::vector<uint8_t> payload(block, proto::kPadByte);
  for (size_t i = 0; i + 4 < size && i < block; ++i) payload[i] = data[4 + i];
  std::vector<uint8_t> packet(block + proto::kPacketOverhead);
  proto::BuildPacket(packet.data(), head, data[1], payload.data(), int(block), int(packet.size()));
  packet[2] = data[2];
  const bool damaged = data[0] & 2;
  if (damaged) packet[3 + data[3] % block] ^= uint8_t(1 + (data[0] >> 2));
  CheckPacketAt(packet.data(), packet.size());
  const proto::PacketVerdict verdict = proto::CheckPacket(packet.data(), packet.size()).verdict;
  const bool complement = uint8_t(data[1] + data[2]) == 0xFF;
  const proto::PacketVerdict want = !complement ? proto::PacketVerdict::kBadComplement
                                    : damaged   ? proto::PacketVerdict::kBadCrc
                                                : proto::PacketVerdict::kOk;
  if (verdict != want) Fail("a built packet got the wrong verdict");
}

using devsim::Action;
using devsim::TimePoint;

// Feeds a session pieces of input on a fake clock and checks every action it returns.
class SessionRun {
public:
  explicit SessionRun(fuzz::Input* in) : m_in(in) {
    m_opt.fault = static_cast<devsim::Fault>(in->Byte() % (int(devsim::Fault::kHangUp) + 1));
    m_opt.faultPacket = 1 + in->Byte() % 4;
    m_opt.faultCount = 1 + in->Byte() % 12;
    m_opt.faultUpdate = in->Byte() % 3;
    m_opt.sizeCode = in->Byte() % 4;
    const uint8_t imageBlocks = in->Byte();
    if (imageBlocks & 0x80) {
      m_image.assign(size_t(imageBlocks & 0x07) * 700 + (imageBlocks >> 3 & 0x0F), 0);
      for (size_t i = 0; i < m_image.size(); ++i) m_image[i] = uint8_t(i * 7 + imageBlocks);
    }
  }

  void Go() {
    devsim::Session session(m_opt, m_image.empty() ? nullptr : &m_image);
    while (m_in->More()) {
      std::vector<uint8_t> bytes;
      const uint8_t op = m_in->Byte();
      switch (op % 6) {
        case 0:
          bytes = m_in->Bytes(m_in->Byte());
          break;
        case 1: {  // a download command
          bytes.resize(proto::kDownloadCommandLength);
          const std::vector<uint8_t> f = m_in->Bytes(3);
          const uint32_t length = f.size() == 3 ? uint32_t(f[0]) << 4 | f[1] << 12 : 0;
          proto::BuildDownloadCommand(bytes.data(), (op & 0x40) ? proto::kAddressLegacy
                                                                : proto::kAddressCurrent,
                                      (op & 0x80) ? uint32_t(m_image.size()) : length);
          break;
        }
        case 2:  // a version query
          bytes.resize(proto::kVersionQueryLength);
          proto::BuildVersionQuery(bytes.data());
          break;
        case 3: {  // a data packet of this image, or of the input
          const bool small = op & 0x08;
          const int block = small ? proto::kSohBlockSize : proto::kStxBlockSize;
          const uint8_t sequence = m_in->Byte();
          std::vector<uint8_t> data(size_t(block), proto::kPadByte);
          const size_t from = size_t(sequence ? sequence - 1 : 0) * size_t(block);
          for (size_t i = 0; i < size_t(block) && from + i < m_image.size(); ++i)
            data[i] = m_image[from + i];
          if (op & 0x10) data[m_in->Byte() % block] ^= 0xFF;
          bytes.resize(size_t(block) + proto::kPacketOverhead);
          proto::BuildPacket(bytes.data(), small ? proto::kSOH : proto::kSTX, sequence,
                             data.data(), block, int(bytes.size()));
          if (op & 0x20) bytes.resize(m_in->Byte() % bytes.size());  // cut short
          break;
        }
        case 4:  // EOTs
          bytes.assign(1 + op % 4, proto::kEOT);
          break;
        default: {  // time passes
          const int ms = m_in->Byte() * 25;
          m_now += std::chrono::milliseconds(ms);
          Tick(&session);
          continue;
        }
      }
      Feed(&session, bytes);
      m_now += std::chrono::milliseconds(op % 3);
    }
    // With no more input, every time-out runs out and the session settles.
    for (int i = 0; i < 64; ++i) {
      TimePoint when;
      if (!session.NextDeadline(&when)) break;
      if (i == 63) Fail("the time-outs never settle");
      if (when > m_now) m_now = when;
      Tick(&session);
      TimePoint after;
      if (session.NextDeadline(&after) && after <= m_now) Fail("a deadline that has passed stays");
    }
    session.Close();
    CheckResults(session);
  }

private:
  void Feed(devsim::Session* session, const std::vector<uint8_t>& bytes) {
    std::vector<Action> out;
    const bool gone = session->HungUp();
    session->Feed(bytes.data(), bytes.size(), m_now, &out);
    if (gone && !out.empty()) Fail("a hung-up device answered");
    // A byte ends at most one frame or packet: a flush, a reply in two writes and a pause.
    if (out.size() > 4 * bytes.size()) Fail("more actions than the bytes can ask for");
    CheckActions(*session, out);
  }

  void Tick(devsim::Session* session) {
    std::vector<Action> out;
    session->Tick(m_now, &out);
    if (out.size() > 2) Fail("a tick did more than one time-out's work");
    CheckActions(*session, out);
  }

  void CheckActions(const devsim::Session& session, const std::vector<Action>& out) {
    for (const Action& a : out) {
      switch (a.kind) {
        case Action::kWrite:
          if (a.bytes.empty()) Fail("an empty write");
          if (a.bytes.size() == 1) {
            const uint8_t b = a.bytes[0];
            if (b != proto::kACK && b != proto::kNAK && b != proto::kCAN && b != proto::kCrcMode &&
                !(b == 0x55 && m_opt.fault == devsim::Fault::kGarbage))
              Fail("an answer byte the device never sends");
          } else if (a.bytes.size() > size_t(proto::kVersionReplyLength) + 5) {
            Fail("a write longer than a noisy version reply");
          }
          break;
        case Action::kPause:
          if (m_opt.fault != devsim::Fault::kSplitReply || a.pauseMs <= 0) Fail("a pause");
          break;
        case Action::kFlushInput:
          break;
        case Action::kHangUp:
          if (m_opt.fault != devsim::Fault::kHangUp || !session.HungUp()) Fail("a hang-up");
          break;
        default:
          Fail("an undocumented action");
      }
    }
  }

  void CheckResults(const devsim::Session& session) {
    int number = 0;
    for (const devsim::Result& r : session.Finished()) {
      if (r.update != ++number || !r.ended) Fail("updates out of order or not ended");
      if (r.completed && !r.download) Fail("completed without a download command");
      if (r.bytes > r.length || r.bytes > r.data.size()) Fail("more bytes than announced");
      if (r.data.size() > size_t(r.packets) * proto::kStxBlockSize ||
          r.data.size() < size_t(r.packets) * proto::kSohBlockSize)
        Fail("data does not fit the packets");
      if (r.verified && (!r.verifyRequested || !r.completed || r.length != m_image.size()))
        Fail("verified what it could not verify");
      if (r.verified && !r.note.empty()) Fail("verified with a note");
      if (r.verifyRequested && !r.verified && r.note.empty()) Fail("unverified without a note");
      if (r.faultFired && (r.fault != m_opt.fault || r.fault == devsim::Fault::kNone))
        Fail("a fault fired that was not armed");
      if (r.completed && r.eots == 0) Fail("completed without an EOT");
      for (const std::string& e : r.errors)
        if (e.empty()) Fail("an empty error");
      if (devsim::Summary(r).find("devsim: update=") != 0) Fail("summary line");
    }
  }

  fuzz::Input* m_in;
  devsim::Options m_opt;
  std::vector<uint8_t> m_image;
  TimePoint m_now{};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckAssembler(data, size);
  CheckPackets(data, size);
  fuzz::Input in{data, size};
  SessionRun(&in).Go();
  return 0;
}
