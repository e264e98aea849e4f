// The pure protocol logic: checksums and frames, the CRC, packets, the reply scanner, size
// limits and the progress arithmetic.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/protocol.h"

using Bytes = std::vector<uint8_t>;

namespace {

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A 'V' reply frame with the given payload, checksum right unless told otherwise.
Bytes Reply(Bytes payload, int checksumDelta = 0, uint8_t letter = 'V') {
  Bytes f = {'$', letter, static_cast<uint8_t>(payload.size())};
  for (uint8_t b : payload) f.push_back(b);
  f.push_back(static_cast<uint8_t>(proto::FrameChecksum(f.data() + 1, f.size() - 1) + checksumDelta));
  f.push_back('?');
  f.push_back('?');
  return f;
}

Bytes Head(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + n); }
Bytes Tail(const Bytes& b, size_t n) { return Bytes(b.begin() + n, b.end()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<proto::VersionReply> ScanAll(const Bytes& chunk) {
  std::vector<proto::VersionReply> found;
  proto::ReplyScanner scanner(chunk.data(), chunk.size());
  proto::VersionReply r;
  while (scanner.Next(&r)) found.push_back(r);
  return found;
}

}  // namespace

TEST(Crc16, CheckValueWholeAndInPieces) {
  const Bytes check = Str("123456789");
  EXPECT_EQ(0x31C3, proto::Crc16(check.data(), check.size()));
  for (size_t cut = 0; cut <= check.size(); ++cut) {
    const uint16_t first = proto::Crc16(check.data(), cut);
    EXPECT_EQ(0x31C3, proto::Crc16(check.data() + cut, check.size() - cut, first)) << cut;
  }
  EXPECT_EQ(0, proto::Crc16(nullptr, 0));
}

TEST(Frames, VersionQueryOnTheWire) {
  uint8_t out[6];
  ASSERT_EQ(6, proto::BuildVersionQuery(out));
  EXPECT_EQ((Bytes{0x24, 0x56, 0x00, 0x56, 0x3F, 0x3F}), Bytes(out, out + 6));
}

TEST(Frames, DownloadCommandLayout) {
  uint8_t out[15];
  ASSERT_EQ(15, proto::BuildDownloadCommand(out, 0x1B0000, 1021808));
  const Bytes expected = {0x24, 0x44, 0x09, 0x00, 0x00, 0x1B, 0x00, 0x70, 0x97, 0x0F, 0x00, 0x02,
                          0x80, 0x3F, 0x3F};
  EXPECT_EQ(expected, Bytes(out, out + 15));
}

TEST(Packets, FullPacketHasCrcHighByteFirst) {
  Bytes data(1024);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  Bytes frame(1029, 0xEE);
  ASSERT_EQ(1029, proto::BuildPacket(frame.data(), proto::kSTX, 1, data.data(), 1024, 1029));
  const uint16_t crc = proto::Crc16(data.data(), data.size());
  EXPECT_EQ(0x02, frame[0]);
  EXPECT_EQ(1, frame[1]);
  EXPECT_EQ(254, frame[2]);
  EXPECT_EQ(data, Bytes(frame.begin() + 3, frame.begin() + 1027));
  EXPECT_EQ(crc >> 8, frame[1027]);
  EXPECT_EQ(crc & 0xFF, frame[1028]);
}

// Head, sequence, complement and CRC bytes as they stand on the wire.
TEST(Packets, GoldenHeadsAndCrcs) {
  const struct {
    uint8_t head, sequence, fill;
    int block;
    Bytes head3, crc2;
  } cases[] = {
      {proto::kSTX, 1, 0x1A, 1024, {0x02, 0x01, 0xFE}, {0xFC, 0x96}},
      {proto::kSTX, 0, 0x1A, 1024, {0x02, 0x00, 0xFF}, {0xFC, 0x96}},
      {proto::kSOH, 9, 0x55, 128, {0x01, 0x09, 0xF6}, {0x5B, 0x67}},
  };
  for (const auto& c : cases) {
    Bytes data(static_cast<size_t>(c.block), c.fill), frame(static_cast<size_t>(c.block) + 5);
    proto::BuildPacket(frame.data(), c.head, c.sequence, data.data(), c.block, c.block + 5);
    EXPECT_EQ(c.head3, Head(frame, 3)) << c.block;
    EXPECT_EQ(c.crc2, Tail(frame, frame.size() - 2)) << c.block;
  }
  Bytes pattern(1024), frame(1029);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + 3);
  proto::BuildPacket(frame.data(), proto::kSTX, 1, pattern.data(), 1024, 1029);
  EXPECT_EQ((Bytes{0x7B, 0xE2}), Tail(frame, 1027));
}

TEST(Packets, SequenceAndComplement) {
  const struct { uint8_t sequence; uint8_t complement; } cases[] = {{1, 254}, {255, 0}, {0, 255}};
  Bytes data(1024, 0x1A), frame(1029);
  for (const auto& c : cases) {
    proto::BuildPacket(frame.data(), proto::kSTX, c.sequence, data.data(), 1024, 1029);
    EXPECT_EQ(c.sequence, frame[1]);
    EXPECT_EQ(c.complement, frame[2]);
  }
}

TEST(Packets, ShortBlockUsesPacketSizeForCrcPosition) {
  // 128-byte blocks in 133-byte packets: the CRC follows the data directly.
  Bytes data(128, 0x55), frame(133);
  ASSERT_EQ(133, proto::BuildPacket(frame.data(), proto::kSOH, 9, data.data(), 128, 133));
  const uint16_t crc = proto::Crc16(data.data(), data.size());
  EXPECT_EQ(crc >> 8, frame[131]);
  EXPECT_EQ(crc & 0xFF, frame[132]);
}

struct ScanCase {
  const char* name;
  Bytes chunk;
  std::vector<int> majors;  // majors of the accepted replies, in order
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class ReplyScannerTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ReplyScannerTest, AcceptsOnlyWholeValidReplies) {
  const ScanCase& c = GetParam();
  std::vector<int> majors;
  for (const auto& r : ScanAll(c.chunk)) majors.push_back(r.major);
  EXPECT_EQ(c.majors, majors);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, ReplyScannerTest,
    ::testing::Values(
        ScanCase{"plain", Reply({2, 5, 1}), {2}},
        ScanCase{"noise_before_dollar", Cat({Str("xx\x01\x3f"), Reply({2, 5, 1})}), {2}},
        ScanCase{"first_half_of_split_reply", Head(Reply({2, 5, 1}), 4), {}},
        ScanCase{"second_half_of_split_reply", Tail(Reply({2, 5, 1}), 4), {}},
        ScanCase{"bad_checksum", Reply({2, 5, 1}, 1), {}},
        ScanCase{"other_letter", Reply({2, 5, 1}, 0, 'D'), {}},
        ScanCase{"sixteen_bytes_without_frame", Cat({Str("$"), Bytes(15, 0x41), Reply({2, 5, 1})}), {2}},
        ScanCase{"too_long_payload", Reply({2, 5, 1, 0, 0, 0, 0, 0, 0, 0}), {}},
        ScanCase{"longest_accepted_payload", Reply({2, 5, 1, 0, 0, 0, 0, 0, 0}), {2}},
        ScanCase{"major_below_two_then_two", Cat({Reply({1, 5, 1}), Reply({2, 0, 1})}), {1, 2}},
        ScanCase{"dollar_inside_frame_does_not_restart", Cat({Str("$V"), Reply({2, 5, 1})}), {}},
        ScanCase{"echo_of_query", Bytes{0x24, 0x56, 0x00, 0x56, 0x3F, 0x3F}, {0x56}}),
    [](const ::testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

TEST(ReplyScanner, FieldsOfAReply) {
  const auto found = ScanAll(Reply({2, 5, 3}));
  ASSERT_EQ(1u, found.size());
  EXPECT_EQ(2, found[0].major);
  EXPECT_EQ(5, found[0].minor);
  EXPECT_EQ(3, found[0].sizeCode);
  // The echoed query carries no payload: its "size code" is the closing '?'.
  EXPECT_EQ(0x3F, ScanAll(Bytes{0x24, 0x56, 0x00, 0x56, 0x3F, 0x3F})[0].sizeCode);
}

TEST(FlashSize, LimitsAtAndOneOver) {
  const struct { int code; uint32_t limit; } cases[] = {
      {1, 0x3FF000}, {2, 0x7FF000}, {3, 0xFFF000}};
  for (const auto& c : cases) {
    EXPECT_TRUE(proto::ImageFits(c.code, c.limit)) << c.code;
    EXPECT_FALSE(proto::ImageFits(c.code, c.limit + 1)) << c.code;
  }
  for (int code : {0, 4, 0x3F, 255}) EXPECT_FALSE(proto::ImageFits(code, 0)) << code;
}

TEST(Progress, SampleImageRisesTo110) {
  const proto::TransferPlan plan = proto::PlanTransfer(1021808, 1024);
  EXPECT_EQ(998u, plan.blocks);
  EXPECT_EQ(9u, plan.step);
  std::vector<int> values;
  std::vector<uint32_t> at;
  for (uint32_t sent = 2; sent <= plan.blocks; ++sent) {  // packet 1 goes out on 'C'
    const int v = proto::ProgressAfter(plan, sent);
    if (v >= 0) {
      values.push_back(v);
      at.push_back(sent);
    }
  }
  ASSERT_EQ(110u, values.size());
  EXPECT_EQ(1, values.front());
  EXPECT_EQ(10u, at.front());
  EXPECT_EQ(110, values.back());
  EXPECT_EQ(991u, at.back());
}

TEST(Progress, BlockCountsAndSmallImages) {
  const struct { uint32_t length; uint32_t blocks; uint32_t step; } cases[] = {
      {0, 0, 1}, {1, 1, 1}, {1024, 1, 1}, {1025, 2, 1}, {204800, 200, 2}, {204801, 201, 2}};
  for (const auto& c : cases) {
    const proto::TransferPlan plan = proto::PlanTransfer(c.length, 1024);
    EXPECT_EQ(c.blocks, plan.blocks) << c.length;
    EXPECT_EQ(c.step, plan.step) << c.length;
  }
  // Small images report a percentage after every packet.
  const proto::TransferPlan small = proto::PlanTransfer(4 * 1024, 1024);
  EXPECT_EQ(50, proto::ProgressAfter(small, 2));
  EXPECT_EQ(100, proto::ProgressAfter(small, 4));
}
