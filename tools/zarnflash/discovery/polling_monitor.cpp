// Arrivals found by comparing one look at the present ports with the one before.
#include "tools/zarnflash/discovery/polling_monitor.h"

#include <chrono>
#include <thread>

#include "tools/zarnflash/discovery/candidates.h"

PollingMonitor::PollingMonitor(Look look, int intervalMs)
    : m_look(std::move(look)), m_intervalMs(intervalMs) {
  // What is there now is no arrival.
  LookAgain();
  m_arrived.clear();
}

void PollingMonitor::LookAgain() {
  std::vector<Candidate> now;
  if (!m_look(&now)) return;
  std::set<std::string> present;
  for (Candidate& candidate : now) {
    const std::string key = CanonicalPort(candidate.port);
    if (!present.insert(key).second) continue;
    if (!m_present.count(key)) m_arrived.push_back(std::move(candidate));
  }
  m_present.swap(present);
}

int PollingMonitor::NextAdded(Candidate* added, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (m_arrived.empty()) LookAgain();
    if (!m_arrived.empty()) {
      *added = m_arrived.front();
      m_arrived.pop_front();
      return 1;
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return 0;
    const Clock::time_point next = now + std::chrono::milliseconds(m_intervalMs);
    std::this_thread::sleep_until(next < deadline ? next : deadline);
  }
}

std::unique_ptr<PortMonitor> MakePatternMonitor(const std::vector<std::string>& patterns) {
  return std::unique_ptr<PortMonitor>(new PollingMonitor(
      [patterns](std::vector<Candidate>* out) {
        std::string ignored;  // a pattern whose folder is unreadable now may be readable later
        return PatternCandidates(patterns, out, &ignored);
      },
      kMonitorPollMs));
}
