// The updater window's update state without the window: what each status report shows, the
// one update's phase, and whether a press of Update may start an update now.
//
// Portable and free of window code, so that it is unit-tested natively and the command-line
// tools describe the reports with the same table. Nothing here blocks or waits: where the
// window has to wait for the worker, it waits itself and then asks again. Nothing throws.
#pragma once
#include <cstdint>
#include <string>

// The window's reaction to one status report. The window carries out the steps in the order
// of the fields: bar, button, status line, version line, box, close.
struct StatusReaction {
  enum class Bar { kUnchanged, kValue, kEmpty, kFull };
  enum class Box { kNone, kFailure, kSuccess };  // a failure has the hand icon, a success the
                                                 // exclamation mark
  // How the value of the report goes into its description.
  enum class Detail { kNone, kValue, kVersion, kCodeAndValue };

  Bar bar;
  bool enablesButton;
  int statusText;        // text row shown in the status line, or kNoText
  bool rewritesVersion;  // the version line shows the device's and the database's versions
  int boxText;           // text row of the box, or kNoText when there is no box
  Box box;
  bool closesWindow;  // the window is asked to close once the box is answered
  bool final;         // the update's outcome: the button may start the next one
  // The plain-English description: a printf format taking what `detail` names (nothing; the
  // value; major and minor as unsigned; the code as long long and the value).
  const char* description;
  Detail detail;

  // The bar's position after a report that carries `value`; false leaves the bar as it is.
  // A value above 100 shows a full bar.
  bool BarPosition(uint32_t value, int* position) const;
};

constexpr int kNoText = -1;

// The reaction to a report with `code`; every code without a row of its own shares one.
const StatusReaction& ReactionToStatus(long long code);

// A report in plain English for people at a terminal, e.g. "progress 42".
std::string DescribeStatus(long long code, uint32_t value);

// One update at a time: two workers would share one loader and one port. The window tells
// this state what happens and asks it about every press.
class UpdateState {
public:
  enum class Phase {
    kIdle,          // no update under way
    kPreparing,     // the image is extracted and the install stage runs
    kRunning,       // the worker was started and has not shown the outcome
    kOutcomeShown,  // the outcome is shown; the worker may still be closing its port
  };
  enum class Press {
    kRefuse,         // the press belongs to the update under way and does nothing
    kStart,          // the press starts an update
    kWaitForWorker,  // wait for the worker to end, then ask MayStartAfterWait
  };

  Phase phase() const { return m_phase; }
  bool HandlingReport() const { return m_reportDepth > 0; }
  // Result boxes shown so far; a wait for the worker notes it first.
  unsigned ResultBoxes() const { return m_resultBoxes; }

  // Whether a press may start an update now. A press while an update is prepared, while a
  // report is handled (its box may be showing) or while the running worker has not shown its
  // outcome is refused. After the outcome a worker that is only closing its port is worth a
  // moment's wait.
  Press ConsiderPress(bool workerRunning) const;
  // The answer after that wait: the worker has ended and no result box was shown while the
  // press waited. A press served during the transfer (a failed database read shows its box
  // early) must not become a second update once the box it waited through is answered.
  bool MayStartAfterWait(unsigned boxesBefore, bool workerRunning) const;

  void PreparingBegins() { m_phase = Phase::kPreparing; }
  // The install stage is done; the window either starts the worker now or starts nothing.
  void PreparingEnds() { m_phase = Phase::kIdle; }
  void WorkerStarts() { m_phase = Phase::kRunning; }
  // A report is being handled until ReportEnds; reports nest (the database read may report
  // inside the report of the device's version). Returns the reaction the window carries out,
  // and counts its outcome and its box as shown.
  const StatusReaction& ReportBegins(long long code);
  void ReportEnds() { --m_reportDepth; }

private:
  Phase m_phase = Phase::kIdle;
  int m_reportDepth = 0;
  unsigned m_resultBoxes = 0;
};
