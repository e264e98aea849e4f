// A monitor over any list of present ports: it looks again at an interval and reports the
// ports that were not in the previous look.
#pragma once
#include <deque>
#include <functional>
#include <set>

#include "tools/zarnflash/discovery/monitor.h"

class PollingMonitor : public PortMonitor {
public:
  // `look` appends the ports present now; it returns 0 when it cannot tell (that look is
  // skipped, nothing is taken as gone).
  using Look = std::function<int(std::vector<Candidate>*)>;
  PollingMonitor(Look look, int intervalMs);

  int WaitHandle() const override { return -1; }
  int NextAdded(Candidate* added, int timeoutMs) override;

private:
  void LookAgain();

  Look m_look;
  int m_intervalMs;
  std::set<std::string> m_present;  // canonical ports of the last look
  std::deque<Candidate> m_arrived;  // seen in a look, not yet reported
};
