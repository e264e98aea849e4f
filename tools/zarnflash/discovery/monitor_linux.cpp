// Station mode on Linux: udev's events for "tty" devices, after its rules have run (so the
// by-path link and the device file's group are in place when the port is reported).
#include <poll.h>

#include <chrono>
#include <cstring>

#include "tools/zarnflash/discovery/monitor.h"
#include "tools/zarnflash/discovery/udev_tty_linux.h"

namespace {

class UdevMonitor : public PortMonitor {
public:
  UdevMonitor(udev* context, udev_monitor* monitor, const CandidateFilter& filter)
      : m_context(context), m_monitor(monitor), m_filter(filter) {}
  ~UdevMonitor() override {
    udev_monitor_unref(m_monitor);
    udev_unref(m_context);
  }

  int WaitHandle() const override { return udev_monitor_get_fd(m_monitor); }

  int NextAdded(Candidate* added, int timeoutMs) override {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      // The monitor's socket does not block: drain what is queued before waiting.
      while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
        const char* action = udev_device_get_action(device);
        Candidate candidate;
        const bool wanted = action && std::strcmp(action, "add") == 0 &&
                            CandidateFromUsbTty(device, &candidate) &&
                            Admits(m_filter, candidate);
        udev_device_unref(device);
        if (wanted) {
          *added = candidate;
          return 1;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - Clock::now()).count();
      if (left <= 0) return 0;
      pollfd p{WaitHandle(), POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(left));
    }
  }

private:
  udev* m_context;
  udev_monitor* m_monitor;
  CandidateFilter m_filter;
};

}  // namespace

std::unique_ptr<PortMonitor> MakeSystemMonitor(const CandidateFilter& filter,
                                               std::string* error) {
  udev* context = udev_new();
  udev_monitor* monitor = context ? udev_monitor_new_from_netlink(context, "udev") : nullptr;
  if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    *error = "libudev: cannot watch for new serial ports";
    if (monitor) udev_monitor_unref(monitor);
    if (context) udev_unref(context);
    return nullptr;
  }
  return std::unique_ptr<PortMonitor>(new UdevMonitor(context, monitor, filter));
}
