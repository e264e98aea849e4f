// The image transfer's sender as a pure state machine: told the plan and each event (an
// answer byte, a time-out, a block read or not, a write done or failed), it answers with the
// next action and the report that goes before it. It does no I/O: the loader's loop carries out
// the actions (write the download command, wait for an answer, read a block, write a packet or
// an EOT) and feeds their outcomes back.
//
// Every step is a report (code 0: none) followed by one action. The report always goes out
// before the action is carried out. Once finished, the machine stays finished: every further
// event returns the finishing step again, without a report.
//
// Rules it keeps:
//   - the download command goes first; a failed write of it is a link error;
//   - the device's first answer 'C' or ACK starts the transfer with block 1; NAK to the
//     download command rejects it;
//   - every packet, the last one included, waits for its answer: ACK sends the next (after the
//     last: the EOT phase), NAK resends the same packet (ten NAKs in a row are a link error),
//     CAN rejects, a 'C' after the first packet starts over from block 1 with sequence 1,
//     anything else or a time-out is a link error;
//   - progress after every packet sent on an ACK, as ProgressAfter says;
//   - four EOTs; a failed first EOT is a link error, a later one ends the transfer as done.
#pragma once
#include <cstdint>
#include "flash/protocol.h"

namespace proto {

// Answers a packet may get in a row before the device is taken to be broken.
constexpr int kMaxNaksInARow = 10;
// EOT bytes that close a transfer.
constexpr int kEotCount = 4;

class Sender {
public:
  enum class Phase {
    kAnnouncing,          // the download command is being written
    kWaitingFirstAnswer,  // the command is out, no data packet yet
    kSendingBlocks,       // data packets are going out
    kEot,                 // the image is out, EOTs are being written
    kFinished,            // nothing more to do; Succeeded() says how it ended
  };

  enum class Action {
    kSendCommand,         // build the download command and write it
    kWaitAnswer,          // wait for the device's answer byte
    kRewindAndReadBlock,  // go back to the start of the image and read its first block
    kReadBlock,           // read the next block of the image
    kSendPacket,          // build a packet of the block just read with Step::sequence; write it
    kResendPacket,        // write the last packet again, unchanged
    kSendEot,             // write one EOT byte
    kFinish,              // close up; Step::success is the transfer's result
  };

  struct Step {
    int reportCode = 0;        // a status code to report first, 0 for none
    uint32_t reportValue = 0;
    Action action = Action::kFinish;
    uint8_t sequence = 0;      // kSendPacket: the packet's sequence number
    bool success = false;      // kFinish: the image went out and the EOT phase ended
  };

  // Counters of one transfer, for people who want to know how the line behaved.
  struct Counts {
    uint32_t sent = 0;      // data packets sent; a resent one does not count again
    uint32_t resends = 0;   // packets written again after a NAK
    uint32_t restarts = 0;  // times the device started over with 'C' after the first packet
    uint32_t timeouts = 0;  // answer waits that ran out
    uint32_t eots = 0;      // EOT bytes written
  };

  Sender(uint32_t imageLength, int blockSize);

  // The first step: always kSendCommand.
  Step Start();
  // Outcomes of the actions. Each is taken only as the answer to the action it belongs to
  // (OnWritten for the write actions, OnBlockRead for the reads, OnAnswer/OnTimeout for
  // kWaitAnswer); any other event leaves the machine as it is and repeats the pending step
  // without its report.
  Step OnWritten(bool ok);
  Step OnBlockRead(bool ok);
  Step OnAnswer(uint8_t answer);
  Step OnTimeout();

  Phase GetPhase() const { return m_phase; }
  bool Succeeded() const { return m_phase == Phase::kFinished && m_success; }
  const TransferPlan& Plan() const { return m_plan; }
  const Counts& GetCounts() const { return m_counts; }

private:
  Step Do(Action action);
  Step Report(int code, uint32_t value, Action action);
  Step Fail(int code, uint32_t value);
  Step Finish(int code, uint32_t value);
  Step Pending() const;

  TransferPlan m_plan;
  Phase m_phase = Phase::kAnnouncing;
  Action m_pending = Action::kSendCommand;
  bool m_started = false;
  bool m_success = false;
  uint8_t m_nextSequence = 1;
  uint8_t m_packetSequence = 0;  // of the packet being built
  bool m_onAck = false;          // the block being read answers an ACK (a progress report is due)
  uint32_t m_readErrorValue = 0; // what a failed read of the pending block reports
  int m_naksInARow = 0;
  Counts m_counts;
};

}  // namespace proto
