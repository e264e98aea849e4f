// Station mode's monitors: arrivals under a pattern (present ports are none, a replug into the
// same place is an arrival again with the same key), and the udev monitor starting cleanly.
#include <gtest/gtest.h>

#include "discovery_fixture.h"
#include "tools/zarnflash/discovery/monitor.h"

namespace {

TEST(PatternMonitor, ReportsArrivalsOnceAndAReplugAgain) {
  DeviceRoom room;
  const std::string present = room.Start(devsim::Options(), "zarn0");
  ASSERT_NE("", present) << room.Error();
  std::unique_ptr<PortMonitor> monitor = MakePatternMonitor({room.Pattern()});
  ASSERT_NE(nullptr, monitor);
  EXPECT_EQ(-1, monitor->WaitHandle());

  Candidate added;
  EXPECT_EQ(0, monitor->NextAdded(&added, 0)) << "present before the monitor: " << added.port;

  const std::string arriving = room.Start(devsim::Options(), "zarn1");
  ASSERT_NE("", arriving) << room.Error();
  ASSERT_EQ(1, monitor->NextAdded(&added, 3000));
  EXPECT_EQ(arriving, added.port);
  const std::string key = DeviceKey(added);
  EXPECT_EQ(0, monitor->NextAdded(&added, 3 * kMonitorPollMs)) << "twice: " << added.port;

  // Unplugged and plugged into the same place: a new pty behind the same link.
  room.Stop(arriving);
  EXPECT_EQ(0, monitor->NextAdded(&added, 2 * kMonitorPollMs));  // it looked while gone
  ASSERT_NE("", room.Start(devsim::Options(), "zarn1")) << room.Error();
  ASSERT_EQ(1, monitor->NextAdded(&added, 3000));
  EXPECT_EQ(arriving, added.port);
  EXPECT_EQ(key, DeviceKey(added));
}

// Whether or not this machine has USB serial ports (or a udev daemon), the monitor either
// starts with a descriptor to poll or says why it cannot; a look without waiting returns.
TEST(SystemMonitor, StartsCleanlyOrSaysWhy) {
  std::string error;
  std::unique_ptr<PortMonitor> monitor = MakeSystemMonitor(CandidateFilter(), &error);
  if (!monitor) {
    EXPECT_NE("", error);
    return;
  }
  EXPECT_GE(monitor->WaitHandle(), 0);
  Candidate added;
  const int got = monitor->NextAdded(&added, 0);
  if (got) {
    EXPECT_EQ(0u, added.port.rfind("/dev/", 0)) << added.port;
  }
}

}  // namespace
