// The host checks: who holds a port (only an exclusive holder is a problem), ModemManager
// among the processes with the rule that keeps it off the device, and the port's group
// against the user's.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "discovery_fixture.h"
#include "link/serial_port.h"
#include "tools/zarnflash/discovery/doctor.h"
#include "tools/zarnflash/discovery/proc_linux.h"

namespace {

std::vector<Finding> Of(const std::vector<Finding>& findings, const std::string& check) {
  std::vector<Finding> out;
  for (const Finding& f : findings)
    if (f.check == check) out.push_back(f);
  return out;
}

Candidate PortAt(const std::string& path) {
  Candidate c;
  c.port = path;
  return c;
}

TEST(Doctor, OnlyAnExclusiveHolderIsAProblem) {
  DeviceRoom room;
  const std::string link = room.Start(devsim::Options(), "zarn0");
  ASSERT_NE("", link) << room.Error();
  std::vector<Finding> findings;
  ASSERT_EQ(1, RunDoctor({PortAt(link)}, DoctorOptions(), &findings));
  std::vector<Finding> holders = Of(findings, "holders");
  ASSERT_EQ(1u, holders.size());
  // The simulator (this process) keeps its pty open: no reason not to flash.
  EXPECT_EQ(Finding::kOk, holders[0].kind) << holders[0].text;
  EXPECT_EQ(link, holders[0].subject);

  CSerialPort* held = new CSerialPort;
  ChildProcess child("minicom", [&] { return held->OpenPath(link.c_str(), 921600); });
  ASSERT_TRUE(child.Ready());
  findings.clear();
  ASSERT_EQ(1, RunDoctor({PortAt(link)}, DoctorOptions(), &findings));
  holders = Of(findings, "holders");
  ASSERT_EQ(1u, holders.size());
  EXPECT_EQ(Finding::kProblem, holders[0].kind);
  EXPECT_NE(std::string::npos,
            holders[0].text.find("minicom (pid " + std::to_string(child.Pid()) + ")"))
      << holders[0].text;
  EXPECT_NE("", holders[0].advice);
  delete held;
}

bool ModemManagerRunning() {
  for (const int pid : ProcessIds())
    if (ProcessName(pid) == "ModemManager") return true;
  return false;
}

struct ModemCase {
  const char* name;
  bool running;
  bool haveUsbId;
  const char* ruleIds;  // with running: the ids the advice's rule must carry
};

class ModemManagerTest : public ::testing::TestWithParam<ModemCase> {};

TEST_P(ModemManagerTest, SeenByNameWithTheRuleThatKeepsItOff) {
  const ModemCase& c = GetParam();
  if (ModemManagerRunning()) GTEST_SKIP() << "a real ModemManager runs on this machine";
  std::unique_ptr<ChildProcess> modem;
  if (c.running) {
    modem.reset(new ChildProcess("ModemManager", [] { return 1; }));
    ASSERT_TRUE(modem->Ready());
  }
  Candidate port = PortAt("/dev/null");
  port.vendorId = "2341";
  port.productId = "8036";
  DoctorOptions options;
  options.haveUsbId = c.haveUsbId;
  options.usbId.vendor = 0x1a86;
  options.usbId.product = 0x55d4;
  std::vector<Finding> findings;
  RunDoctor({port}, options, &findings);
  const std::vector<Finding> modems = Of(findings, "modem-manager");
  ASSERT_EQ(1u, modems.size());
  if (!c.running) {
    EXPECT_EQ(Finding::kOk, modems[0].kind) << modems[0].text;
    return;
  }
  EXPECT_EQ(Finding::kProblem, modems[0].kind);
  EXPECT_NE(std::string::npos, modems[0].text.find(std::to_string(modem->Pid())));
  EXPECT_NE(std::string::npos, modems[0].advice.find(c.ruleIds)) << modems[0].advice;
  EXPECT_NE(std::string::npos, modems[0].advice.find("ENV{ID_MM_DEVICE_IGNORE}=\"1\""));
  EXPECT_NE(std::string::npos, modems[0].advice.find("systemctl disable --now ModemManager"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModemManagerTest,
    ::testing::Values(
        ModemCase{"not_running", false, false, ""},
        ModemCase{"product_ids_given", true, true,
                  "ATTRS{idVendor}==\"1a86\", ATTRS{idProduct}==\"55d4\""},
        ModemCase{"ids_of_the_port", true, false,
                  "ATTRS{idVendor}==\"2341\", ATTRS{idProduct}==\"8036\""}),
    [](const ::testing::TestParamInfo<ModemCase>& info) { return info.param.name; });

// A port of group dialout, checked by root (fine) and by the user nobody (not a member).
TEST(Doctor, TheGroupCheckTellsAnOutsiderHowToJoin) {
  const struct group* dialout = getgrnam("dialout");
  if (!dialout) GTEST_SKIP() << "no group dialout on this machine";
  DeviceRoom room;
  const std::string link = room.Start(devsim::Options(), "zarn0");
  ASSERT_NE("", link) << room.Error();
  const std::string port = room.SlavePath(link);
  if (geteuid() != 0 || chown(port.c_str(), 0, dialout->gr_gid) != 0)
    GTEST_SKIP() << "needs root to give the port to group dialout";
  ASSERT_EQ(0, chmod(port.c_str(), 0660));

  std::vector<Finding> findings;
  RunDoctor({PortAt(port)}, DoctorOptions(), &findings);
  std::vector<Finding> groups = Of(findings, "group");
  ASSERT_EQ(1u, groups.size());
  EXPECT_EQ(Finding::kOk, groups[0].kind) << groups[0].text;  // root opens every port

  std::string output, whyNot;
  const int ran = RunAsNobody(
      [&] {
        std::vector<Finding> seen;
        RunDoctor({PortAt(port)}, DoctorOptions(), &seen);
        for (const Finding& f : seen)
          if (f.check == "group")
            return std::string(f.kind == Finding::kProblem ? "problem" : "ok") + "\n" +
                   f.subject + "\n" + f.text + "\n" + f.advice;
        return std::string("none");
      },
      &output, &whyNot);
  if (!ran) GTEST_SKIP() << whyNot;
  EXPECT_EQ("problem\ndialout\nthis user is not in group dialout, which owns " + port +
                "\nsudo usermod -aG dialout $USER, then log out and in again",
            output);
}

}  // namespace
