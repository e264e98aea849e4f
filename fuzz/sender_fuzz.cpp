// Fuzzes the transfer's sender with an arbitrary stream of answers, time-outs, read and write
// failures and out-of-turn events, against a model of the receiver and of the report order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "flash/sender.h"
#include "flash/status_codes.h"
#include "fuzz/fuzz_input.h"

namespace {

using proto::Sender;
using Action = Sender::Action;

[[noreturn]] void Fail(const char* what, unsigned event) {
  std::fprintf(stderr, "sender: %s (event %u)\n", what, event);
  std::abort();
}

// What the device side knows: the sequence number it asks for next and how many packets of
// this run it has acknowledged.
struct Receiver {
  uint8_t expected = 1;
  bool havePacket = false;  // a packet of this run is out and not yet answered
  uint8_t lastSequence = 0;
  uint32_t acked = 0;
};

// Events of one packet at most: read, write, wait, and per NAK a resend and a wait.
constexpr unsigned kEventsPerPacket = 3 + 2 * proto::kMaxNaksInARow;

class Run {
public:
  Run(const uint8_t* data, size_t size) : m_in{data, size} {}

  void Go() {
    const int a = m_in.Next(), b = m_in.Next();
    // Up to 300 blocks: small plans report every percent, larger ones every `step` packets.
    const uint32_t length = a < 0 ? 0 : uint32_t(a) << 10 | uint32_t(b < 0 ? 0 : b) << 2;
    Sender sender(length % (300u * 1024u + 1), proto::kMaxBlockSize);
    m_blocks = sender.Plan().blocks;
    // Small plans report percentages; larger ones packets / step, a little past 100 at most.
    const uint32_t perUnit = sender.Plan().step;
    m_maxProgress = perUnit == 1 ? 100 : m_blocks / perUnit + 1;
    Sender::Step step = sender.Start();
    if (step.action != Action::kSendCommand || step.reportCode != 0) Fail("bad first step", 0);
    const unsigned budget = unsigned(m_in.size) * 2 + kEventsPerPacket * (m_blocks + 2) + 16;
    while (step.action != Action::kFinish) {
      if (++m_events > budget) Fail("no end within the budget of events", m_events);
      step = Next(&sender, step);
      if (!m_outOfTurn && ++m_sinceRestart > kEventsPerPacket * (m_blocks + 2) + 16)
        Fail("no end and no restart within the events a run can take", m_events);
    }
    if (sender.GetPhase() != Sender::Phase::kFinished) Fail("kFinish before the end", m_events);
    if (m_finals != 1) Fail("not exactly one final report", m_events);
    if (step.success != sender.Succeeded() || sender.Succeeded() != m_finishedReported)
      Fail("success disagrees with the final report", m_events);
    // Finished stays finished, with no more reports.
    const Sender::Step again[] = {sender.OnAnswer(proto::kACK), sender.OnTimeout(),
                                  sender.OnWritten(true), sender.OnBlockRead(true),
                                  sender.Start()};
    for (const Sender::Step& s : again)
      if (s.action != Action::kFinish || s.reportCode != 0 || s.success != step.success)
        Fail("a finished sender moved on", m_events);
  }

private:
  // Feeds the event the pending action calls for (or, now and then, one out of turn).
  Sender::Step Next(Sender* sender, const Sender::Step& step) {
    const int choice = m_in.Next();
    m_outOfTurn = choice >= 0xF8;
    if (m_outOfTurn) {
      // An event that is not this action's outcome: the step repeats, with no report.
      Sender::Step s;
      switch (step.action) {
        case Action::kWaitAnswer: s = sender->OnWritten(choice & 1); break;
        case Action::kReadBlock:
        case Action::kRewindAndReadBlock: s = (choice & 1) ? sender->OnTimeout()
                                                           : sender->OnAnswer(proto::kACK); break;
        default: s = (choice & 1) ? sender->OnBlockRead(true) : sender->OnTimeout(); break;
      }
      if (s.action != step.action || s.reportCode != 0) Fail("out-of-turn event acted", m_events);
      return s;
    }
    Sender::Step next;
    switch (step.action) {
      case Action::kSendCommand:
        next = sender->OnWritten(choice != 0);
        break;
      case Action::kWaitAnswer:
        next = Answer(sender, choice);
        break;
      case Action::kRewindAndReadBlock:
      case Action::kReadBlock:
        next = sender->OnBlockRead(choice != 0);
        break;
      case Action::kSendPacket:
        if (step.sequence != m_rx.expected) Fail("packet with a sequence not asked for", m_events);
        m_rx.havePacket = true;
        m_rx.lastSequence = step.sequence;
        next = sender->OnWritten(choice != 0);
        break;
      case Action::kResendPacket:
        if (!m_rx.havePacket || m_rx.lastSequence != m_rx.expected)
          Fail("resent a packet not asked for", m_events);
        next = sender->OnWritten(choice != 0);
        break;
      case Action::kSendEot:
        if (m_rx.acked != m_blocks) Fail("EOT before every packet was acknowledged", m_events);
        ++m_eotsWritten;
        next = sender->OnWritten(choice != 0);
        if (choice == 0) --m_eotsWritten;
        break;
      case Action::kFinish:
        Fail("stepped a finished sender", m_events);
    }
    CheckReport(next);
    return next;
  }

  Sender::Step Answer(Sender* sender, int choice) {
    if (choice < 0) choice = 1;  // the line behaves: ACK
    switch (choice % 8) {
      case 0:  // 'C': the receiver starts over and asks for packet 1
        m_rx = Receiver();
        m_lastProgress = -1;
        m_sinceRestart = 0;
        return sender->OnAnswer(proto::kCrcMode);
      case 1:
      case 2:
      case 3:
        if (m_rx.havePacket) {
          m_rx.expected = static_cast<uint8_t>(m_rx.lastSequence + 1);
          m_rx.havePacket = false;
          ++m_rx.acked;
        }
        return sender->OnAnswer(proto::kACK);
      case 4:
        return sender->OnAnswer(proto::kNAK);  // the same packet again
      case 5:
        return sender->OnAnswer(proto::kCAN);
      case 6:
        return sender->OnTimeout();
      default:
        return sender->OnAnswer(static_cast<uint8_t>(choice));  // any other byte
    }
  }

  void CheckReport(const Sender::Step& s) {
    if (s.reportCode == 0) {
      if (s.action == Action::kFinish) Fail("finished without a final report", m_events);
      return;
    }
    switch (s.reportCode) {
      case STATUS_PROGRESS:
        if (s.action == Action::kFinish) Fail("progress as the final report", m_events);
        if (int64_t(s.reportValue) < m_lastProgress) Fail("progress went back", m_events);
        if (s.reportValue > m_maxProgress) Fail("progress past the plan", m_events);
        m_lastProgress = s.reportValue;
        return;
      case STATUS_FINISHED:
        if (m_rx.acked != m_blocks) Fail("finished without every packet acknowledged", m_events);
        if (m_eotsWritten == 0) Fail("finished without an EOT out", m_events);
        if (s.reportValue != 100) Fail("finished with a value other than 100", m_events);
        m_finishedReported = true;
        break;
      case STATUS_READ_ERROR:
        if (s.reportValue > 100) Fail("read error past 100 percent", m_events);
        break;
      case STATUS_LINK_ERROR:
      case STATUS_REJECTED:
        if (s.reportValue != 0) Fail("error with a value", m_events);
        break;
      default:
        Fail("a report the sender never makes", m_events);
    }
    if (s.action != Action::kFinish) Fail("a final report that does not finish", m_events);
    ++m_finals;
  }

  // The line's events; once they are used up the line behaves: every write and read succeeds
  // and every packet is ACKed, so that each run also has to come to an end.
  fuzz::Input m_in;
  Receiver m_rx;
  uint32_t m_blocks = 0;
  uint32_t m_maxProgress = 0;
  int64_t m_lastProgress = -1;
  unsigned m_events = 0;
  unsigned m_sinceRestart = 0;
  unsigned m_eotsWritten = 0;
  int m_finals = 0;
  bool m_finishedReported = false;
  bool m_outOfTurn = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Run(data, size).Go();
  return 0;
}
