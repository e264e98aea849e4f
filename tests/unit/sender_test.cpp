// The transfer's sender state machine on its own, without a line: scripted answers, reads and
// writes in, the trace of its actions and reports out.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "flash/sender.h"
#include "flash/status_codes.h"

namespace {

using proto::Sender;
using Action = Sender::Action;

// What the line, the file and the device do. Answers are one character per wait:
// 'C' 'A'(ACK) 'N'(NAK) 'X'(CAN) 'g'(0x55) 'z'(a 0 byte) 'e'(EOT); a wait past the end of the
// string times out. Reads and writes are numbered from 1 in the order they happen.
struct Script {
  uint32_t length;
  std::string answers;
  int failRead = 0;   // this block read fails
  int failWrite = 0;  // this write fails (command, packets, resends and EOTs all count)
};

uint8_t AnswerByte(char c) {
  switch (c) {
    case 'C': return proto::kCrcMode;
    case 'A': return proto::kACK;
    case 'N': return proto::kNAK;
    case 'X': return proto::kCAN;
    case 'g': return 0x55;
    case 'e': return proto::kEOT;
    default: return 0;
  }
}

// Runs the sender to its end and returns its trace: "D" download command, "?" answer wait,
// "R" rewind and read, "r" read, "P<seq>" packet, "p" resend, "E" EOT, "!" after a failed read
// or write, "[code:value]" a report, "=1"/"=0" the finish.
std::string Trace(const Script& script, Sender::Counts* counts = nullptr) {
  Sender sender(script.length, 1024);
  std::ostringstream out;
  size_t answer = 0;
  int reads = 0, writes = 0;
  Sender::Step step = sender.Start();
  for (int guard = 0; guard < 10000; ++guard) {
    if (step.reportCode) out << "[" << step.reportCode << ":" << step.reportValue << "] ";
    auto write = [&](const std::string& token) {
      const bool ok = ++writes != script.failWrite;
      out << token << (ok ? "" : "!") << " ";
      step = sender.OnWritten(ok);
    };
    auto read = [&](const char* token) {
      const bool ok = ++reads != script.failRead;
      out << token << (ok ? "" : "!") << " ";
      step = sender.OnBlockRead(ok);
    };
    switch (step.action) {
      case Action::kSendCommand: write("D"); break;
      case Action::kWaitAnswer:
        out << "? ";
        step = answer < script.answers.size() ? sender.OnAnswer(AnswerByte(script.answers[answer++]))
                                             : sender.OnTimeout();
        break;
      case Action::kRewindAndReadBlock: read("R"); break;
      case Action::kReadBlock: read("r"); break;
      case Action::kSendPacket: write("P" + std::to_string(step.sequence)); break;
      case Action::kResendPacket: write("p"); break;
      case Action::kSendEot: write("E"); break;
      case Action::kFinish:
        out << "=" << (step.success ? 1 : 0);
        EXPECT_EQ(Sender::Phase::kFinished, sender.GetPhase());
        EXPECT_EQ(step.success, sender.Succeeded());
        if (counts) *counts = sender.GetCounts();
        return out.str();
    }
  }
  return out.str() + " (no end)";
}

struct Case {
  const char* name;
  Script script;
  const char* trace;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SenderTrace : public ::testing::TestWithParam<Case> {};

TEST_P(SenderTrace, FollowsTheRules) { EXPECT_EQ(GetParam().trace, Trace(GetParam().script)); }

std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

// Three blocks unless said otherwise: step 1, so every packet sent on an ACK reports
// sent * 100 / 3.
constexpr uint32_t k3 = 3 * 1024;
const char kSuccess[] = "D ? R P1 ? r P2 [2:66] ? r P3 [2:100] ? E E E E [3:100] =1";

INSTANTIATE_TEST_SUITE_P(
    Transfers, SenderTrace,
    ::testing::Values(
        Case{"success", {k3, "CAAA"}, kSuccess},
        Case{"ack_as_first_answer_starts_like_c",
             {k3, "AAAA"}, "D ? r P1 [2:33] ? r P2 [2:66] ? r P3 [2:100] ? E E E E [3:100] =1"},
        Case{"empty_image_reads_no_answer", {0, ""}, "D E E E E [3:100] =1"},
        Case{"one_block_waits_for_the_answer_to_its_packet",
             {1, "CA"}, "D ? R P1 ? E E E E [3:100] =1"},
        Case{"one_block_nak_resends_the_last_packet",
             {1, "CNA"}, "D ? R P1 ? p ? E E E E [3:100] =1"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Answers, SenderTrace,
    ::testing::Values(
        // First answer, to the download command.
        Case{"nak_refuses_the_download_command", {k3, "N"}, "D ? [7:0] =0"},
        Case{"can_to_the_command", {k3, "X"}, "D ? [7:0] =0"},
        Case{"garbage_to_the_command", {k3, "g"}, "D ? [4:0] =0"},
        Case{"zero_byte_to_the_command", {k3, "z"}, "D ? [4:0] =0"},
        Case{"timeout_on_the_command", {k3, ""}, "D ? [4:0] =0"},
        // A middle packet.
        Case{"nak_resends_the_same_packet",
             {k3, "CANAA"}, "D ? R P1 ? r P2 [2:66] ? p ? r P3 [2:100] ? E E E E [3:100] =1"},
        Case{"can_at_a_middle_packet", {k3, "CAX"}, "D ? R P1 ? r P2 [2:66] ? [7:0] =0"},
        Case{"garbage_at_a_middle_packet", {k3, "CAg"}, "D ? R P1 ? r P2 [2:66] ? [4:0] =0"},
        Case{"eot_byte_at_a_middle_packet", {k3, "CAe"}, "D ? R P1 ? r P2 [2:66] ? [4:0] =0"},
        Case{"timeout_at_a_middle_packet", {k3, "CA"}, "D ? R P1 ? r P2 [2:66] ? [4:0] =0"},
        Case{"c_restarts_from_block_1",
             {k3, "CCAAA"},
             "D ? R P1 ? R P1 ? r P2 [2:66] ? r P3 [2:100] ? E E E E [3:100] =1"},
        // The last packet's answer is read too.
        Case{"nak_on_the_last_packet",
             {k3, "CAANA"}, "D ? R P1 ? r P2 [2:66] ? r P3 [2:100] ? p ? E E E E [3:100] =1"},
        Case{"can_on_the_last_packet", {k3, "CAAX"}, "D ? R P1 ? r P2 [2:66] ? r P3 [2:100] ? [7:0] =0"},
        Case{"garbage_on_the_last_packet", {k3, "CAAg"}, "D ? R P1 ? r P2 [2:66] ? r P3 [2:100] ? [4:0] =0"},
        Case{"timeout_on_the_last_packet", {k3, "CAA"}, "D ? R P1 ? r P2 [2:66] ? r P3 [2:100] ? [4:0] =0"},
        Case{"c_on_the_last_packet_restarts",
             {k3, "CAACAAA"},
             "D ? R P1 ? r P2 [2:66] ? r P3 [2:100] ? R P1 ? r P2 [2:66] ? r P3 [2:100] ? E E E E [3:100] =1"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Naks, SenderTrace,
    ::testing::Values(
        Case{"nine_naks_in_a_row_are_survived",
             {1, "CNNNNNNNNNA"}, "D ? R P1 ? p ? p ? p ? p ? p ? p ? p ? p ? p ? E E E E [3:100] =1"},
        Case{"the_tenth_nak_in_a_row_ends_it",
             {1, "CNNNNNNNNNN"}, "D ? R P1 ? p ? p ? p ? p ? p ? p ? p ? p ? p ? [4:0] =0"},
        Case{"the_count_starts_again_at_every_new_packet",
             {2 * 1024, "CNNNNNNNNNANNNNNNNNNA"},
             "D ? R P1 ? p ? p ? p ? p ? p ? p ? p ? p ? p ? r P2 [2:100] "
             "? p ? p ? p ? p ? p ? p ? p ? p ? p ? E E E E [3:100] =1"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Failures, SenderTrace,
    ::testing::Values(
        Case{"first_block_unreadable", {k3, "CAAA", 1}, "D ? R! [5:0] =0"},
        Case{"middle_block_unreadable", {k3, "CAAA", 2}, "D ? R P1 ? r! [5:33] =0"},
        Case{"last_block_unreadable", {k3, "CAAA", 3}, "D ? R P1 ? r P2 [2:66] ? r! [5:66] =0"},
        Case{"first_block_unreadable_after_an_ack", {k3, "AAAA", 1}, "D ? r! [5:0] =0"},
        Case{"command_not_written", {k3, "CAAA", 0, 1}, "D! [4:0] =0"},
        Case{"first_packet_not_written", {k3, "CAAA", 0, 2}, "D ? R P1! [4:0] =0"},
        Case{"middle_packet_not_written", {k3, "CAAA", 0, 3}, "D ? R P1 ? r P2! [4:0] =0"},
        Case{"last_packet_not_written", {k3, "CAAA", 0, 4}, "D ? R P1 ? r P2 [2:66] ? r P3! [4:0] =0"},
        Case{"resend_not_written", {k3, "CN", 0, 3}, "D ? R P1 ? p! [4:0] =0"},
        Case{"first_eot_not_written", {k3, "CAAA", 0, 5},
             "D ? R P1 ? r P2 [2:66] ? r P3 [2:100] ? E! [4:0] =0"},
        Case{"second_eot_not_written_still_finishes", {k3, "CAAA", 0, 6},
             "D ? R P1 ? r P2 [2:66] ? r P3 [2:100] ? E E! [3:100] =1"},
        Case{"fourth_eot_not_written_still_finishes", {k3, "CAAA", 0, 8},
             "D ? R P1 ? r P2 [2:66] ? r P3 [2:100] ? E E E E! [3:100] =1"},
        Case{"empty_image_first_eot_not_written", {0, "", 0, 2}, "D E! [4:0] =0"}),
    CaseName);

// The trace table above fixes 'C', ACK, NAK, CAN and a few others; every other byte is a link
// failure in each phase that waits for an answer.
TEST(Sender, EveryOtherAnswerByteIsALinkFailureInEveryPhase) {
  const std::string prefixes[] = {"", "C", "CAA"};  // first answer, middle packet, last packet
  for (const std::string& prefix : prefixes) {
    for (int b = 0; b < 256; ++b) {
      if (b == proto::kCrcMode || b == proto::kACK || b == proto::kNAK || b == proto::kCAN) continue;
      Sender sender(3 * 1024, 1024);
      Sender::Step step = sender.Start();
      step = sender.OnWritten(true);
      for (char c : prefix) {
        step = sender.OnAnswer(AnswerByte(c));
        step = sender.OnBlockRead(true);
        step = sender.OnWritten(true);
      }
      ASSERT_EQ(Action::kWaitAnswer, step.action);
      step = sender.OnAnswer(static_cast<uint8_t>(b));
      SCOPED_TRACE("answer " + std::to_string(b) + " after \"" + prefix + "\"");
      EXPECT_EQ(STATUS_LINK_ERROR, step.reportCode);
      EXPECT_EQ(0u, step.reportValue);
      EXPECT_EQ(Action::kFinish, step.action);
      EXPECT_FALSE(step.success);
    }
  }
}

TEST(Sender, PhasesAreNamed) {
  Sender sender(2 * 1024, 1024);
  EXPECT_EQ(Sender::Phase::kAnnouncing, sender.GetPhase());
  sender.Start();
  sender.OnWritten(true);
  EXPECT_EQ(Sender::Phase::kWaitingFirstAnswer, sender.GetPhase());
  sender.OnAnswer(proto::kCrcMode);
  sender.OnBlockRead(true);
  // A packet built but not yet written is no packet sent: a NAK now would still refuse.
  EXPECT_EQ(Sender::Phase::kWaitingFirstAnswer, sender.GetPhase());
  sender.OnWritten(true);
  EXPECT_EQ(Sender::Phase::kSendingBlocks, sender.GetPhase());
  sender.OnAnswer(proto::kACK);
  sender.OnBlockRead(true);
  sender.OnWritten(true);
  sender.OnAnswer(proto::kACK);
  EXPECT_EQ(Sender::Phase::kEot, sender.GetPhase());
}

TEST(Sender, EventsOutOfTurnChangeNothing) {
  Sender sender(3 * 1024, 1024);
  Sender::Step step = sender.Start();
  // Before the command is written, neither answers nor reads count.
  EXPECT_EQ(Action::kSendCommand, sender.OnAnswer(proto::kCAN).action);
  EXPECT_EQ(Action::kSendCommand, sender.OnBlockRead(false).action);
  EXPECT_EQ(Action::kSendCommand, sender.OnTimeout().action);
  step = sender.OnWritten(true);
  ASSERT_EQ(Action::kWaitAnswer, step.action);
  // While an answer is awaited, a write or read outcome is no answer.
  step = sender.OnWritten(false);
  EXPECT_EQ(Action::kWaitAnswer, step.action);
  EXPECT_EQ(0, step.reportCode);
  step = sender.OnBlockRead(false);
  EXPECT_EQ(Action::kWaitAnswer, step.action);
  EXPECT_EQ(0, step.reportCode);
  EXPECT_EQ(Sender::Phase::kWaitingFirstAnswer, sender.GetPhase());
}

TEST(Sender, StaysFinishedWithoutFurtherReports) {
  Sender sender(3 * 1024, 1024);
  sender.Start();
  sender.OnWritten(true);
  Sender::Step step = sender.OnAnswer(proto::kCAN);
  ASSERT_EQ(STATUS_REJECTED, step.reportCode);
  for (Sender::Step again : {sender.OnAnswer(proto::kCrcMode), sender.OnTimeout(), sender.OnWritten(true),
                             sender.OnBlockRead(true), sender.Start()}) {
    EXPECT_EQ(Action::kFinish, again.action);
    EXPECT_EQ(0, again.reportCode);
    EXPECT_FALSE(again.success);
  }
}

TEST(Sender, CountsWhatTheLineDid) {
  Sender::Counts counts;
  Trace({k3, "CANCAAA"}, &counts);  // a resend of packet 2, then a restart
  EXPECT_EQ(3u, counts.sent);
  EXPECT_EQ(1u, counts.resends);
  EXPECT_EQ(1u, counts.restarts);
  EXPECT_EQ(0u, counts.timeouts);
  EXPECT_EQ(4u, counts.eots);
  Trace({k3, "CA"}, &counts);
  EXPECT_EQ(1u, counts.timeouts);
}

// The sample image: 998 blocks, step 9. Packet 1 answers 'C' (no report), then a report at
// sent 10, 19, ..., 991 with the values 1 to 110; the 256th packet carries sequence 0.
TEST(Sender, LargeImageProgressAndSequenceWrap) {
  Sender sender(1021808, 1024);
  Sender::Step step = sender.Start();
  step = sender.OnWritten(true);
  std::vector<std::pair<uint32_t, uint32_t>> reports;  // sent, value
  std::vector<uint8_t> sequences;
  for (bool first = true; step.action != Action::kSendEot; first = false) {
    ASSERT_EQ(Action::kWaitAnswer, step.action);
    step = sender.OnAnswer(first ? proto::kCrcMode : proto::kACK);
    if (step.action == Action::kSendEot) break;
    step = sender.OnBlockRead(true);
    ASSERT_EQ(Action::kSendPacket, step.action);
    sequences.push_back(step.sequence);
    step = sender.OnWritten(true);
    if (step.reportCode == STATUS_PROGRESS) reports.emplace_back(sender.GetCounts().sent, step.reportValue);
  }
  ASSERT_EQ(998u, sequences.size());
  EXPECT_EQ(1, sequences[0]);
  EXPECT_EQ(255, sequences[254]);
  EXPECT_EQ(0, sequences[255]);
  EXPECT_EQ(1, sequences[256]);
  ASSERT_EQ(110u, reports.size());
  EXPECT_EQ(std::make_pair(10u, 1u), reports.front());
  EXPECT_EQ(std::make_pair(19u, 2u), reports[1]);
  EXPECT_EQ(std::make_pair(991u, 110u), reports.back());
  for (size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(10 + 9 * i, reports[i].first);
    EXPECT_EQ(i + 1, reports[i].second);
  }
}

}  // namespace
