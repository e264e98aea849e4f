// Unit tests of the window's update state: the reaction to every status code, and the rules
// that keep a press of Update from starting a second update.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "flash/status_codes.h"
#include "ui/update_state.h"

namespace {

using Box = StatusReaction::Box;
using Phase = UpdateState::Phase;
using Press = UpdateState::Press;

// ---- The reaction table -----------------------------------------------------------------

struct ReactionCase {
  long long code;
  uint32_t value;
  std::optional<int> bar;  // the bar's new position; none leaves it
  bool button;             // enabled
  int status;              // status line text
  bool version;            // version line rewritten
  int boxText;
  Box box;
  bool closes;
  bool final;
  const char* description;
};

constexpr int kNone = kNoText;

const ReactionCase kReactionCases[] = {
    {1, 7, 0, false, kNone, false, kNone, Box::kNone, false, false,
     "transfer failed, progress reset"},
    {2, 42, 42, false, kNone, false, kNone, Box::kNone, false, false, "progress 42"},
    {2, 150, 150, false, kNone, false, kNone, Box::kNone, false, false, "progress 150"},
    {2, 4294967295u, -1, false, kNone, false, kNone, Box::kNone, false, false,
     "progress 4294967295"},
    {3, 100, 100, true, 20, false, 11, Box::kSuccess, false, true,
     "finished: the image has been transferred"},
    {4, 0, 0, true, kNone, false, 8, Box::kFailure, false, true,
     "link error: the device did not answer as expected"},
    {5, 37, 0, true, kNone, false, 9, Box::kFailure, false, true,
     "read error: the image file could not be read (at 37%)"},
    {6, 7, 0, true, kNone, false, 10, Box::kFailure, false, true, "status 6 value 7"},
    {7, 0, 0, true, kNone, false, 10, Box::kFailure, false, true,
     "rejected: the device refused or cancelled the download"},
    {8, 0, 0, true, kNone, false, 15, Box::kFailure, true, true, "status 8 value 0"},
    {9, 0x0102, std::nullopt, false, kNone, true, kNone, Box::kNone, false, false,
     "device firmware V1.02"},
    {9, 0xABCDEF, std::nullopt, false, kNone, true, kNone, Box::kNone, false, false,
     "device firmware V205.239"},
    {10, 0, 0, true, kNone, false, 9, Box::kFailure, false, true,
     "size error: the image does not fit the device's flash"},
    {0, 5, 0, true, kNone, false, kNone, Box::kNone, false, true, "status 0 value 5"},
    {11, 3, 0, true, kNone, false, kNone, Box::kNone, false, true, "status 11 value 3"},
    {-3, 4294967295u, 0, true, kNone, false, kNone, Box::kNone, false, true,
     "status -3 value 4294967295"},
    // A wide code is not taken for the code in its low bits.
    {0x100000003LL, 1, 0, true, kNone, false, kNone, Box::kNone, false, true,
     "status 4294967299 value 1"},
};

class Reactions : public testing::TestWithParam<ReactionCase> {};

TEST_P(Reactions, MatchTheWindowsTable) {
  const ReactionCase& c = GetParam();
  const StatusReaction& r = ReactionToStatus(c.code);
  int position = -12345;
  const bool moves = r.BarPosition(c.value, &position);
  EXPECT_EQ(moves ? std::optional<int>(position) : std::nullopt, c.bar);
  EXPECT_EQ(r.enablesButton, c.button);
  EXPECT_EQ(r.statusText, c.status);
  EXPECT_EQ(r.rewritesVersion, c.version);
  EXPECT_EQ(r.box, c.box);
  if (c.box != Box::kNone) {
    EXPECT_EQ(r.boxText, c.boxText);
  }
  EXPECT_EQ(r.closesWindow, c.closes);
  EXPECT_EQ(r.final, c.final);
  EXPECT_EQ(DescribeStatus(c.code, c.value), c.description);
}

std::string CaseName(const testing::TestParamInfo<ReactionCase>& info) {
  const long long code = info.param.code;
  return (code < 0 ? "minus" + std::to_string(-code) : std::to_string(code)) + "_value" +
         std::to_string(info.param.value);
}

INSTANTIATE_TEST_SUITE_P(UpdateState, Reactions, testing::ValuesIn(kReactionCases), CaseName);

// The phase rules below read "final" as "the button is enabled again": the two never differ.
TEST(ReactionTable, AReportEndsTheUpdateExactlyWhenItEnablesTheButton) {
  for (long long code = -2; code <= 13; ++code) {
    const StatusReaction& r = ReactionToStatus(code);
    EXPECT_EQ(r.final, r.enablesButton) << "code " << code;
  }
}

// ---- The phase and the refusals of a second update --------------------------------------

class Presses : public testing::Test {
 protected:
  // A press accepted with no worker running, the install stage, and the worker's start.
  void StartUpdate() {
    ASSERT_EQ(state.ConsiderPress(false), Press::kStart);
    state.PreparingBegins();
    state.PreparingEnds();
    state.WorkerStarts();
  }
  void Report(long long code) {
    state.ReportBegins(code);
    state.ReportEnds();
  }

  UpdateState state;
};

TEST_F(Presses, ThePreparedUpdateRefusesEveryPress) {
  EXPECT_EQ(state.phase(), Phase::kIdle);
  EXPECT_EQ(state.ConsiderPress(false), Press::kStart);
  state.PreparingBegins();
  EXPECT_EQ(state.phase(), Phase::kPreparing);
  EXPECT_EQ(state.ConsiderPress(false), Press::kRefuse);
  EXPECT_EQ(state.ConsiderPress(true), Press::kRefuse);
  // A close during the install stage starts no worker: the next press is free again.
  state.PreparingEnds();
  EXPECT_EQ(state.phase(), Phase::kIdle);
  EXPECT_EQ(state.ConsiderPress(false), Press::kStart);
}

TEST_F(Presses, TheRunningWorkerRefusesEveryPressUntilItsOutcome) {
  StartUpdate();
  EXPECT_EQ(state.phase(), Phase::kRunning);
  for (long long code : {STATUS_DEVICE_VERSION, STATUS_PROGRESS, STATUS_RESET}) {
    Report(code);
    EXPECT_EQ(state.phase(), Phase::kRunning) << "code " << code;
    EXPECT_EQ(state.ConsiderPress(true), Press::kRefuse) << "code " << code;
  }
  // A worker that could not be started leaves nothing to wait for.
  EXPECT_EQ(state.ConsiderPress(false), Press::kStart);
}

TEST_F(Presses, APressWhileAReportIsHandledIsRefusedEvenWithTheWorkerGone) {
  StartUpdate();
  const StatusReaction& r = state.ReportBegins(STATUS_FINISHED);
  EXPECT_EQ(r.box, Box::kSuccess);
  EXPECT_TRUE(state.HandlingReport());
  EXPECT_EQ(state.ConsiderPress(false), Press::kRefuse);
  EXPECT_EQ(state.ConsiderPress(true), Press::kRefuse);
  state.ReportEnds();
  EXPECT_FALSE(state.HandlingReport());
  EXPECT_EQ(state.ConsiderPress(false), Press::kStart);
}

// Every outcome lets a press wait for the closing worker, and start once it has ended.
class Outcomes : public Presses, public testing::WithParamInterface<long long> {};

TEST_P(Outcomes, APressWaitsForTheClosingWorkerThenStarts) {
  StartUpdate();
  Report(GetParam());
  EXPECT_EQ(state.phase(), Phase::kOutcomeShown);
  ASSERT_EQ(state.ConsiderPress(true), Press::kWaitForWorker);
  const unsigned boxes = state.ResultBoxes();
  EXPECT_TRUE(state.MayStartAfterWait(boxes, false));
  EXPECT_FALSE(state.MayStartAfterWait(boxes, true)) << "the worker did not end in time";
  EXPECT_EQ(state.ConsiderPress(false), Press::kStart);
}

INSTANTIATE_TEST_SUITE_P(UpdateState, Outcomes,
                         testing::Values(STATUS_FINISHED, STATUS_LINK_ERROR, STATUS_READ_ERROR,
                                         6, STATUS_REJECTED, STATUS_DEVICE_FAULT,
                                         STATUS_SIZE_ERROR, 0, 11));

TEST_F(Presses, AReportWithoutABoxDuringTheWaitStillLetsThePressStart) {
  // A failed transfer reports its error, then resets the bar as the worker ends; a code
  // without a row of its own ends an update without a box.
  StartUpdate();
  Report(STATUS_LINK_ERROR);
  for (long long code : {static_cast<int>(STATUS_RESET), 0}) {
    ASSERT_EQ(state.ConsiderPress(true), Press::kWaitForWorker) << "code " << code;
    const unsigned boxes = state.ResultBoxes();
    Report(code);
    EXPECT_TRUE(state.MayStartAfterWait(boxes, false)) << "code " << code;
  }
}

TEST_F(Presses, AResultBoxShownDuringTheWaitRefusesThePress) {
  StartUpdate();
  Report(0);  // an outcome without a box
  ASSERT_EQ(state.ConsiderPress(true), Press::kWaitForWorker);
  const unsigned boxes = state.ResultBoxes();
  Report(STATUS_LINK_ERROR);
  EXPECT_FALSE(state.MayStartAfterWait(boxes, false));
}

TEST_F(Presses, APressAfterAFailedDatabaseReadStartsNoSecondUpdate) {
  StartUpdate();
  // The device's version report; the window's database read fails inside it.
  state.ReportBegins(STATUS_DEVICE_VERSION);
  state.ReportBegins(STATUS_READ_ERROR);
  EXPECT_EQ(state.ConsiderPress(true), Press::kRefuse) << "box 9 is showing";
  state.ReportEnds();
  state.ReportEnds();
  EXPECT_EQ(state.phase(), Phase::kOutcomeShown);

  // The transfer goes on: a press now waits, and the worker outlasts the wait.
  ASSERT_EQ(state.ConsiderPress(true), Press::kWaitForWorker);
  EXPECT_FALSE(state.MayStartAfterWait(state.ResultBoxes(), true));

  // Or the transfer ends within the wait with its own box: still no second update.
  ASSERT_EQ(state.ConsiderPress(true), Press::kWaitForWorker);
  const unsigned boxes = state.ResultBoxes();
  Report(STATUS_PROGRESS);
  Report(STATUS_FINISHED);
  EXPECT_FALSE(state.MayStartAfterWait(boxes, false));

  // A press after that box starts the next update.
  EXPECT_EQ(state.ConsiderPress(false), Press::kStart);
}

TEST_F(Presses, TheNextUpdateWaitsForItsOwnOutcome) {
  StartUpdate();
  Report(STATUS_FINISHED);
  StartUpdate();
  EXPECT_EQ(state.phase(), Phase::kRunning);
  EXPECT_EQ(state.ConsiderPress(true), Press::kRefuse);
}

}  // namespace
