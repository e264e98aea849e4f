// The transfer's sender: decides the next action from the plan, the phase and each event.
#include "flash/sender.h"

#include "flash/status_codes.h"

namespace proto {

Sender::Sender(uint32_t imageLength, int blockSize) : m_plan(PlanTransfer(imageLength, blockSize)) {}

Sender::Step Sender::Do(Action action) {
  m_pending = action;
  return Pending();
}

Sender::Step Sender::Pending() const {
  Step step;
  step.action = m_pending;
  step.sequence = m_packetSequence;
  step.success = m_success;
  return step;
}

Sender::Step Sender::Report(int code, uint32_t value, Action action) {
  Step step = Do(action);
  step.reportCode = code;
  step.reportValue = value;
  return step;
}

Sender::Step Sender::Fail(int code, uint32_t value) {
  m_phase = Phase::kFinished;
  m_success = false;
  return Report(code, value, Action::kFinish);
}

Sender::Step Sender::Finish(int code, uint32_t value) {
  m_phase = Phase::kFinished;
  m_success = true;
  return Report(code, value, Action::kFinish);
}

Sender::Step Sender::Start() {
  if (m_started) return Pending();
  m_started = true;
  return Do(Action::kSendCommand);
}

Sender::Step Sender::OnWritten(bool ok) {
  if (m_phase == Phase::kFinished) return Pending();
  switch (m_pending) {
    case Action::kSendCommand:
      if (!ok) return Fail(STATUS_LINK_ERROR, 0);
      m_nextSequence = 1;
      if (m_plan.blocks == 0) {
        // Nothing to send: no answer is read at all, the EOTs follow at once.
        m_phase = Phase::kEot;
        return Do(Action::kSendEot);
      }
      m_phase = Phase::kWaitingFirstAnswer;
      return Do(Action::kWaitAnswer);

    case Action::kSendPacket: {
      if (!ok) return Fail(STATUS_LINK_ERROR, 0);
      m_phase = Phase::kSendingBlocks;
      ++m_counts.sent;
      m_naksInARow = 0;
      const int progress = m_onAck ? ProgressAfter(m_plan, m_counts.sent) : -1;
      if (progress >= 0)
        return Report(STATUS_PROGRESS, static_cast<uint32_t>(progress), Action::kWaitAnswer);
      return Do(Action::kWaitAnswer);
    }

    case Action::kResendPacket:
      if (!ok) return Fail(STATUS_LINK_ERROR, 0);
      ++m_counts.resends;
      return Do(Action::kWaitAnswer);

    case Action::kSendEot:
      if (!ok) {
        // Not even the first EOT went out: the device never heard that the image is complete.
        // A later one lost still leaves it with the whole image and an EOT.
        if (m_counts.eots == 0) return Fail(STATUS_LINK_ERROR, 0);
        return Finish(STATUS_FINISHED, 100);
      }
      if (++m_counts.eots == kEotCount) return Finish(STATUS_FINISHED, 100);
      return Do(Action::kSendEot);

    default:
      return Pending();
  }
}

Sender::Step Sender::OnBlockRead(bool ok) {
  if (m_phase == Phase::kFinished ||
      (m_pending != Action::kReadBlock && m_pending != Action::kRewindAndReadBlock))
    return Pending();
  if (!ok) return Fail(STATUS_READ_ERROR, m_readErrorValue);
  m_packetSequence = m_nextSequence++;
  return Do(Action::kSendPacket);
}

Sender::Step Sender::OnAnswer(uint8_t answer) {
  if (m_phase == Phase::kFinished || m_pending != Action::kWaitAnswer) return Pending();
  switch (answer) {
    case kCrcMode:
      // The receiver (re)starts: the whole image goes again from block 1.
      if (m_phase == Phase::kSendingBlocks) ++m_counts.restarts;
      m_nextSequence = 1;
      m_counts.sent = 0;
      m_onAck = false;
      m_readErrorValue = 0;
      return Do(Action::kRewindAndReadBlock);

    case kACK:
      if (m_counts.sent == m_plan.blocks) {
        m_phase = Phase::kEot;
        return Do(Action::kSendEot);
      }
      m_onAck = true;
      m_readErrorValue = static_cast<uint32_t>(uint64_t(m_counts.sent) * 100 / m_plan.blocks);
      return Do(Action::kReadBlock);

    case kNAK:
      // A NAK before any data packet refuses the download command itself.
      if (m_phase == Phase::kWaitingFirstAnswer) return Fail(STATUS_REJECTED, 0);
      if (++m_naksInARow >= kMaxNaksInARow) return Fail(STATUS_LINK_ERROR, 0);
      return Do(Action::kResendPacket);

    case kCAN:
      return Fail(STATUS_REJECTED, 0);

    default:
      return Fail(STATUS_LINK_ERROR, 0);
  }
}

Sender::Step Sender::OnTimeout() {
  if (m_phase == Phase::kFinished || m_pending != Action::kWaitAnswer) return Pending();
  ++m_counts.timeouts;
  return Fail(STATUS_LINK_ERROR, 0);
}

}  // namespace proto
