// `list` against simulated devices found through a pattern: one and three devices with their
// versions, one port under two names, and ports that answer wrongly or not at all.
#include <gtest/gtest.h>

#include "../link/pty_pair.h"
#include "discovery_fixture.h"
#include "tools/zarnflash/discovery/discovery.h"

namespace {

struct Version {
  int major, minor, sizeCode;
};

CandidateFilter PatternOnly(const std::string& pattern) {
  CandidateFilter filter;
  filter.usbPorts = false;  // a real device on this machine must not join the count
  filter.patterns = {pattern};
  return filter;
}

class ListTest : public ::testing::TestWithParam<std::vector<Version>> {};

TEST_P(ListTest, FindsEveryDeviceWithItsVersion) {
  DeviceRoom room;
  std::vector<std::string> links;
  for (size_t i = 0; i < GetParam().size(); ++i) {
    devsim::Options options;
    options.major = GetParam()[i].major;
    options.minor = GetParam()[i].minor;
    options.sizeCode = GetParam()[i].sizeCode;
    links.push_back(room.Start(options, "zarn" + std::to_string(i)));
    ASSERT_NE("", links.back()) << room.Error();
  }
  std::vector<PortReport> reports;
  std::string error;
  ASSERT_EQ(1, ListPorts(PatternOnly(room.Pattern()), &reports, &error)) << error;
  ASSERT_EQ(links.size(), reports.size());
  for (size_t i = 0; i < reports.size(); ++i) {
    const PortReport& r = reports[i];
    EXPECT_EQ(links[i], r.candidate.port);  // glob's sorted order, the name as matched
    ASSERT_EQ(ProbeResult::kDevice, r.probe.outcome) << r.candidate.port;
    EXPECT_EQ(GetParam()[i].major, r.probe.major);
    EXPECT_EQ(GetParam()[i].minor, r.probe.minor);
    EXPECT_EQ(GetParam()[i].sizeCode, r.probe.sizeCode);
    EXPECT_EQ("", r.candidate.vendorId);  // a pty has no USB identity
    EXPECT_EQ(links[i], DeviceKey(r.candidate));
  }
}

INSTANTIATE_TEST_SUITE_P(Devices, ListTest,
                         ::testing::Values(std::vector<Version>{{2, 5, 1}},
                                           std::vector<Version>{{2, 5, 1}, {1, 9, 2}, {3, 0, 3}}));

TEST(List, NothingMatchesIsAnEmptyList) {
  DeviceRoom room;
  std::vector<PortReport> reports{PortReport()};
  std::string error;
  EXPECT_EQ(1, ListPorts(PatternOnly(room.Pattern()), &reports, &error)) << error;
  EXPECT_TRUE(reports.empty());
}

TEST(List, APortUnderTwoNamesIsOneCandidate) {
  DeviceRoom room;
  const std::string link = room.Start(devsim::Options(), "zarn0");
  ASSERT_NE("", link) << room.Error();
  CandidateFilter filter = PatternOnly(room.Pattern());
  filter.patterns.push_back(room.SlavePath(link));
  filter.patterns.push_back(link);
  std::vector<Candidate> found;
  std::string error;
  ASSERT_EQ(1, FindCandidates(filter, &found, &error)) << error;
  ASSERT_EQ(1u, found.size());
  EXPECT_EQ(link, found[0].port);  // the first name it was found under
}

struct ReplyCase {
  const char* name;
  devsim::Fault fault;
  ProbeResult::Outcome outcome;
};

class ReplyTest : public ::testing::TestWithParam<ReplyCase> {};

// Only a whole, valid reply in one read chunk makes a device, as the loader counts it.
TEST_P(ReplyTest, OnlyAWholeValidReplyMakesADevice) {
  DeviceRoom room;
  devsim::Options options;
  options.major = 3;
  options.minor = 1;
  options.fault = GetParam().fault;
  const std::string link = room.Start(options, "zarn0");
  ASSERT_NE("", link) << room.Error();
  ProbeResult result;
  const int found = ProbePort(link, &result, 400);
  EXPECT_EQ(GetParam().outcome, result.outcome);
  EXPECT_EQ(GetParam().outcome == ProbeResult::kDevice ? 1 : 0, found);
  if (GetParam().outcome == ProbeResult::kDevice) {
    EXPECT_EQ(3, result.major);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReplyTest,
    ::testing::Values(ReplyCase{"plain", devsim::Fault::kNone, ProbeResult::kDevice},
                      ReplyCase{"noise_first", devsim::Fault::kNoiseReply, ProbeResult::kDevice},
                      ReplyCase{"split", devsim::Fault::kSplitReply, ProbeResult::kNoReply},
                      ReplyCase{"bad_checksum", devsim::Fault::kBadReplyChecksum,
                                ProbeResult::kNoReply},
                      ReplyCase{"ignored_query", devsim::Fault::kNoVersionReply,
                                ProbeResult::kNoReply},
                      ReplyCase{"silent", devsim::Fault::kSilent, ProbeResult::kNoReply}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

TEST(Probe, APortThatNeverAnswersIsNoDeviceAndHeardTheQuery) {
  PtyPair line;
  ProbeResult result;
  EXPECT_EQ(0, ProbePort(line.slavePath, &result, 200));
  EXPECT_EQ(ProbeResult::kNoReply, result.outcome);
  unsigned char heard[16] = {};
  const ssize_t n = read(line.master, heard, sizeof heard);
  ASSERT_EQ(6, n);  // the version query and nothing else
  EXPECT_EQ(0, memcmp(heard, "\x24\x56\x00\x56\x3F\x3F", 6));
}

TEST(Probe, AMissingPortCannotBeOpenedAndIsAbsent) {
  DeviceRoom room;
  ProbeResult result;
  EXPECT_EQ(0, ProbePort(room.Folder() + "/zarn-gone", &result, 200));
  EXPECT_EQ(ProbeResult::kCannotOpen, result.outcome);
  EXPECT_EQ(CSerialPort::kAbsent, result.failure.kind);
}

TEST(Probe, AFileThatIsNoTerminalIsSaidSo) {
  DeviceRoom room;
  const std::string path = room.Folder() + "/zarn-file";
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(nullptr, f);
  fclose(f);
  std::vector<PortReport> reports;
  std::string error;
  // A wildcard passes over it; named outright it is probed and found wanting.
  ASSERT_EQ(1, ListPorts(PatternOnly(room.Pattern()), &reports, &error, 200)) << error;
  EXPECT_TRUE(reports.empty());
  ASSERT_EQ(1, ListPorts(PatternOnly(path), &reports, &error, 200)) << error;
  ASSERT_EQ(1u, reports.size());
  EXPECT_EQ(ProbeResult::kCannotOpen, reports[0].probe.outcome);
  EXPECT_EQ(CSerialPort::kNotATerminal, reports[0].diagnosis.failure.kind);
  EXPECT_NE(std::string::npos, reports[0].diagnosis.advice.find("no serial port"));
}

}  // namespace
