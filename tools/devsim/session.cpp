// The device's protocol logic: what it answers to frames and packets, the XMODEM-1K receiver's
// states and time-outs, and the faults it injects.
#include "tools/devsim/session.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

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
// An update that waits on a silent updater ends after this (see devsim.h).
constexpr Ms kUpdaterQuiet{kUpdaterQuietMs};
// The second half of a split version reply follows this much later, so that it arrives as a
// read of its own; the first write carries this many bytes.
constexpr int kSplitPauseMs = 50;
constexpr int kSplitAt = 4;
// Answer for Fault::kGarbage.
constexpr uint8_t kGarbageByte = 0x55;
// What stray-ack and noise-between add to the line: none of them an answer the updater knows.
constexpr char kStrayBytes[] = "\x7E\xFF\x11";
constexpr int kNoisePauseMs = 50;

struct FaultEntry {
  Fault fault;
  const char* name;
  const char* help;
};
// In the order of the enum.
const FaultEntry kFaults[] = {
    {Fault::kNone, "none", "no fault: the device behaves"},
    {Fault::kSilent, "silent", "answers nothing at all, ever"},
    {Fault::kNoVersionReply, "no-version-reply", "ignores the version query; all else as usual"},
    {Fault::kSplitReply, "split-reply", "sends the version reply in two writes 50 ms apart"},
    {Fault::kNoiseReply, "noise-reply",
     "sends a few bytes other than '$' before the version reply, in the same write"},
    {Fault::kBadReplyChecksum, "bad-reply-checksum", "sends the version reply with a wrong checksum"},
    {Fault::kNakDownload, "nak-download",
     "answers the download command with NAK and never asks for packets"},
    {Fault::kNakPacket, "nak-packet", "NAKs packet K --fault-count times, then ACKs it"},
    {Fault::kCancel, "cancel", "answers packet K with CAN"},
    {Fault::kGarbage, "garbage", "answers packet K with the byte 0x55"},
    {Fault::kStop, "stop", "from packet K on answers nothing, and stays on the line"},
    {Fault::kRestart, "restart", "answers packet K with 'C': the transfer starts over, once"},
    {Fault::kHangUp, "hangup", "at packet K closes its side of the pty: the device is gone"},
    {Fault::kHangUpQuery, "hangup-query",
     "at the version query closes its side of the pty: the device is gone"},
    {Fault::kDuplicateAck, "duplicate-ack", "stores packet K and ACKs it twice, in one write"},
    {Fault::kStrayAck, "stray-ack",
     "stores packet K and answers it with a few stray bytes, then the ACK, in one write"},
    {Fault::kNoiseBetween, "noise-between",
     "stores packet K, ACKs it, and 50 ms later sends a few noise bytes"},
};
constexpr int kFaultCount = sizeof(kFaults) / sizeof(kFaults[0]);

const FaultEntry* FindFault(Fault fault) {
  int i = static_cast<int>(fault);
  return i >= 0 && i < kFaultCount ? &kFaults[i] : nullptr;
}

}  // namespace

// Packet k meets its fault instead of being stored and ACKed.
struct PacketFaultRule {
  // What comes of it once it has answered packet k.
  enum After {
    kResend,     // the updater sends packet k again
    kStartOver,  // a new 'C': the updater starts over from packet 1
    kEnd,        // the update is over
    kMute,       // the update is over and the device answers nothing more
    kHangUp,     // the update is over and the device closes the line
    kStore,      // the packet is stored as usual; `lead` and `trail` go with its ACK
  };
  Fault fault;
  int answer;        // the byte sent instead of ACK; -1: none
  After after;
  const char* note;  // the update's note, "<note> at packet k"; null: none
  bool counted;      // acts --fault-count times (each resend of packet k); else once per update
  const char* lead = nullptr;   // kStore: bytes in the ACK's write, before it
  const char* trail = nullptr;  // kStore: bytes after the ACK
  int trailPauseMs = 0;         // kStore: the trail is a write of its own this much later
};

namespace {

const PacketFaultRule kPacketFaults[] = {
    {Fault::kNakPacket, proto::kNAK, PacketFaultRule::kResend, nullptr, true},
    {Fault::kCancel, proto::kCAN, PacketFaultRule::kEnd, "cancelled", false},
    {Fault::kGarbage, kGarbageByte, PacketFaultRule::kEnd, "garbage answer", false},
    {Fault::kStop, -1, PacketFaultRule::kMute, "stopped answering", false},
    {Fault::kRestart, -1, PacketFaultRule::kStartOver, nullptr, false},
    {Fault::kHangUp, -1, PacketFaultRule::kHangUp, "hung up", false},
    {Fault::kDuplicateAck, proto::kACK, PacketFaultRule::kStore, nullptr, false, nullptr, "\x06"},
    {Fault::kStrayAck, proto::kACK, PacketFaultRule::kStore, nullptr, false, kStrayBytes},
    {Fault::kNoiseBetween, proto::kACK, PacketFaultRule::kStore, nullptr, false, nullptr, kStrayBytes,
     kNoisePauseMs},
};

const PacketFaultRule* FindPacketFault(Fault fault) {
  for (const PacketFaultRule& rule : kPacketFaults)
    if (rule.fault == fault) return &rule;
  return nullptr;
}

}  // namespace

const char* FaultName(Fault fault) {
  const FaultEntry* e = FindFault(fault);
  return e ? e->name : "?";
}

const char* FaultHelp(Fault fault) {
  const FaultEntry* e = FindFault(fault);
  return e ? e->help : "?";
}

int ParseFault(const std::string& name, Fault* fault) {
  for (const FaultEntry& e : kFaults) {
    if (name == e.name) {
      *fault = e.fault;
      return 1;
    }
  }
  return 0;
}

std::vector<std::string> FaultNames() {
  std::vector<std::string> names;
  for (const FaultEntry& e : kFaults) names.push_back(e.name);
  return names;
}

std::string Summary(const Result& r) {
  char line[512];
  std::snprintf(line, sizeof line,
                "devsim: update=%d ended=%d completed=%d verified=%s bytes=%llu address=0x%X "
                "length=%u packets=%u naks=%u duplicates=%u eots=%u restarts=%u query=%d "
                "download=%d errors=%zu fault=%s fired=%d quiet=%d",
                r.update, r.ended ? 1 : 0, r.completed ? 1 : 0,
                r.verifyRequested ? (r.verified ? "1" : "0") : "none",
                static_cast<unsigned long long>(r.bytes), r.address, r.length, r.packets, r.naks,
                r.duplicates, r.eots, r.restarts, r.versionQuery ? 1 : 0, r.download ? 1 : 0,
                r.errors.size(), FaultName(r.fault), r.faultFired ? 1 : 0,
                r.updaterQuiet ? 1 : 0);
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

// For the places where a fault changes what the device does: the update records that it did.
bool Session::TakeFault(Fault fault) {
  if (!FaultActive(fault)) return false;
  m_cur.faultFired = true;
  return true;
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
  if (FaultActive(m_opt.fault)) m_cur.fault = m_opt.fault;
  m_faultUses = 0;
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
  m_frames.Reset();
}

void Session::Close() {
  if (m_state == State::kEnding) EndUpdate();
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
  const proto::FrameVerdict verdict = m_frames.Feed(b);
  if (verdict == proto::FrameVerdict::kIncomplete) return;
  if (verdict == proto::FrameVerdict::kTooLong) {
    Error("command frame with payload length " + std::to_string(m_frames.Frame().payloadLength));
    return;
  }
  Frame(verdict, now, out);
}

void Session::Frame(proto::FrameVerdict verdict, TimePoint now, std::vector<Action>* out) {
  const proto::CommandFrame& f = m_frames.Frame();
  const uint8_t letter = f.letter;
  Log("frame '%c' payload %d", letter >= 0x20 && letter < 0x7F ? letter : '?', f.payloadLength);

  // Answers the updater left unread (say after a refused or abandoned update) must not meet
  // its next read.
  Action flush;
  flush.kind = Action::kFlushInput;
  out->push_back(flush);

  char text[96];
  if (verdict == proto::FrameVerdict::kNotClosed) {
    std::snprintf(text, sizeof text, "frame '%c' not closed by \"??\"", letter);
  } else if (verdict == proto::FrameVerdict::kBadChecksum) {
    std::snprintf(text, sizeof text, "frame '%c' checksum 0x%02X, expected 0x%02X", letter,
                  f.checksum, f.expectedChecksum);
  } else if (letter == proto::kCmdVersion) {
    BeginUpdate();
    m_cur.versionQuery = true;
    VersionQuery(out);
    return;
  } else if (letter == proto::kCmdDownload) {
    Download(f, now, out);
    return;
  } else {
    std::snprintf(text, sizeof text, "unknown command 0x%02X", letter);
  }
  if (!m_inUpdate) BeginUpdate();
  Error(text);
  if (!TakeFault(Fault::kSilent)) Nak(out);
  // The updater gives up on a refused download command, and so does the update.
  if (letter == proto::kCmdDownload) EndUpdate();
}

void Session::VersionQuery(std::vector<Action>* out) {
  if (TakeFault(Fault::kHangUpQuery)) {
    m_cur.note = "hung up at the version query";
    m_state = State::kGone;
    Action a;
    a.kind = Action::kHangUp;
    out->push_back(a);
    EndUpdate();
    return;
  }
  if (TakeFault(Fault::kSilent) || TakeFault(Fault::kNoVersionReply)) {
    Log("version query left unanswered");
    return;
  }
  std::vector<uint8_t> reply(proto::kVersionReplyLength);
  proto::BuildVersionReply(reply.data(), static_cast<uint8_t>(m_opt.major),
                           static_cast<uint8_t>(m_opt.minor), static_cast<uint8_t>(m_opt.sizeCode));
  if (TakeFault(Fault::kBadReplyChecksum))
    reply[proto::FrameChecksumAt(proto::kVersionReplyLength)] ^= 0x5A;
  if (TakeFault(Fault::kNoiseReply)) {
    static const uint8_t kNoise[] = {0x00, 0x7E, 0xFF, 0x3F, 0x11};
    reply.insert(reply.begin(), kNoise, kNoise + sizeof kNoise);
  }
  if (TakeFault(Fault::kSplitReply)) {
    Send(out, std::vector<uint8_t>(reply.begin(), reply.begin() + kSplitAt));
    Action pause;
    pause.kind = Action::kPause;
    pause.pauseMs = kSplitPauseMs;
    out->push_back(pause);
    Send(out, std::vector<uint8_t>(reply.begin() + kSplitAt, reply.end()));
  } else {
    Send(out, reply);
  }
  Log("version reply %d.%d size code %d", m_opt.major, m_opt.minor, m_opt.sizeCode);
}

void Session::Download(const proto::CommandFrame& frame, TimePoint now,
                       std::vector<Action>* out) {
  // A download command continues an update begun by a version query, or begins one itself.
  if (!m_inUpdate || m_cur.download) BeginUpdate();
  proto::DownloadCommand command;
  const proto::DownloadVerdict verdict = proto::ParseDownload(frame, &command);
  if (verdict != proto::DownloadVerdict::kOk) {
    Error(verdict == proto::DownloadVerdict::kWrongLength
              ? "download command with payload length " + std::to_string(frame.payloadLength)
              : "download command constant " + std::to_string(command.constant));
    if (!TakeFault(Fault::kSilent)) Nak(out);
    EndUpdate();
    return;
  }
  m_cur.download = true;
  m_cur.address = command.address;
  m_cur.length = command.imageLength;
  Log("download to 0x%X, %u bytes", m_cur.address, m_cur.length);
  if (TakeFault(Fault::kSilent)) return;
  if (TakeFault(Fault::kNakDownload)) {
    Nak(out);
    m_cur.note = "download command refused";
    EndUpdate();
    return;
  }
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
  if (const int length = proto::PacketLength(b)) {
    m_buf.assign(1, b);
    m_need = static_cast<size_t>(length);
    m_state = State::kPacket;
    return;
  }
  switch (b) {
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
  const proto::PacketCheck packet = proto::CheckPacket(m_buf.data(), m_buf.size());
  if (packet.verdict != proto::PacketVerdict::kOk) {
    Log("bad packet (sequence %u/%u, CRC 0x%04X/0x%04X)", packet.sequence, packet.complement,
        packet.crcSent, packet.crcComputed);
    m_state = State::kDrain;
    return;
  }
  const uint8_t seq = packet.sequence;
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
  const PacketFaultRule* stored = nullptr;  // a fault that comes with the ACK of this packet
  if (static_cast<int>(number) == m_opt.faultPacket) {
    const PacketFaultRule* rule = FindPacketFault(m_opt.fault);
    if (rule && FaultActive(rule->fault) &&
        m_faultUses < (rule->counted ? m_opt.faultCount : 1)) {
      if (rule->after != PacketFaultRule::kStore) {
        PacketFault(*rule, number, now, out);
        return;
      }
      stored = rule;
    }
  }

  m_cur.data.insert(m_cur.data.end(), packet.data, packet.data + packet.dataLength);
  m_cur.packets = number;
  m_cur.bytes = m_cur.data.size() < m_cur.length ? m_cur.data.size() : m_cur.length;
  m_lastBlock = static_cast<size_t>(packet.dataLength);
  m_lastSeq = seq;
  m_haveLast = true;
  m_expectedSeq = static_cast<uint8_t>(seq + 1);
  if (stored) {
    StoredFault(*stored, number, out);
    return;
  }
  Send(out, {proto::kACK});
}

// The ACK of a stored packet, with the fault's bytes around it.
void Session::StoredFault(const PacketFaultRule& rule, unsigned number, std::vector<Action>* out) {
  ++m_faultUses;
  TakeFault(rule.fault);
  Log("packet %u: %s", number, FaultName(rule.fault));
  auto bytes = [](const char* text) {
    return text ? std::vector<uint8_t>(text, text + std::strlen(text)) : std::vector<uint8_t>();
  };
  std::vector<uint8_t> answer = bytes(rule.lead);
  answer.push_back(static_cast<uint8_t>(rule.answer));
  const std::vector<uint8_t> trail = bytes(rule.trail);
  if (rule.trailPauseMs == 0) answer.insert(answer.end(), trail.begin(), trail.end());
  Send(out, answer);
  if (rule.trailPauseMs == 0 || trail.empty()) return;
  Action pause;
  pause.kind = Action::kPause;
  pause.pauseMs = rule.trailPauseMs;
  out->push_back(pause);
  Send(out, trail);
}

void Session::PacketFault(const PacketFaultRule& rule, unsigned number, TimePoint now,
                          std::vector<Action>* out) {
  ++m_faultUses;
  TakeFault(rule.fault);
  Log("packet %u: %s", number, FaultName(rule.fault));
  if (rule.answer == proto::kNAK)
    Nak(out);
  else if (rule.answer >= 0)
    Send(out, {static_cast<uint8_t>(rule.answer)});
  if (rule.note) m_cur.note = std::string(rule.note) + " at packet " + std::to_string(number);
  switch (rule.after) {
    case PacketFaultRule::kResend:
    case PacketFaultRule::kStore:  // StoredFault's
      return;
    case PacketFaultRule::kStartOver:
      ++m_cur.restarts;
      StartStream(now, out);
      return;
    case PacketFaultRule::kEnd:
      break;
    case PacketFaultRule::kMute:
      m_state = State::kMuted;
      break;
    case PacketFaultRule::kHangUp: {
      m_state = State::kGone;
      Action a;
      a.kind = Action::kHangUp;
      out->push_back(a);
      break;
    }
  }
  EndUpdate();
}

// The time-out of the state itself: a frame or packet left unfinished, a 'C' unanswered, a
// bad packet drained, the EOTs counted.
bool Session::StateDeadline(TimePoint* when) const {
  switch (m_state) {
    case State::kCommand:
      if (m_frames.Held() == 0) return false;
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

// True while an update has answered all the updater sent and waits for its next bytes. A
// silent device owes answers it never gives, so the updater's silence says nothing there; and
// while 'C' goes unanswered the start's own repeats decide.
bool Session::AwaitsUpdater() const {
  if (!m_inUpdate || FaultActive(Fault::kSilent)) return false;
  switch (m_state) {
    case State::kCommand:
    case State::kPacket:
    case State::kDrain:
      return true;
    case State::kWaitHeader:
      return !m_awaitingFirst;
    default:
      return false;
  }
}

bool Session::NextDeadline(TimePoint* when) const {
  TimePoint due;
  bool any = StateDeadline(&due);
  if (AwaitsUpdater() && (!any || m_lastByte + kUpdaterQuiet < due)) {
    due = m_lastByte + kUpdaterQuiet;
    any = true;
  }
  if (any) *when = due;
  return any;
}

void Session::Tick(TimePoint now, std::vector<Action>* out) {
  TimePoint due;
  if (StateDeadline(&due) && now >= due) StateTimeout(now, out);
  if (AwaitsUpdater() && now >= m_lastByte + kUpdaterQuiet) {
    Log("the updater sent nothing for %lld ms", static_cast<long long>(kUpdaterQuiet.count()));
    m_cur.updaterQuiet = true;
    m_cur.note = m_cur.download ? "updater went quiet after " + std::to_string(m_cur.packets) +
                                      " packets"
                                : "updater went quiet before the download command";
    EndUpdate();
  }
}

void Session::StateTimeout(TimePoint now, std::vector<Action>* out) {
  switch (m_state) {
    case State::kCommand:
      Error("incomplete command frame of " + std::to_string(m_frames.Held()) + " bytes");
      m_frames.Reset();
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
