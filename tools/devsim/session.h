// The device's side of the protocol as a byte-fed state machine: what it answers to command
// frames and packets (whose layouts are the shared codec's), the XMODEM-1K receiver's states,
// its time-outs and the injected faults. It does no I/O: the pty loop feeds it input and the
// clock, and carries out the actions it returns.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>
#include "flash/device_codec.h"
#include "tools/devsim/devsim.h"

namespace devsim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

struct Action {
  enum Kind {
    kWrite,       // send `bytes` to the updater
    kPause,       // wait `pauseMs` before the next action
    kFlushInput,  // discard answers the updater never read (the pty's queue towards it)
    kHangUp,      // close the device's side of the pty for good
  };
  Kind kind = kWrite;
  std::vector<uint8_t> bytes;
  int pauseMs = 0;
};

struct PacketFaultRule;  // what a packet fault does (the table in session.cpp)

class Session {
public:
  // `expected` (may be null) is the image the received data is compared with.
  Session(const Options& options, const std::vector<uint8_t>* expected);

  void Feed(const uint8_t* data, size_t length, TimePoint now, std::vector<Action>* out);
  // Runs the time-outs that are due at `now`.
  void Tick(TimePoint now, std::vector<Action>* out);
  // The next moment Tick has something to do; false when nothing waits on time.
  bool NextDeadline(TimePoint* when) const;
  // The device is being stopped: an update whose transfer completed ends now instead of after
  // the quiet that follows its EOTs. Any other update stays as it is.
  void Close();

  const Result& Current() const { return m_cur; }
  const std::vector<Result>& Finished() const { return m_finished; }
  bool HungUp() const { return m_state == State::kGone; }

private:
  enum class State {
    kCommand,     // between updates and before the transfer: command frames
    kWaitHeader,  // transfer: waiting for SOH, STX, EOT
    kPacket,      // collecting a data packet
    kDrain,       // discarding the rest of a bad packet until the line is quiet, then NAK
    kEnding,      // EOT answered; counting the EOTs that follow before closing the update
    kMuted,       // stopped answering for good
    kGone,        // hung up
  };

  void Byte(uint8_t b, TimePoint now, std::vector<Action>* out);
  void CommandByte(uint8_t b, TimePoint now, std::vector<Action>* out);
  void Frame(proto::FrameVerdict verdict, TimePoint now, std::vector<Action>* out);
  void VersionQuery(std::vector<Action>* out);
  void Download(const proto::CommandFrame& frame, TimePoint now, std::vector<Action>* out);
  void HeaderByte(uint8_t b, TimePoint now, std::vector<Action>* out);
  void Packet(TimePoint now, std::vector<Action>* out);
  void PacketFault(const PacketFaultRule& rule, unsigned number, TimePoint now,
                   std::vector<Action>* out);
  void StoredFault(const PacketFaultRule& rule, unsigned number, std::vector<Action>* out);
  bool StateDeadline(TimePoint* when) const;
  void StateTimeout(TimePoint now, std::vector<Action>* out);
  bool AwaitsUpdater() const;
  void StartStream(TimePoint now, std::vector<Action>* out);
  void BeginUpdate();
  void EndUpdate();
  void Verify(Result* r) const;
  void Send(std::vector<Action>* out, std::vector<uint8_t> bytes);
  void Nak(std::vector<Action>* out);
  void Error(const std::string& text);
  void Log(const char* format, ...) const;
  bool FaultActive(Fault fault) const;
  bool TakeFault(Fault fault);

  Options m_opt;
  const std::vector<uint8_t>* m_expected;
  TimePoint m_epoch;

  State m_state = State::kCommand;
  proto::CommandAssembler m_frames;
  std::vector<uint8_t> m_buf;  // packet being collected
  size_t m_need = 0;           // bytes of the packet being collected
  TimePoint m_lastByte;        // when the updater's last byte came

  bool m_inUpdate = false;
  int m_updates = 0;
  Result m_cur;
  std::vector<Result> m_finished;

  // The transfer.
  bool m_awaitingFirst = false;  // 'C' sent, nothing back yet
  int m_startRequests = 0;       // 'C's sent for this start
  TimePoint m_startSent;
  uint8_t m_expectedSeq = 1;
  bool m_haveLast = false;
  uint8_t m_lastSeq = 0;
  size_t m_lastBlock = 0;        // data size of the last stored packet
  int m_faultUses = 0;           // times a packet fault acted in this update
};

}  // namespace devsim
