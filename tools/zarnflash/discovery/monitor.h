// Watching for ports that appear, for station mode: the system's own events (a udev monitor
// on Linux), a poll of the "Ports" walk (Windows), or a poll of the --ports patterns (ptys of a
// simulator, which raise no events). Only arrivals after the monitor was made are reported, so
// make it before listing the ports already present, and key both by DeviceKey.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "tools/zarnflash/discovery/candidate.h"

class PortMonitor {
public:
  virtual ~PortMonitor() {}
  // A descriptor that turns readable when a port may have appeared, for a caller's own poll;
  // -1 where there is none (then call NextAdded with a time-out).
  virtual int WaitHandle() const = 0;
  // Waits up to `timeoutMs` (0: only looks) for a port that appeared and passes the filter.
  // 1 with *added filled, 0 on time-out. A port that goes and comes back is reported again.
  virtual int NextAdded(Candidate* added, int timeoutMs) = 0;
};

// Interval of the polling monitors: an arrival is seen within this time.
constexpr int kMonitorPollMs = 200;

// The system's USB serial ports as they are plugged in. 0 with the reason in *error when the
// system cannot be watched.
std::unique_ptr<PortMonitor> MakeSystemMonitor(const CandidateFilter& filter, std::string* error);

// The ports the patterns name, looked for every kMonitorPollMs.
std::unique_ptr<PortMonitor> MakePatternMonitor(const std::vector<std::string>& patterns);
