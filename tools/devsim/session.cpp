// The device's protocol logic: frames, version reply, download command, XMODEM-1K receiver.
#include "tools/devsim/session.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include "flash/protocol.h"

namespace devsim {
namespace {

using Ms = std::chrono::milliseconds;

// How long a partial command frame may wait for its next byte before it is dropped.
constexpr Ms kFrameByteTimeout{500};
// 'C' is repeated this often until the first packet starts, this many times in all.
constexpr Ms kStartInterval{1000};
constexpr int kMaxStartRequests = 5;
// A packet whose next byte is this late is taken as lost and NAKed.
constexpr Ms kPacketByteTimeout{1000};
// The rest of a bad packet is discarded until the line has been quiet this long. The updater
// writes a packet in one go, so its bytes follow one another closely.
constexpr Ms kDrainQuiet{50};
// After the first EOT the updater sends three more at once; they are counted until the line
// has been quiet this long, then the update is closed.
constexpr Ms kEndingQuiet{100};
// The second half of a split version reply follows this much later, so that it arrives as a
// read of its own.
constexpr int kSplitPauseMs = 50;
// Longest command payload taken as a frame; the updater's longest is 9.
constexpr int kMaxPayload = 32;
// Answer for Fault::kGarbage.
constexpr uint8_t kGarbageByte = 0x55;

const char* const kFaultNames[] = {
    "none",          "silent", "no-version-reply", "split-reply", "noise-reply",
    "bad-reply-checksum", "nak-download", "nak-packet", "cancel", "garbage",
    "stop",          "restart", "hangup",
};
constexpr int kFaultCount = sizeof(kFaultNames) / sizeof(kFaultNames[0]);

}  // namespace

const char* FaultName(Fault fault) {
  int i = static_cast<int>(fault);
  return i >= 0 && i < kFaultCount ? kFaultNames[i] : "?";
}

int ParseFault(const std::string& name, Fault* fault) {
  for (int i = 0; i < kFaultCount; ++i) {
    if (name == kFaultNames[i]) {
      *fault = static_cast<Fault>(i);
      return 1;
    }
  }
  return 0;
}

std::vector<std::string> FaultNames() {
  return std::vector<std::string>(kFaultNames, kFaultNames + kFaultCount);
}

std::string Summary(const Result& r) {
  char line[512];
  std::snprintf(line, sizeof line,
                "devsim: update=%d ended=%d completed=%d verified=%s bytes=%llu address=0x%X "
                "length=%u packets=%u naks=%u duplicates=%u eots=%u restarts=%u query=%d "
                "download=%d errors=%zu",
                r.update, r.ended ? 1 : 0, r.completed ? 1 : 0,
                r.verifyRequested ? (r.verified ? "1" : "0") : "none",
                static_cast<unsigned long long>(r.bytes), r.address, r.length, r.packets, r.naks,
                r.duplicates, r.eots, r.restarts, r.versionQuery ? 1 : 0, r.download ? 1 : 0,
                r.errors.size());
  std::string s = line;
  if (!r.note.empty()) s += " note=\"" + r.note + "\"";
  return s;
}

Session::Session(const Options& options, const std::vector<uint8_t>* expected)
    : m_opt(options), m_expected(expected), m_epoch(Clock::now()) {}

bool Session::FaultActive(Fault fault) const {
  if (m_opt.fault != fault) return false;
  // Between updates the next update's number decides.
  int update = m_inUpdate ? m_cur.update : m_updates + 1;
  return m_opt.faultUpdate == 0 || m_opt.faultUpdate == update;
}

void Session::Log(const char* format, ...) const {
  if (!m_opt.verbose) return;
  auto ms = std::chrono::duration_cast<Ms>(Clock::now() - m_epoch).count();
  std::fprintf(stderr, "devsim %6lld.%03lld ", static_cast<long long>(ms / 1000),
               static_cast<long long>(ms % 1000));
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

void Session::Error(const std::string& text) {
  Log("error: %s", text.c_str());
  m_cur.errors.push_back(text);
}

void Session::Send(std::vector<Action>* out, std::vector<uint8_t> bytes) {
  Action a;
  a.kind = Action::kWrite;
  a.bytes = std::move(bytes);
  out->push_back(std::move(a));
}

void Session::Nak(std::vector<Action>* out) {
  ++m_cur.naks;
  Send(out, {proto::kNAK});
}

void Session::BeginUpdate() {
  if (m_inUpdate) EndUpdate();  // a new query or command after an unfinished one
  m_inUpdate = true;
  m_cur = Result();
  m_cur.update = ++m_updates;
  m_cur.verifyRequested = m_expected != nullptr;
  Log("update %d begins", m_cur.update);
}

void Session::EndUpdate() {
  if (!m_inUpdate) return;
  m_cur.ended = true;
  Verify(&m_cur);
  Log("update %d ends: %s", m_cur.update, Summary(m_cur).c_str());
  m_finished.push_back(std::move(m_cur));
  m_cur = Result();
  m_inUpdate = false;
  if (m_state != State::kMuted && m_state != State::kGone) m_state = State::kCommand;
  m_buf.clear();
}

void Session::Verify(Result* r) const {
  if (!r->verifyRequested) return;
  const std::vector<uint8_t>& want = *m_expected;
  const std::vector<uint8_t>& got = r->data;
  char note[160] = "";
  if (!r->download) {
    std::snprintf(note, sizeof note, "no download command");
  } else if (!r->completed) {
    std::snprintf(note, sizeof note, "transfer not completed");
  } else if (want.size() != r->length) {
    std::snprintf(note, sizeof note, "file has %zu bytes, download command announced %u",
                  want.size(), r->length);
  } else if (got.size() < r->length) {
    std::snprintf(note, sizeof note, "received %zu of %u bytes", got.size(), r->length);
  } else {
    size_t i = 0;
    while (i < want.size() && got[i] == want[i]) ++i;
    if (i < want.size()) {
      std::snprintf(note, sizeof note, "byte %zu is 0x%02X, file has 0x%02X", i, got[i],
                    want[i]);
    } else if (got.size() - want.size() >= (m_lastBlock ? m_lastBlock : 1)) {
      std::snprintf(note, sizeof note, "%zu bytes past the image", got.size() - want.size());
    } else {
      for (; i < got.size(); ++i) {
        if (got[i] != proto::kPadByte) {
          std::snprintf(note, sizeof note, "fill byte %zu is 0x%02X, not 0x1A", i, got[i]);
          break;
        }
      }
    }
  }
  r->verified = note[0] == 0;
  // A fault's own note ("cancelled at packet 3") says more than "transfer not completed".
  if (r->note.empty()) r->note = note;
}

void Session::Feed(const uint8_t* data, size_t length, TimePoint now,
                   std::vector<Action>* out) {
  for (size_t i = 0; i < length; ++i) Byte(data[i], now, out);
}

void Session::Byte(uint8_t b, TimePoint now, std::vector<Action>* out) {
  TimePoint previous = m_lastByte;
  m_lastByte = now;
  switch (m_state) {
    case State::kCommand:
      CommandByte(b, now, out);
      return;
    case State::kWaitHeader:
      HeaderByte(b, now, out);
      return;
    case State::kPacket:
      m_buf.push_back(b);
      if (m_buf.size() == m_need) Packet(now, out);
      return;
    case State::kDrain:
      return;
    case State::kEnding:
      if (b == proto::kEOT) {
        ++m_cur.eots;
      } else if (b == proto::kFrameStart) {
        EndUpdate();  // the next update is already here
        CommandByte(b, now, out);
      }
      return;
    case State::kMuted:
    case State::kGone:
      m_lastByte = previous;
      return;
  }
}

void Session::CommandByte(uint8_t b, TimePoint now, std::vector<Action>* out) {
  if (m_buf.empty()) {
    // Bytes outside a frame are the updater's left-overs (EOTs after the transfer): ignored.
    if (b != proto::kFrameStart) return;
  }
  m_buf.push_back(b);
  if (m_buf.size() == 3 && m_buf[2] > kMaxPayload) {
    Error("command frame with payload length " + std::to_string(m_buf[2]));
    m_buf.clear();
    return;
  }
  if (m_buf.size() >= 3 && m_buf.size() == static_cast<size_t>(m_buf[2]) + proto::kFrameOverhead)
    Frame(now, out);
}

void Session::Frame(TimePoint now, std::vector<Action>* out) {
  std::vector<uint8_t> f;
  f.swap(m_buf);
  const int n = f[2];
  const uint8_t letter = f[1];
  const uint8_t sum = proto::FrameChecksum(&f[1], static_cast<size_t>(n) + 2);
  Log("frame '%c' payload %d", letter >= 0x20 && letter < 0x7F ? letter : '?', n);

  // Answers the updater left unread (say after a refused or abandoned update) must not meet
  // its next read.
  Action flush;
  flush.kind = Action::kFlushInput;
  out->push_back(flush);

  char text[96];
  if (f[4 + n] != proto::kFrameEnd || f[5 + n] != proto::kFrameEnd) {
    std::snprintf(text, sizeof text, "frame '%c' not closed by \"??\"", letter);
  } else if (f[3 + n] != sum) {
    std::snprintf(text, sizeof text, "frame '%c' checksum 0x%02X, expected 0x%02X", letter,
                  f[3 + n], sum);
  } else if (letter == proto::kCmdVersion) {
    BeginUpdate();
    m_cur.versionQuery = true;
    VersionQuery(out);
    return;
  } else if (letter == proto::kCmdDownload) {
    Download(&f[3], n, now, out);
    return;
  } else {
    std::snprintf(text, sizeof text, "unknown command 0x%02X", letter);
  }
  if (!m_inUpdate) BeginUpdate();
  Error(text);
  if (!FaultActive(Fault::kSilent)) Nak(out);
  // The updater gives up on a refused download command, and so does the update.
  if (letter == proto::kCmdDownload) EndUpdate();
}

void Session::VersionQuery(std::vector<Action>* out) {
  if (FaultActive(Fault::kSilent) || FaultActive(Fault::kNoVersionReply)) {
    Log("version query left unanswered");
    return;
  }
  std::vector<uint8_t> reply = {proto::kFrameStart,
                                proto::kCmdVersion,
                                3,
                                static_cast<uint8_t>(m_opt.major),
                                static_cast<uint8_t>(m_opt.minor),
                                static_cast<uint8_t>(m_opt.sizeCode),
                                0,
                                proto::kFrameEnd,
                                proto::kFrameEnd};
  reply[6] = proto::FrameChecksum(&reply[1], 5);
  if (FaultActive(Fault::kBadReplyChecksum)) reply[6] ^= 0x5A;
  if (FaultActive(Fault::kNoiseReply)) {
    static const uint8_t kNoise[] = {0x00, 0x7E, 0xFF, 0x3F, 0x11};
    reply.insert(reply.begin(), kNoise, kNoise + sizeof kNoise);
  }
  if (FaultActive(Fault::kSplitReply)) {
    Send(out, std::vector<uint8_t>(reply.begin(), reply.begin() + 4));
    Action pause;
    pause.kind = Action::kPause;
    pause.pauseMs = kSplitPauseMs;
    out->push_back(pause);
    Send(out, std::vector<uint8_t>(reply.begin() + 4, reply.end()));
  } else {
    Send(out, reply);
  }
  Log("version reply %d.%d size code %d", m_opt.major, m_opt.minor, m_opt.sizeCode);
}

void Session::Download(const uint8_t* payload, int length, TimePoint now,
                       std::vector<Action>* out) {
  // A download command continues an update begun by a version query, or begins one itself.
  if (!m_inUpdate || m_cur.download) BeginUpdate();
  const bool silent = FaultActive(Fault::kSilent);
  if (length != 9 || payload[8] != proto::kDownloadConstant) {
    Error(length != 9 ? "download command with payload length " + std::to_string(length)
                      : "download command constant " + std::to_string(payload[8]));
    if (!silent) Nak(out);
    EndUpdate();
    return;
  }
  m_cur.download = true;
  m_cur.address = static_cast<uint32_t>(payload[0]) | static_cast<uint32_t>(payload[1]) << 8 |
                  static_cast<uint32_t>(payload[2]) << 16 | static_cast<uint32_t>(payload[3]) << 24;
  m_cur.length = static_cast<uint32_t>(payload[4]) | static_cast<uint32_t>(payload[5]) << 8 |
                 static_cast<uint32_t>(payload[6]) << 16 | static_cast<uint32_t>(payload[7]) << 24;
  Log("download to 0x%X, %u bytes", m_cur.address, m_cur.length);
  if (silent) return;
  if (FaultActive(Fault::kNakDownload)) {
    Nak(out);
    m_cur.note = "download command refused";
    EndUpdate();
    return;
  }
  m_naksLeft = m_opt.faultCount;
  StartStream(now, out);
}

// (Re)starts the transfer: asks for CRC mode with 'C' and expects packet 1.
void Session::StartStream(TimePoint now, std::vector<Action>* out) {
  m_cur.data.clear();
  m_cur.bytes = 0;
  m_cur.packets = 0;
  m_expectedSeq = 1;
  m_haveLast = false;
  m_lastBlock = 0;
  m_state = State::kWaitHeader;
  m_awaitingFirst = true;
  m_startRequests = 1;
  m_startSent = now;
  Send(out, {proto::kCrcMode});
}

void Session::HeaderByte(uint8_t b, TimePoint now, std::vector<Action>* out) {
  m_awaitingFirst = false;
  switch (b) {
    case proto::kSTX:
    case proto::kSOH:
      m_buf.assign(1, b);
      m_need = (b == proto::kSTX ? 1024 : 128) + proto::kPacketOverhead;
      m_state = State::kPacket;
      return;
    case proto::kEOT:
      ++m_cur.eots;
      m_cur.completed = true;
      Send(out, {proto::kACK});
      Log("EOT after %u packets", m_cur.packets);
      m_state = State::kEnding;
      return;
    case proto::kCAN:
      Error("transfer cancelled by the sender");
      EndUpdate();
      return;
    case proto::kFrameStart:
      Error("transfer abandoned: a command frame came instead of a packet");
      EndUpdate();
      CommandByte(b, now, out);
      return;
    default:
      Log("unexpected byte 0x%02X instead of a packet header", b);
      m_state = State::kDrain;
      return;
  }
}

void Session::Packet(TimePoint now, std::vector<Action>* out) {
  const size_t size = m_need - proto::kPacketOverhead;
  const uint8_t seq = m_buf[1];
  const uint16_t crc = proto::Crc16(&m_buf[3], size);
  const uint16_t sent = static_cast<uint16_t>(m_buf[3 + size] << 8 | m_buf[4 + size]);
  if (static_cast<uint8_t>(seq + m_buf[2]) != 0xFF || crc != sent) {
    Log("bad packet (sequence %u/%u, CRC 0x%04X/0x%04X)", seq, m_buf[2], sent, crc);
    m_state = State::kDrain;
    return;
  }
  m_state = State::kWaitHeader;
  if (m_haveLast && seq == m_lastSeq) {
    ++m_cur.duplicates;
    Log("duplicate of packet %u", m_cur.packets);
    Send(out, {proto::kACK});
    return;
  }
  if (seq != m_expectedSeq) {
    Error("packet sequence " + std::to_string(seq) + ", expected " +
          std::to_string(m_expectedSeq));
    Send(out, {proto::kCAN});
    EndUpdate();
    return;
  }

  const unsigned number = m_cur.packets + 1;
  if (static_cast<int>(number) == m_opt.faultPacket) {
    if (FaultActive(Fault::kNakPacket) && m_naksLeft > 0) {
      --m_naksLeft;
      Log("packet %u: NAK by request", number);
      Nak(out);
      return;
    }
    if (FaultActive(Fault::kCancel)) {
      Send(out, {proto::kCAN});
      m_cur.note = "cancelled at packet " + std::to_string(number);
      EndUpdate();
      return;
    }
    if (FaultActive(Fault::kGarbage)) {
      Send(out, {kGarbageByte});
      m_cur.note = "garbage answer at packet " + std::to_string(number);
      EndUpdate();
      return;
    }
    if (FaultActive(Fault::kStop)) {
      m_cur.note = "stopped answering at packet " + std::to_string(number);
      m_state = State::kMuted;
      EndUpdate();
      return;
    }
    if (FaultActive(Fault::kRestart) && m_cur.restarts == 0) {
      ++m_cur.restarts;
      Log("packet %u: 'C' again, the transfer starts over", number);
      StartStream(now, out);
      return;
    }
    if (FaultActive(Fault::kHangUp)) {
      m_cur.note = "hung up at packet " + std::to_string(number);
      m_state = State::kGone;
      Action a;
      a.kind = Action::kHangUp;
      out->push_back(a);
      EndUpdate();
      return;
    }
  }

  m_cur.data.insert(m_cur.data.end(), m_buf.begin() + 3, m_buf.begin() + 3 + size);
  m_cur.packets = number;
  m_cur.bytes = m_cur.data.size() < m_cur.length ? m_cur.data.size() : m_cur.length;
  m_lastBlock = size;
  m_lastSeq = seq;
  m_haveLast = true;
  m_expectedSeq = static_cast<uint8_t>(seq + 1);
  Send(out, {proto::kACK});
}

bool Session::NextDeadline(TimePoint* when) const {
  switch (m_state) {
    case State::kCommand:
      if (m_buf.empty()) return false;
      *when = m_lastByte + kFrameByteTimeout;
      return true;
    case State::kWaitHeader:
      if (!m_awaitingFirst) return false;
      *when = m_startSent + kStartInterval;
      return true;
    case State::kPacket:
      *when = m_lastByte + kPacketByteTimeout;
      return true;
    case State::kDrain:
      *when = m_lastByte + kDrainQuiet;
      return true;
    case State::kEnding:
      *when = m_lastByte + kEndingQuiet;
      return true;
    default:
      return false;
  }
}

void Session::Tick(TimePoint now, std::vector<Action>* out) {
  TimePoint due;
  if (!NextDeadline(&due) || now < due) return;
  switch (m_state) {
    case State::kCommand:
      Error("incomplete command frame of " + std::to_string(m_buf.size()) + " bytes");
      m_buf.clear();
      return;
    case State::kWaitHeader:
      if (m_startRequests >= kMaxStartRequests) {
        m_awaitingFirst = false;
        Error("no packet after " + std::to_string(m_startRequests) + " 'C'");
        EndUpdate();
        return;
      }
      ++m_startRequests;
      m_startSent = now;
      Log("'C' again (%d)", m_startRequests);
      Send(out, {proto::kCrcMode});
      return;
    case State::kPacket:
      Log("packet cut short after %zu of %zu bytes", m_buf.size(), m_need);
      m_state = State::kWaitHeader;
      Nak(out);
      return;
    case State::kDrain:
      m_state = State::kWaitHeader;
      Nak(out);
      return;
    case State::kEnding: {
      // The updater reads nothing after its EOTs: the answers to its last packet and to EOT
      // would otherwise wait in the pty for its next update.
      Action flush;
      flush.kind = Action::kFlushInput;
      out->push_back(flush);
      EndUpdate();
      return;
    }
    default:
      return;
  }
}

}  // namespace devsim
