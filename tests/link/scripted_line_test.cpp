// The loader over a scripted line instead of a pty: failures that a real device cannot be made
// to produce on cue (a write that fails at one exact frame, a file that ends mid-transfer).
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>

#include "loader_fixture.h"

namespace {

// A well-behaved device: replies 2.5 / size code 1 to the query, 'C' to the download command
// and ACK to every packet. Writes can be made to fail by what they carry.
class ScriptedLine : public SerialLine {
public:
  enum Kind { kQuery, kDownload, kPacket, kEot };
  // Called for every write attempt with its kind and how many writes of that kind succeeded
  // before it; true makes the attempt fail.
  std::function<bool(Kind kind, int done)> failWrite = [](Kind, int) { return false; };
  // Called after every packet written, with the number of packets written so far.
  std::function<void(int packets)> afterPacket = [](int) {};

  int IsOpen() const override { return m_open; }
  void Close() override { m_open = false; }
  int Write(const unsigned char* data, unsigned length) override {
    const Kind kind = length == 6 ? kQuery : length == 15 ? kDownload : length == 1 ? kEot : kPacket;
    if (failWrite(kind, m_done[kind])) return 0;
    ++m_done[kind];
    if (kind == kQuery) m_input = {'$', 'V', 3, 2, 5, 1, 'V' + 3 + 2 + 5 + 1, '?', '?'};
    if (kind == kDownload) m_answer = proto::kCrcMode;
    if (kind == kPacket) {
      m_answer = proto::kACK;
      afterPacket(m_done[kPacket]);
    }
    (void)data;
    return 1;
  }
  unsigned Read(unsigned char* buffer, unsigned max) override {
    const unsigned n = std::min<unsigned>(max, static_cast<unsigned>(m_input.size()));
    std::copy(m_input.begin(), m_input.begin() + n, buffer);
    m_input.erase(m_input.begin(), m_input.begin() + n);
    return n;
  }
  int ReadByte(unsigned char* out, int) override {
    *out = m_answer;
    m_answer = 0;
    return *out != 0;
  }
  int Done(Kind kind) const { return m_done[kind]; }

private:
  bool m_open = true;
  int m_done[4] = {};
  std::vector<uint8_t> m_input;
  uint8_t m_answer = 0;
};

class ScriptedLineTest : public LoaderTest {
protected:
  void Run(uint64_t imageLength) {
    flash.UseLine(&line);
    image = temp.Image("image.bin", imageLength);
    RunUpdate(image);
  }
  ScriptedLine line;
  std::string image;
};

struct WriteFailure {
  const char* name;
  ScriptedLine::Kind kind;
  int after;  // fails once this many writes of its kind went through
  Reports reports;
};

void PrintTo(const WriteFailure& c, std::ostream* os) { *os << c.name; }

class WriteFailureTest : public ScriptedLineTest, public ::testing::WithParamInterface<WriteFailure> {};

TEST_P(WriteFailureTest, EndsWithItsReports) {
  const WriteFailure& c = GetParam();
  line.failWrite = [&c](ScriptedLine::Kind kind, int done) { return kind == c.kind && done == c.after; };
  Run(3 * 1024);
  EXPECT_EQ(c.reports, WithoutProgress(recorder.Taken()));
}

const Report kVersion{STATUS_DEVICE_VERSION, 0x0205};
INSTANTIATE_TEST_SUITE_P(
    Writes, WriteFailureTest,
    ::testing::Values(
        WriteFailure{"query", ScriptedLine::kQuery, 0, {{STATUS_LINK_ERROR, 0}}},
        WriteFailure{"download_command", ScriptedLine::kDownload, 0, {kVersion, {STATUS_LINK_ERROR, 0}, {STATUS_RESET, 0}}},
        WriteFailure{"second_packet", ScriptedLine::kPacket, 1, {kVersion, {STATUS_LINK_ERROR, 0}, {STATUS_RESET, 0}}},
        // Not even the first EOT went out: the device never heard that the image is complete.
        WriteFailure{"first_eot", ScriptedLine::kEot, 0, {kVersion, {STATUS_LINK_ERROR, 0}, {STATUS_RESET, 0}}},
        WriteFailure{"second_eot", ScriptedLine::kEot, 1, {kVersion, {STATUS_FINISHED, 100}}},
        WriteFailure{"fourth_eot", ScriptedLine::kEot, 3, {kVersion, {STATUS_FINISHED, 100}}}),
    [](const ::testing::TestParamInfo<WriteFailure>& info) { return std::string(info.param.name); });

TEST_F(ScriptedLineTest, EveryWriteIsTriedFiveTimes) {
  int attempts = 0;
  line.failWrite = [&attempts](ScriptedLine::Kind kind, int) { return kind == ScriptedLine::kEot && ++attempts; };
  Run(1024);
  EXPECT_EQ(5, attempts);
  EXPECT_FALSE(line.IsOpen());
}

TEST_F(ScriptedLineTest, FourEotsCloseASuccessfulTransfer) {
  Run(3 * 1024);
  EXPECT_EQ(4, line.Done(ScriptedLine::kEot));
  EXPECT_EQ(3, line.Done(ScriptedLine::kPacket));
  EXPECT_FALSE(line.IsOpen());
}

TEST_F(ScriptedLineTest, ImageEndingMidTransferReportsThePercentageSent) {
  // After 499 of 998 packets the file loses its second half.
  line.afterPacket = [this](int packets) {
    if (packets == 499) {
      ASSERT_EQ(0, truncate(image.c_str(), 499 * 1024));
    }
  };
  Run(1021808);
  const Reports reports = WithoutProgress(recorder.Taken());
  EXPECT_EQ((Reports{kVersion, {STATUS_READ_ERROR, 50}, {STATUS_RESET, 0}}), reports);
  EXPECT_FALSE(flash.m_file.IsOpen());
}

}  // namespace
