// The reaction table of the loader's status reports and the phase of the window's one update.
#include "ui/update_state.h"

#include <cstdio>

#include "flash/status_codes.h"

namespace {

using Bar = StatusReaction::Bar;
using Box = StatusReaction::Box;
using Detail = StatusReaction::Detail;

constexpr const char kUnnamed[] = "status %lld value %u";

// Rows for codes 1 to 10, then the row every other code shares. Codes 6 and 8 have no words
// of their own at a terminal.
constexpr StatusReaction kReactions[] = {
    // STATUS_RESET follows a failed transfer's own report: it only empties the bar.
    {Bar::kEmpty, false, kNoText, false, kNoText, Box::kNone, false, false,
     "transfer failed, progress reset", Detail::kNone},
    {Bar::kValue, false, kNoText, false, kNoText, Box::kNone, false, false, "progress %u",
     Detail::kValue},
    {Bar::kFull, true, 20, false, 11, Box::kSuccess, false, true,
     "finished: the image has been transferred", Detail::kNone},
    {Bar::kEmpty, true, kNoText, false, 8, Box::kFailure, false, true,
     "link error: the device did not answer as expected", Detail::kNone},
    {Bar::kEmpty, true, kNoText, false, 9, Box::kFailure, false, true,
     "read error: the image file could not be read (at %u%%)", Detail::kValue},
    {Bar::kEmpty, true, kNoText, false, 10, Box::kFailure, false, true, kUnnamed,
     Detail::kCodeAndValue},
    {Bar::kEmpty, true, kNoText, false, 10, Box::kFailure, false, true,
     "rejected: the device refused or cancelled the download", Detail::kNone},
    {Bar::kEmpty, true, kNoText, false, 15, Box::kFailure, true, true, kUnnamed,
     Detail::kCodeAndValue},
    {Bar::kUnchanged, false, kNoText, true, kNoText, Box::kNone, false, false,
     "device firmware V%u.%02u", Detail::kVersion},
    {Bar::kEmpty, true, kNoText, false, 9, Box::kFailure, false, true,
     "size error: the image does not fit the device's flash", Detail::kNone},
    // Any other code ends the update without a word.
    {Bar::kEmpty, true, kNoText, false, kNoText, Box::kNone, false, true, kUnnamed,
     Detail::kCodeAndValue},
};

constexpr long long kFirstCode = STATUS_RESET;
constexpr long long kLastCode = STATUS_SIZE_ERROR;
static_assert(sizeof kReactions / sizeof kReactions[0] == kLastCode - kFirstCode + 2,
              "one row per code and one for the rest");

}  // namespace

bool StatusReaction::BarPosition(uint32_t value, int* position) const {
  switch (bar) {
    case Bar::kUnchanged: return false;
    case Bar::kValue: *position = static_cast<int>(value); return true;
    case Bar::kEmpty: *position = 0; return true;
    case Bar::kFull: *position = 100; return true;
  }
  return false;
}

const StatusReaction& ReactionToStatus(long long code) {
  if (code < kFirstCode || code > kLastCode) return kReactions[kLastCode - kFirstCode + 1];
  return kReactions[code - kFirstCode];
}

std::string DescribeStatus(long long code, uint32_t value) {
  const StatusReaction& reaction = ReactionToStatus(code);
  char text[96];
  switch (reaction.detail) {
    case Detail::kNone: return reaction.description;
    case Detail::kValue: std::snprintf(text, sizeof text, reaction.description, value); break;
    case Detail::kVersion:
      std::snprintf(text, sizeof text, reaction.description, (value >> 8) & 0xFF, value & 0xFF);
      break;
    case Detail::kCodeAndValue:
      std::snprintf(text, sizeof text, reaction.description, code, value);
      break;
  }
  return text;
}

UpdateState::Press UpdateState::ConsiderPress(bool workerRunning) const {
  if (m_phase == Phase::kPreparing || m_reportDepth > 0) return Press::kRefuse;
  if (!workerRunning) return Press::kStart;
  if (m_phase == Phase::kRunning) return Press::kRefuse;
  return Press::kWaitForWorker;
}

bool UpdateState::MayStartAfterWait(unsigned boxesBefore, bool workerRunning) const {
  return !workerRunning && m_resultBoxes == boxesBefore;
}

const StatusReaction& UpdateState::ReportBegins(long long code) {
  ++m_reportDepth;
  const StatusReaction& reaction = ReactionToStatus(code);
  // The outcome ends the wait of a running update; an update being prepared stays refused.
  if (reaction.final && m_phase == Phase::kRunning) m_phase = Phase::kOutcomeShown;
  if (reaction.box != Box::kNone) ++m_resultBoxes;
  return reaction;
}
