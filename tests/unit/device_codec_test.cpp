// The device's side of the wire formats against bytes written out here: frames and the version
// reply, the command frame assembler, the download command, packet lengths and packet checks,
// and the little-endian fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/device_codec.h"

using Bytes = std::vector<uint8_t>;

namespace {

// Feeds `bytes` one at a time; the verdicts other than kIncomplete, with the byte they came at.
struct Verdict {
  size_t at;
  proto::FrameVerdict verdict;
  bool operator==(const Verdict& o) const { return at == o.at && verdict == o.verdict; }
};
void PrintTo(const Verdict& v, std::ostream* os) {
  *os << "{" << v.at << ", " << static_cast<int>(v.verdict) << "}";
}

std::vector<Verdict> FeedAll(proto::CommandAssembler* assembler, const Bytes& bytes) {
  std::vector<Verdict> verdicts;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const proto::FrameVerdict v = assembler->Feed(bytes[i]);
    if (v != proto::FrameVerdict::kIncomplete) verdicts.push_back({i, v});
  }
  return verdicts;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The query and the download command of the updater, as they stand on the wire.
const Bytes kQuery = {0x24, 0x56, 0x00, 0x56, 0x3F, 0x3F};
const Bytes kDownload = {0x24, 0x44, 0x09, 0x00, 0x10, 0x00, 0x00, 0x70, 0x97, 0x0F, 0x00, 0x02,
                         0x75, 0x3F, 0x3F};  // to 0x1000, 1021808 bytes

}  // namespace

TEST(LittleEndian, PutAndGetOnTheWire) {
  const struct {
    uint32_t value;
    Bytes wire;
  } cases[] = {
      {0x00000000, {0x00, 0x00, 0x00, 0x00}},
      {0x00001000, {0x00, 0x10, 0x00, 0x00}},
      {0x001B0000, {0x00, 0x00, 0x1B, 0x00}},
      {0x12345678, {0x78, 0x56, 0x34, 0x12}},
      {0xFFFFFFFE, {0xFE, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& c : cases) {
    uint8_t out[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    proto::PutLe32(out + 1, c.value);
    EXPECT_EQ(Cat({{0xEE}, c.wire, {0xEE}}), Bytes(out, out + 6)) << c.value;  // four bytes only
    EXPECT_EQ(c.value, proto::GetLe32(c.wire.data())) << c.value;
  }
}

TEST(DeviceFrames, VersionReplyOnTheWire) {
  const struct {
    uint8_t major, minor, sizeCode;
    Bytes wire;
  } cases[] = {
      {2, 5, 1, {0x24, 0x56, 0x03, 0x02, 0x05, 0x01, 0x61, 0x3F, 0x3F}},
      {3, 7, 2, {0x24, 0x56, 0x03, 0x03, 0x07, 0x02, 0x65, 0x3F, 0x3F}},
      {0xFF, 0xFF, 0xFF, {0x24, 0x56, 0x03, 0xFF, 0xFF, 0xFF, 0x56, 0x3F, 0x3F}},  // sum wraps
  };
  for (const auto& c : cases) {
    Bytes out(12, 0xEE);
    ASSERT_EQ(9, proto::BuildVersionReply(out.data(), c.major, c.minor, c.sizeCode));
    EXPECT_EQ(Cat({c.wire, {0xEE, 0xEE, 0xEE}}), out) << int(c.major);
  }
}

TEST(DeviceFrames, AnyFrameOnTheWire) {
  Bytes out(20, 0xEE);
  ASSERT_EQ(6, proto::BuildFrame(out.data(), 'V', nullptr, 0));
  EXPECT_EQ(kQuery, Bytes(out.begin(), out.begin() + 6));
  const uint8_t payload[] = {0x00, 0x10, 0x00, 0x00, 0x70, 0x97, 0x0F, 0x00, 0x02};
  ASSERT_EQ(15, proto::BuildFrame(out.data(), 'D', payload, 9));
  EXPECT_EQ(kDownload, Bytes(out.begin(), out.begin() + 15));
  EXPECT_EQ(0x75, out[proto::FrameChecksumAt(15)]);
  EXPECT_EQ(0xEE, out[15]);
}

// --- the assembler -----------------------------------------------------------------------------

struct AssemblyCase {
  const char* name;
  Bytes input;
  std::vector<Verdict> verdicts;
};
void PrintTo(const AssemblyCase& c, std::ostream* os) { *os << c.name; }

class AssemblyTest : public testing::TestWithParam<AssemblyCase> {};

TEST_P(AssemblyTest, GivesEachFrameItsVerdictAtItsLastByte) {
  proto::CommandAssembler assembler;
  EXPECT_EQ(GetParam().verdicts, FeedAll(&assembler, GetParam().input));
}

using proto::FrameVerdict;
INSTANTIATE_TEST_SUITE_P(
    Streams, AssemblyTest,
    testing::Values(
        AssemblyCase{"Query", kQuery, {{5, FrameVerdict::kOk}}},
        AssemblyCase{"Download", kDownload, {{14, FrameVerdict::kOk}}},
        // The EOTs the updater sends after a transfer, and other bytes before '$', are skipped.
        AssemblyCase{"LeftOversBeforeTheFrame", Cat({{0x04, 0x04, 0x3F, 0x00}, kQuery}),
                     {{9, FrameVerdict::kOk}}},
        AssemblyCase{"TwoFramesBackToBack", Cat({kQuery, kDownload}),
                     {{5, FrameVerdict::kOk}, {20, FrameVerdict::kOk}}},
        AssemblyCase{"BadChecksum", {0x24, 0x56, 0x00, 0x57, 0x3F, 0x3F},
                     {{5, FrameVerdict::kBadChecksum}}},
        // Not closed wins over a bad checksum; the frame ends at its length all the same.
        AssemblyCase{"NotClosed", Cat({{0x24, 0x56, 0x00, 0x57, 0x3F, 0x00}, kQuery}),
                     {{5, FrameVerdict::kNotClosed}, {11, FrameVerdict::kOk}}},
        AssemblyCase{"HalfClosed", {0x24, 0x56, 0x00, 0x56, 0x00, 0x3F},
                     {{5, FrameVerdict::kNotClosed}}},
        // A length over 32 is refused at the length byte, and what follows starts afresh.
        AssemblyCase{"TooLong", Cat({{0x24, 0x44, 0x21, 0x00}, kQuery}),
                     {{2, FrameVerdict::kTooLong}, {9, FrameVerdict::kOk}}},
        AssemblyCase{"LongestTaken", Cat({{0x24, 0x58, 0x20}, Bytes(32, 0x01), {0x98, 0x3F, 0x3F}}),
                     {{37, FrameVerdict::kOk}}},
        AssemblyCase{"Unfinished", {0x24, 0x44, 0x09, 0x00, 0x10}, {}}),
    [](const testing::TestParamInfo<AssemblyCase>& info) { return std::string(info.param.name); });

TEST(Assembler, ShowsTheFrameAndHoldsAcrossReads) {
  proto::CommandAssembler assembler;
  const Bytes bad = {0x24, 0x44, 0x02, 0xAB, 0xCD, 0x00, 0x3F, 0x3F};
  for (size_t i = 0; i + 1 < bad.size(); ++i) {
    ASSERT_EQ(FrameVerdict::kIncomplete, assembler.Feed(bad[i]));
    EXPECT_EQ(static_cast<int>(i) + 1, assembler.Held());
  }
  ASSERT_EQ(FrameVerdict::kBadChecksum, assembler.Feed(bad.back()));
  EXPECT_EQ(0, assembler.Held());
  const proto::CommandFrame& f = assembler.Frame();
  EXPECT_EQ(0x44, f.letter);
  EXPECT_EQ(2, f.payloadLength);
  EXPECT_EQ((Bytes{0xAB, 0xCD}), Bytes(f.payload, f.payload + 2));
  EXPECT_EQ(0x00, f.checksum);
  EXPECT_EQ(0xBE, f.expectedChecksum);  // 0x44 + 0x02 + 0xAB + 0xCD, modulo 256

  // A frame that waited too long is dropped by Reset; the next one is whole again.
  FeedAll(&assembler, {0x24, 0x56});
  EXPECT_EQ(2, assembler.Held());
  assembler.Reset();
  EXPECT_EQ((std::vector<Verdict>{{5, FrameVerdict::kOk}}), FeedAll(&assembler, kQuery));
}

TEST(Assembler, TooLongNamesTheLength) {
  proto::CommandAssembler assembler;
  EXPECT_EQ((std::vector<Verdict>{{2, FrameVerdict::kTooLong}}),
            FeedAll(&assembler, {0x24, 0x44, 0xFF}));
  EXPECT_EQ(0x44, assembler.Frame().letter);
  EXPECT_EQ(255, assembler.Frame().payloadLength);
  EXPECT_EQ(0, assembler.Held());
}

// --- the download command ----------------------------------------------------------------------

TEST(Download, ParsesTheFieldsOrNamesWhatIsWrong) {
  const struct {
    const char* name;
    Bytes frame;
    proto::DownloadVerdict verdict;
    uint32_t address, length;
    uint8_t constant;
  } cases[] = {
      {"Current", kDownload, proto::DownloadVerdict::kOk, 0x1000, 1021808, 0x02},
      {"Legacy",
       {0x24, 0x44, 0x09, 0x00, 0x00, 0x1B, 0x00, 0x70, 0x97, 0x0F, 0x00, 0x02, 0x80, 0x3F, 0x3F},
       proto::DownloadVerdict::kOk, 0x1B0000, 1021808, 0x02},
      {"AllBytesCount",
       {0x24, 0x44, 0x09, 0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A, 0x02, 0x87, 0x3F, 0x3F},
       proto::DownloadVerdict::kOk, 0x12345678, 0x9ABCDEF0, 0x02},
      {"WrongConstant",
       {0x24, 0x44, 0x09, 0x00, 0x10, 0x00, 0x00, 0x70, 0x97, 0x0F, 0x00, 0x03, 0x76, 0x3F, 0x3F},
       proto::DownloadVerdict::kWrongConstant, 0x1000, 1021808, 0x03},
      {"WrongLength",
       {0x24, 0x44, 0x08, 0x00, 0x10, 0x00, 0x00, 0x70, 0x97, 0x0F, 0x00, 0x72, 0x3F, 0x3F},
       proto::DownloadVerdict::kWrongLength, 0, 0, 0},
      {"NotDownload", kQuery, proto::DownloadVerdict::kNotDownload, 0, 0, 0},
  };
  for (const auto& c : cases) {
    proto::CommandAssembler assembler;
    ASSERT_EQ((std::vector<Verdict>{{c.frame.size() - 1, FrameVerdict::kOk}}),
              FeedAll(&assembler, c.frame))
        << c.name;
    proto::DownloadCommand command;
    EXPECT_EQ(c.verdict, proto::ParseDownload(assembler.Frame(), &command)) << c.name;
    EXPECT_EQ(c.address, command.address) << c.name;
    EXPECT_EQ(c.length, command.imageLength) << c.name;
    EXPECT_EQ(c.constant, command.constant) << c.name;
  }
}

TEST(Download, ReadsWhatTheUpdaterBuilds) {
  uint8_t wire[proto::kDownloadCommandLength];
  proto::BuildDownloadCommand(wire, 0xCAFE1234, 4096);
  proto::CommandAssembler assembler;
  FrameVerdict verdict = FrameVerdict::kIncomplete;
  for (uint8_t b : wire) verdict = assembler.Feed(b);
  ASSERT_EQ(FrameVerdict::kOk, verdict);
  proto::DownloadCommand command;
  ASSERT_EQ(proto::DownloadVerdict::kOk, proto::ParseDownload(assembler.Frame(), &command));
  EXPECT_EQ(0xCAFE1234u, command.address);
  EXPECT_EQ(4096u, command.imageLength);
}

// --- data packets ------------------------------------------------------------------------------

TEST(DevicePackets, LengthOfEachHead) {
  EXPECT_EQ(133, proto::PacketLength(0x01));
  EXPECT_EQ(1029, proto::PacketLength(0x02));
  for (int b : {0x00, 0x03, 0x04, 0x06, 0x15, 0x18, 0x24, 0x43, 0xFF})
    EXPECT_EQ(0, proto::PacketLength(static_cast<uint8_t>(b))) << b;
}

// Packets made of a head, sequence and complement, `block` fill bytes and CRC bytes all written
// out here (the CRCs of 1024 x 0x1A and 128 x 0x55), then damaged one way at a time.
struct PacketCase {
  const char* name;
  Bytes head3;
  int block;
  uint8_t fill;
  Bytes crc2;
  proto::PacketVerdict verdict;
  int extraBytes;  // added (or, when negative, taken) at the end
};
void PrintTo(const PacketCase& c, std::ostream* os) { *os << c.name; }

class PacketCheckTest : public testing::TestWithParam<PacketCase> {};

TEST_P(PacketCheckTest, Verdict) {
  const PacketCase& c = GetParam();
  Bytes packet = Cat({c.head3, Bytes(static_cast<size_t>(c.block), c.fill), c.crc2});
  packet.resize(static_cast<size_t>(static_cast<int>(packet.size()) + c.extraBytes), 0x00);
  const proto::PacketCheck check = proto::CheckPacket(packet.data(), packet.size());
  EXPECT_EQ(c.verdict, check.verdict);
  if (c.verdict == proto::PacketVerdict::kWrongLength) return;
  EXPECT_EQ(c.head3[1], check.sequence);
  EXPECT_EQ(c.head3[2], check.complement);
  ASSERT_EQ(c.block, check.dataLength);
  EXPECT_EQ(packet.data() + 3, check.data);
  EXPECT_EQ(c.crc2[0] << 8 | c.crc2[1], check.crcSent);
}

using proto::PacketVerdict;
INSTANTIATE_TEST_SUITE_P(
    Packets, PacketCheckTest,
    testing::Values(
        PacketCase{"Stx", {0x02, 0x01, 0xFE}, 1024, 0x1A, {0xFC, 0x96}, PacketVerdict::kOk, 0},
        PacketCase{"StxSequenceZero", {0x02, 0x00, 0xFF}, 1024, 0x1A, {0xFC, 0x96},
                   PacketVerdict::kOk, 0},
        PacketCase{"Soh", {0x01, 0x09, 0xF6}, 128, 0x55, {0x5B, 0x67}, PacketVerdict::kOk, 0},
        PacketCase{"BadCrcLowByte", {0x02, 0x01, 0xFE}, 1024, 0x1A, {0xFC, 0x97},
                   PacketVerdict::kBadCrc, 0},
        PacketCase{"CrcBytesSwapped", {0x01, 0x09, 0xF6}, 128, 0x55, {0x67, 0x5B},
                   PacketVerdict::kBadCrc, 0},
        PacketCase{"BadComplement", {0x02, 0x01, 0xFF}, 1024, 0x1A, {0xFC, 0x96},
                   PacketVerdict::kBadComplement, 0},
        PacketCase{"SohHeadOnAnStxPacket", {0x01, 0x01, 0xFE}, 1024, 0x1A, {0xFC, 0x96},
                   PacketVerdict::kWrongLength, 0},
        PacketCase{"OneByteShort", {0x02, 0x01, 0xFE}, 1024, 0x1A, {0xFC, 0x96},
                   PacketVerdict::kWrongLength, -1},
        PacketCase{"OneByteLong", {0x01, 0x09, 0xF6}, 128, 0x55, {0x5B, 0x67},
                   PacketVerdict::kWrongLength, 1},
        PacketCase{"NotAHead", {0x04, 0x01, 0xFE}, 128, 0x55, {0x5B, 0x67},
                   PacketVerdict::kWrongLength, 0}),
    [](const testing::TestParamInfo<PacketCase>& info) { return std::string(info.param.name); });

TEST(DevicePackets, ComputedCrcOfData) {
  // 1024 bytes of the pattern i * 7 + 3: CRC 7B E2.
  Bytes packet = {0x02, 0x01, 0xFE};
  for (int i = 0; i < 1024; ++i) packet.push_back(static_cast<uint8_t>(i * 7 + 3));
  packet.push_back(0x7B);
  packet.push_back(0xE2);
  proto::PacketCheck check = proto::CheckPacket(packet.data(), packet.size());
  EXPECT_EQ(proto::PacketVerdict::kOk, check.verdict);
  EXPECT_EQ(0x7BE2, check.crcComputed);
  packet[3 + 500] ^= 0x80;  // one data bit
  check = proto::CheckPacket(packet.data(), packet.size());
  EXPECT_EQ(proto::PacketVerdict::kBadCrc, check.verdict);
  EXPECT_EQ(0x7BE2, check.crcSent);
  EXPECT_NE(0x7BE2, check.crcComputed);
  EXPECT_EQ(proto::PacketVerdict::kWrongLength, proto::CheckPacket(packet.data(), 0).verdict);
}

TEST(DevicePackets, ChecksWhatTheUpdaterBuilds) {
  for (int block : {128, 1024}) {
    Bytes data(static_cast<size_t>(block));
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + 1);
    Bytes packet(static_cast<size_t>(block + 5));
    proto::BuildPacket(packet.data(), block == 128 ? proto::kSOH : proto::kSTX, 200, data.data(),
                       block, block + 5);
    const proto::PacketCheck check = proto::CheckPacket(packet.data(), packet.size());
    EXPECT_EQ(proto::PacketVerdict::kOk, check.verdict) << block;
    EXPECT_EQ(200, check.sequence) << block;
    EXPECT_EQ(data, Bytes(check.data, check.data + check.dataLength)) << block;
  }
}
