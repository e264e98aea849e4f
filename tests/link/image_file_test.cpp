// The loader's image file: padded block reads and the database version in the header.
#include <gtest/gtest.h>

#include "loader_fixture.h"

namespace {

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

struct VersionCase {
  const char* name;
  int64_t length;  // -1: no file at all
  int32_t expected;
  bool readError;
};
void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }


class DatabaseVersionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(DatabaseVersionTest, ReadsOffsetEightOrReportsAReadError) {
  const VersionCase& c = GetParam();
  TempDir temp;
  const std::string path =
      c.length < 0 ? temp.Path("missing.bin") : temp.Image("image.bin", c.length, 0x0133EFAF);
  CFLASH flash;
  ReportRecorder recorder;
  flash.SetStatusChannel(&recorder);
  flash.SetImagePath(Wide(path).c_str());
  EXPECT_EQ(c.expected, flash.ReadDatabaseVersion());
  const Reports expected = c.readError ? Reports{{STATUS_READ_ERROR, 0}} : Reports{};
  EXPECT_EQ(expected, recorder.Taken());
  EXPECT_FALSE(flash.m_file.IsOpen());
  EXPECT_NE(c.length < 0, access(path.c_str(), F_OK) == 0);  // nothing created
}

INSTANTIATE_TEST_SUITE_P(
    Files, DatabaseVersionTest,
    ::testing::Values(VersionCase{"sixteen_bytes", 16, 20180911, false},
                      VersionCase{"twelve_bytes_hold_the_version", 12, 20180911, false},
                      VersionCase{"ten_bytes_are_too_short", 10, 0, true},
                      VersionCase{"empty", 0, 0, true},
                      VersionCase{"missing", -1, 0, true}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

TEST(DatabaseVersion, SampleImage) {
  CFLASH flash;
  flash.SetImagePath(Wide(SampleImage()).c_str());
  EXPECT_EQ(20180911, flash.ReadDatabaseVersion());
  EXPECT_EQ(1021808u, ReadFileBytes(SampleImage()).size());
}

TEST(ImageBlock, LastBlockIsPaddedThenTheFileIsUsedUp) {
  TempDir temp;
  const std::string path = temp.Image("image.bin", 1024 + 880);
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  CFLASH flash;
  flash.SetImagePath(Wide(path).c_str());
  ASSERT_TRUE(flash.m_file.Open(flash.m_imagePath, CFile::modeRead | CFile::shareDenyNone));
  unsigned char block[1024];
  ASSERT_EQ(1, flash.ReadImageBlock(block, 1024));
  EXPECT_TRUE(std::equal(block, block + 1024, bytes.begin()));
  ASSERT_EQ(1, flash.ReadImageBlock(block, 1024));
  EXPECT_TRUE(std::equal(block, block + 880, bytes.begin() + 1024));
  EXPECT_EQ(std::vector<uint8_t>(144, 0x1A), std::vector<uint8_t>(block + 880, block + 1024));
  EXPECT_EQ(0, flash.ReadImageBlock(block, 1024));
}

TEST(ImageBlock, ExactFitHasNoPadding) {
  TempDir temp;
  const std::string path = temp.Image("image.bin", 16);
  CFLASH flash;
  flash.SetImagePath(Wide(path).c_str());
  ASSERT_TRUE(flash.m_file.Open(flash.m_imagePath, CFile::modeRead | CFile::shareDenyNone));
  unsigned char block[16];
  ASSERT_EQ(1, flash.ReadImageBlock(block, 16));
  EXPECT_EQ(ReadFileBytes(path), std::vector<uint8_t>(block, block + 16));
}

}  // namespace
