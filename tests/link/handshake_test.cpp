// The version handshake against the device simulator: what is reported, what is refused and
// which flash address is chosen.
#include <gtest/gtest.h>

#include "loader_fixture.h"

namespace {

struct HandshakeCase {
  const char* name;
  int major, minor, sizeCode;
  devsim::Fault fault;
  uint64_t imageLength;
  int result;
  Reports reports;
  uint32_t address;  // checked when result is 1
};
void PrintTo(const HandshakeCase& c, std::ostream* os) { *os << c.name; }


class HandshakeTest : public LoaderTest, public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(HandshakeTest, ReportsAndChoosesTheAddress) {
  const HandshakeCase& c = GetParam();
  devsim::Options options;
  options.major = c.major;
  options.minor = c.minor;
  options.sizeCode = c.sizeCode;
  options.fault = c.fault;
  StartDevice(options);
  flash.SetStatusChannel(&recorder);
  const std::string image = temp.Image("image.bin", c.imageLength);
  flash.SetImagePath(std::wstring(image.begin(), image.end()).c_str());
  flash.m_startAddress = 0xDEADBEEF;
  EXPECT_EQ(c.result, flash.QueryDevice());
  EXPECT_EQ(c.reports, recorder.Taken());
  if (c.result) {
    EXPECT_EQ(c.address, flash.m_startAddress);
  }
  EXPECT_FALSE(flash.m_file.IsOpen());
}

constexpr auto kNone = devsim::Fault::kNone;
const Reports kV205 = {{STATUS_DEVICE_VERSION, 0x0205}};
const Reports kSizeError = {{STATUS_SIZE_ERROR, 0}};

INSTANTIATE_TEST_SUITE_P(
    Replies, HandshakeTest,
    ::testing::Values(
        HandshakeCase{"current_firmware", 2, 5, 1, kNone, 1021808, 1, kV205, 4096},
        HandshakeCase{"noise_before_reply", 2, 5, 1, devsim::Fault::kNoiseReply, 1021808, 1, kV205, 4096},
        HandshakeCase{"size_code_0", 2, 5, 0, kNone, 1024, 0, kSizeError, 0},
        HandshakeCase{"size_code_4", 2, 5, 4, kNone, 1024, 0, kSizeError, 0},
        HandshakeCase{"code_1_at_limit", 2, 5, 1, kNone, 0x3FF000, 1, kV205, 4096},
        HandshakeCase{"code_1_one_over", 2, 5, 1, kNone, 0x3FF001, 0, kSizeError, 0},
        HandshakeCase{"code_2_at_limit", 2, 5, 2, kNone, 0x7FF000, 1, kV205, 4096},
        HandshakeCase{"code_2_one_over", 2, 5, 2, kNone, 0x7FF001, 0, kSizeError, 0},
        HandshakeCase{"code_3_at_limit", 2, 5, 3, kNone, 0xFFF000, 1, kV205, 4096},
        HandshakeCase{"code_3_one_over", 2, 5, 3, kNone, 0xFFF001, 0, kSizeError, 0},
        // Replies that never count: after about two seconds the older loader's address.
        HandshakeCase{"old_firmware_keeps_polling", 1, 5, 1, kNone, 1024, 1,
                      {{STATUS_DEVICE_VERSION, 261}}, 0x1B0000},
        HandshakeCase{"no_reply", 2, 5, 1, devsim::Fault::kNoVersionReply, 1024, 1, {}, 0x1B0000},
        HandshakeCase{"reply_split_over_two_reads", 2, 5, 1, devsim::Fault::kSplitReply, 1024, 1, {}, 0x1B0000},
        HandshakeCase{"bad_checksum", 2, 5, 1, devsim::Fault::kBadReplyChecksum, 1024, 1, {}, 0x1B0000}),
    [](const ::testing::TestParamInfo<HandshakeCase>& info) { return std::string(info.param.name); });

TEST_F(LoaderTest, HandshakeOnAPortThatDidNotOpen) {
  flash.SetStatusChannel(&recorder);
  flash.SetImagePath(L"/nonexistent");
  EXPECT_EQ(0, flash.QueryDevice());
  EXPECT_EQ((Reports{{STATUS_LINK_ERROR, 0}}), recorder.Taken());
}

TEST_F(LoaderTest, HandshakeWithAnUnreadableImage) {
  StartDevice(devsim::Options());
  flash.SetStatusChannel(&recorder);
  flash.SetImagePath(L"/nonexistent/image.bin");
  EXPECT_EQ(0, flash.QueryDevice());
  EXPECT_EQ((Reports{{STATUS_READ_ERROR, 0}}), recorder.Taken());
}

}  // namespace
