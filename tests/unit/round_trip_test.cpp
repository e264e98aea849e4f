// The loader's handshake and transfer against the simulator's device session, joined by a line
// in memory: both sides of the shared codec meet without a pty or a thread.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <vector>

#include "flash/flash.h"
#include "tools/devsim/session.h"

namespace {

using Report = std::pair<int, uint32_t>;

// Every write goes into the device session at once; its answers queue up for the reads.
class MemoryLine : public SerialLine {
public:
  explicit MemoryLine(devsim::Session* device) : m_device(device) {}

  int IsOpen() const override { return m_open; }
  void Close() override { m_open = false; }
  int Write(const unsigned char* data, unsigned length) override {
    if (!m_open) return 0;
    std::vector<devsim::Action> actions;
    m_now += std::chrono::microseconds(100);
    m_device->Feed(data, length, m_now, &actions);
    Perform(actions);
    return 1;
  }
  // Lets a second pass on the device's clock: its time-outs run (the end of the EOTs, a
  // repeated 'C').
  void Wait() {
    std::vector<devsim::Action> actions;
    m_now += std::chrono::seconds(1);
    m_device->Tick(m_now, &actions);
    Perform(actions);
  }
  unsigned Read(unsigned char* buffer, unsigned max) override {
    unsigned n = 0;
    while (n < max && !m_input.empty()) {
      buffer[n++] = m_input.front();
      m_input.pop_front();
    }
    return n;
  }
  int ReadByte(unsigned char* out, int) override {
    if (m_input.empty()) Wait();
    unsigned char chunk[10];
    const unsigned got = Read(chunk, sizeof chunk);
    *out = got ? chunk[got - 1] : 0;
    return got ? 1 : 0;
  }

private:
  void Perform(const std::vector<devsim::Action>& actions) {
    for (const devsim::Action& a : actions) {
      if (a.kind == devsim::Action::kWrite) m_input.insert(m_input.end(), a.bytes.begin(), a.bytes.end());
      if (a.kind == devsim::Action::kFlushInput) m_input.clear();
      if (a.kind == devsim::Action::kHangUp) m_open = false;
    }
  }

  devsim::Session* m_device;
  devsim::TimePoint m_now = devsim::Clock::now();
  std::deque<uint8_t> m_input;
  bool m_open = true;
};

class Recorder : public StatusChannel {
public:
  void Send(int code, uint32_t value) override { reports.emplace_back(code, value); }
  std::vector<Report> reports;
};

std::string WriteImage(const std::vector<uint8_t>& bytes) {
  char path[] = "/tmp/zarn-roundtrip-XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_EQ(static_cast<ssize_t>(bytes.size()), write(fd, bytes.data(), bytes.size()));
  close(fd);
  return path;
}

struct RoundTrip {
  const char* name;
  uint32_t length;
  devsim::Fault fault;
  int faultPacket;
  bool completed;
  std::vector<Report> reports;  // without progress
};

void PrintTo(const RoundTrip& c, std::ostream* os) { *os << c.name; }

class RoundTripTest : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTripTest, BothSidesAgree) {
  const RoundTrip& c = GetParam();
  std::vector<uint8_t> image(c.length);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 31 + (i >> 10));
  const std::string path = WriteImage(image);

  devsim::Options options;
  options.fault = c.fault;
  options.faultPacket = c.faultPacket;
  devsim::Session device(options, &image);
  MemoryLine line(&device);
  Recorder recorder;
  CFLASH flash;
  flash.UseLine(&line);
  flash.SetStatusChannel(&recorder);
  flash.SetImagePath(std::wstring(path.begin(), path.end()).c_str());
  if (flash.QueryDevice() && !flash.SendImage()) recorder.Send(STATUS_RESET, 0);
  line.Wait();  // the device closes the update once the line has gone quiet
  unlink(path.c_str());

  std::vector<Report> reports;
  for (const Report& r : recorder.reports)
    if (r.first != STATUS_PROGRESS) reports.push_back(r);
  EXPECT_EQ(c.reports, reports);
  EXPECT_FALSE(line.IsOpen());
  ASSERT_FALSE(device.Finished().empty());
  const devsim::Result& r = device.Finished().back();
  EXPECT_EQ(c.completed, r.completed);
  EXPECT_EQ(c.completed, r.verified) << r.note;
  EXPECT_EQ(c.length, r.length);
  EXPECT_EQ(4096u, r.address);
  // The loader's own account of the line agrees with the device's.
  const proto::Sender::Counts& counts = flash.LastTransferCounts();
  EXPECT_EQ(r.restarts, counts.restarts);
  if (c.completed) {
    EXPECT_EQ(r.naks, counts.resends);
    EXPECT_EQ(r.packets, counts.sent);
    EXPECT_EQ(r.eots, counts.eots);
  }
}

const Report kVersion{STATUS_DEVICE_VERSION, 0x0205};
const Report kFinished{STATUS_FINISHED, 100};
INSTANTIATE_TEST_SUITE_P(
    Memory, RoundTripTest,
    ::testing::Values(
        RoundTrip{"sample_size_image", 1021808, devsim::Fault::kNone, 1, true, {kVersion, kFinished}},
        RoundTrip{"empty_image", 0, devsim::Fault::kNone, 1, true, {kVersion, kFinished}},
        RoundTrip{"one_block", 1024, devsim::Fault::kNone, 1, true, {kVersion, kFinished}},
        RoundTrip{"sequence_wraps_past_255", 300 * 1024 + 1, devsim::Fault::kNone, 1, true, {kVersion, kFinished}},
        RoundTrip{"restart_at_packet_3", 5 * 1024, devsim::Fault::kRestart, 3, true, {kVersion, kFinished}},
        RoundTrip{"nak_on_the_last_packet", 5 * 1024, devsim::Fault::kNakPacket, 5, true, {kVersion, kFinished}},
        RoundTrip{"cancel_at_packet_2", 5 * 1024, devsim::Fault::kCancel, 2, false,
                  {kVersion, {STATUS_REJECTED, 0}, {STATUS_RESET, 0}}},
        RoundTrip{"nak_on_the_download_command", 5 * 1024, devsim::Fault::kNakDownload, 1, false,
                  {kVersion, {STATUS_REJECTED, 0}, {STATUS_RESET, 0}}}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return std::string(info.param.name); });

}  // namespace
