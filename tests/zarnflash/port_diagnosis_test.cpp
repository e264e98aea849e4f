// Ports that do not open: busy with the process that holds them named, and refused to an
// unprivileged user with the owning group and the command to join it.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "discovery_fixture.h"
#include "link/serial_port.h"
#include "tools/zarnflash/discovery/discovery.h"

namespace {

const PortHolder* HolderWithPid(const std::vector<PortHolder>& holders, int pid) {
  for (const PortHolder& h : holders)
    if (h.pid == pid) return &h;
  return nullptr;
}

TEST(Busy, APortThisProcessHoldsNamesThisProcess) {
  DeviceRoom room;
  const std::string link = room.Start(devsim::Options(), "zarn0");
  ASSERT_NE("", link) << room.Error();
  CSerialPort holder;
  ASSERT_EQ(1, holder.OpenPath(link.c_str(), 921600));

  std::vector<PortReport> reports;
  std::string error;
  CandidateFilter filter;
  filter.usbPorts = false;
  filter.patterns = {room.Pattern()};
  ASSERT_EQ(1, ListPorts(filter, &reports, &error, 300)) << error;
  ASSERT_EQ(1u, reports.size());
  const Diagnosis& d = reports[0].diagnosis;
  EXPECT_EQ(ProbeResult::kCannotOpen, reports[0].probe.outcome);
  EXPECT_EQ(CSerialPort::kBusy, d.failure.kind);
  ASSERT_TRUE(d.holdersKnown);
  ASSERT_EQ(1u, d.holders.size());  // the simulator's own hold is the same process
  EXPECT_EQ(getpid(), d.holders[0].pid);
  EXPECT_EQ(OwnCommand(), d.holders[0].command);
  EXPECT_TRUE(d.holders[0].locksPort);
  EXPECT_NE(std::string::npos,
            d.advice.find(OwnCommand() + " (pid " + std::to_string(getpid()) + ")"))
      << d.advice;

  // Released, it is a device again: the search never made it busy by itself.
  holder.Close();
  ProbeResult again;
  EXPECT_EQ(1, ProbePort(link, &again, 1000));
}

TEST(Busy, AnotherProcessHoldingThePortIsTheOneNamed) {
  DeviceRoom room;
  const std::string link = room.Start(devsim::Options(), "zarn0");
  ASSERT_NE("", link) << room.Error();
  CSerialPort* held = new CSerialPort;  // the child's; the parent never uses it
  ChildProcess child("portholder", [&] { return held->OpenPath(link.c_str(), 921600); });
  ASSERT_TRUE(child.Ready());

  ProbeResult result;
  EXPECT_EQ(0, ProbePort(link, &result, 300));
  ASSERT_EQ(ProbeResult::kCannotOpen, result.outcome);
  const Diagnosis d = DiagnoseOpenFailure(link, result.failure);
  EXPECT_EQ(CSerialPort::kBusy, d.failure.kind);
  ASSERT_TRUE(d.holdersKnown);
  const PortHolder* locker = HolderWithPid(d.holders, child.Pid());
  ASSERT_NE(nullptr, locker);
  EXPECT_EQ("portholder", locker->command);
  EXPECT_TRUE(locker->locksPort);
  // This process keeps the simulator's end open, but holds no lock: named, not blamed.
  const PortHolder* simulator = HolderWithPid(d.holders, getpid());
  ASSERT_NE(nullptr, simulator);
  EXPECT_FALSE(simulator->locksPort);
  EXPECT_NE(std::string::npos,
            d.advice.find("Held by portholder (pid " + std::to_string(child.Pid()) + ")"))
      << d.advice;
  EXPECT_EQ(std::string::npos, d.advice.find(OwnCommand())) << d.advice;
  delete held;
}

struct PermissionCase {
  const char* name;
  const char* group;  // owner group given to the pty
  mode_t mode;
  bool grantsUse;
  const char* advice;  // a piece the advice must hold
};

class PermissionTest : public ::testing::TestWithParam<PermissionCase> {};

// The pty is given an ACM port's owner and mode, then probed by the user nobody.
TEST_P(PermissionTest, ARefusedPortNamesItsGroupAndWhatToDo) {
  const PermissionCase& c = GetParam();
  DeviceRoom room;
  const std::string link = room.Start(devsim::Options(), "zarn0");
  ASSERT_NE("", link) << room.Error();
  const std::string port = room.SlavePath(link);  // nobody may not enter the room's folder
  const struct group* owner = getgrnam(c.group);
  if (!owner) GTEST_SKIP() << "no group " << c.group << " on this machine";

  if (geteuid() != 0) {
    // Without root no other user can be made: a port file made unreadable to ourselves.
    ASSERT_EQ(0, chmod(port.c_str(), 0));
    ProbeResult result;
    EXPECT_EQ(0, ProbePort(port, &result, 300));
    const Diagnosis d = DiagnoseOpenFailure(port, result.failure);
    EXPECT_EQ(CSerialPort::kPermissionDenied, d.failure.kind);
    EXPECT_TRUE(d.groupKnown);
    EXPECT_FALSE(d.group.grantsUse);
    return;
  }
  ASSERT_EQ(0, chown(port.c_str(), 0, owner->gr_gid));
  ASSERT_EQ(0, chmod(port.c_str(), c.mode));
  std::string output, whyNot;
  const int ran = RunAsNobody(
      [&] {
        ProbeResult result;
        ProbePort(port, &result, 300);
        const Diagnosis d = DiagnoseOpenFailure(port, result.failure);
        std::ostringstream out;
        out << result.outcome << '\n' << CSerialPort::ErrorName(d.failure.kind) << '\n'
            << d.groupKnown << '\n' << d.group.name << '\n' << d.group.grantsUse << '\n'
            << d.advice;
        return out.str();
      },
      &output, &whyNot);
  if (!ran) GTEST_SKIP() << whyNot;
  std::istringstream in(output);
  int outcome = -1, groupKnown = -1, grantsUse = -1;
  std::string kind, group, advice;
  in >> outcome;
  in.ignore();
  std::getline(in, kind);
  in >> groupKnown;
  in.ignore();
  std::getline(in, group);
  in >> grantsUse;
  in.ignore();
  std::getline(in, advice);
  EXPECT_EQ(ProbeResult::kCannotOpen, outcome);
  EXPECT_EQ("permission denied", kind);
  EXPECT_EQ(1, groupKnown);
  EXPECT_EQ(c.group, group);
  EXPECT_EQ(c.grantsUse ? 1 : 0, grantsUse);
  EXPECT_NE(std::string::npos, advice.find(c.advice)) << advice;
}

INSTANTIATE_TEST_SUITE_P(
    Owners, PermissionTest,
    ::testing::Values(
        // As udev leaves a USB serial port on Debian: joining the group helps.
        PermissionCase{"serial_group", "dialout", 0660, true,
                       "dialout: sudo usermod -aG dialout $USER, then log out and in again"},
        // The group may not use it either: joining it would not help.
        PermissionCase{"owner_only", "root", 0600, false, "run as the port's owner"}),
    [](const ::testing::TestParamInfo<PermissionCase>& info) { return info.param.name; });

}  // namespace
