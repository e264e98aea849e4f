// Station mode on Windows: the "Ports" walk repeated, as the window's connection poll does.
#include "tools/zarnflash/discovery/candidates.h"
#include "tools/zarnflash/discovery/polling_monitor.h"

std::unique_ptr<PortMonitor> MakeSystemMonitor(const CandidateFilter& filter, std::string*) {
  return std::unique_ptr<PortMonitor>(new PollingMonitor(
      [filter](std::vector<Candidate>* out) {
        std::string ignored;
        return SystemCandidates(filter, out, &ignored);
      },
      kMonitorPollMs));
}
