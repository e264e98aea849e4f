// Every fault the device or the image can show, one row each: the reports, whether the fault
// fired, that port and file are released, that the image is left as it was, and that success
// comes only with the whole image on the device.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "loader_fixture.h"

namespace {

using devsim::Fault;

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

enum class Image { kFile, kFolder, kMissing };

struct Row {
  const char* name;
  Fault fault;
  int packet;
  uint64_t length;
  int sizeCode;
  Image image;
  Reports reports;  // without progress reports
};
void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

const Report kVersion{STATUS_DEVICE_VERSION, 0x0205};
const Report kFinished{STATUS_FINISHED, 100};
const Report kReset{STATUS_RESET, 0};
const Report kLink{STATUS_LINK_ERROR, 0};
const Report kRejected{STATUS_REJECTED, 0};
const Report kRead{STATUS_READ_ERROR, 0};
const Report kSize{STATUS_SIZE_ERROR, 0};
constexpr uint64_t kSix = 5 * 1024 + 100;  // six packets, the last one padded
constexpr uint64_t kLimit1 = 4 * 1024 * 1024 - 4096;

class MatrixTest : public LoaderTest, public ::testing::WithParamInterface<Row> {};

TEST_P(MatrixTest, Row) {
  const Row& row = GetParam();
  std::string path = temp.Path("image.bin");
  if (row.image == Image::kFile) path = temp.Image("image.bin", row.length);
  if (row.image == Image::kFolder) mkdir(path.c_str(), 0755);
  const bool file = row.image == Image::kFile;
  const std::vector<uint8_t> before = file ? ReadFileBytes(path) : std::vector<uint8_t>();
  const int fds = OpenDescriptors();

  devsim::Options options;
  options.fault = row.fault;
  options.faultPacket = row.packet;
  options.sizeCode = row.sizeCode;
  if (row.image == Image::kFile) options.verifyFile = path;
  StartDevice(options);
  RunUpdate(path);
  const Reports reports = WithoutProgress(recorder.Taken());
  device->WaitDone(1000);
  device->Stop();
  const devsim::Result r = device->GetResult();
  device.reset();

  // Noise that follows an ACK by 50 ms meets the loader's next read either alone (a link
  // error) or together with the next ACK, which as the newest byte counts (the transfer goes
  // on): which one depends on how fast the loader reads, and both follow the rule.
  const bool noiseMetTheNextAck =
      row.fault == Fault::kNoiseBetween && reports == Reports{kVersion, kFinished};
  if (!noiseMetTheNextAck) {
    EXPECT_EQ(row.reports, reports);
  }
  if (row.fault != Fault::kNone) {
    EXPECT_TRUE(r.faultFired) << devsim::Summary(r);
  }
  const bool finished = !reports.empty() && reports.back() == kFinished;
  if (finished) {
    EXPECT_TRUE(r.verified) << devsim::Summary(r);
  }
  // A transfer closes the port at its end; a failed handshake leaves it open until the next
  // update's OpenLink (here one that opens nothing) closes it.
  const bool transferRan = finished || (!reports.empty() && reports.back() == kReset);
  if (transferRan) {
    EXPECT_FALSE(flash.m_port.IsOpen());
  }
  flash.OpenLink(0);
  EXPECT_FALSE(flash.m_port.IsOpen());
  EXPECT_FALSE(flash.m_file.IsOpen());
  EXPECT_EQ(fds, OpenDescriptors());
  if (file) {
    EXPECT_EQ(before, ReadFileBytes(path));
  }
}

#define ROW(name, fault, packet, length, reports) \
  Row { name, fault, packet, length, 1, Image::kFile, reports }
INSTANTIATE_TEST_SUITE_P(
    Device, MatrixTest,
    ::testing::Values(
        ROW("none", Fault::kNone, 1, kSix, (Reports{kVersion, kFinished})),
        ROW("split_reply", Fault::kSplitReply, 1, kSix, (Reports{kFinished})),
        ROW("noise_reply", Fault::kNoiseReply, 1, kSix, (Reports{kVersion, kFinished})),
        ROW("bad_reply_checksum", Fault::kBadReplyChecksum, 1, kSix, (Reports{kFinished})),
        ROW("no_version_reply", Fault::kNoVersionReply, 1, kSix, (Reports{kFinished})),
        ROW("nak_download", Fault::kNakDownload, 1, kSix, (Reports{kVersion, kRejected, kReset})),
        ROW("nak_first_packet", Fault::kNakPacket, 1, kSix, (Reports{kVersion, kFinished})),
        ROW("cancel", Fault::kCancel, 3, kSix, (Reports{kVersion, kRejected, kReset})),
        ROW("garbage", Fault::kGarbage, 3, kSix, (Reports{kVersion, kLink, kReset})),
        ROW("restart", Fault::kRestart, 2, kSix, (Reports{kVersion, kFinished})),
        ROW("duplicate_ack", Fault::kDuplicateAck, 2, kSix, (Reports{kVersion, kFinished})),
        ROW("stray_bytes_with_ack", Fault::kStrayAck, 2, kSix, (Reports{kVersion, kFinished})),
        ROW("noise_between_packets", Fault::kNoiseBetween, 2, kSix,
            (Reports{kVersion, kLink, kReset})),
        ROW("empty_image", Fault::kNone, 1, 0, (Reports{kVersion, kFinished})),
        ROW("one_block", Fault::kNone, 1, 1024, (Reports{kVersion, kFinished})),
        ROW("size_code_1_limit", Fault::kNone, 1, kLimit1, (Reports{kVersion, kFinished})),
        ROW("size_code_1_one_over", Fault::kNone, 1, kLimit1 + 1, (Reports{kSize})),
        (Row{"size_code_2_one_over", Fault::kNone, 1, 8 * 1024 * 1024 - 4095, 2, Image::kFile,
             Reports{kSize}}),
        (Row{"size_code_3_one_over", Fault::kNone, 1, 16 * 1024 * 1024 - 4095, 3, Image::kFile,
             Reports{kSize}}),
        (Row{"image_is_a_folder", Fault::kNone, 1, 0, 1, Image::kFolder, Reports{kRead}}),
        (Row{"image_is_missing", Fault::kNone, 1, 0, 1, Image::kMissing, Reports{kRead}})),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// These wait out the loader's answer time-out or the handshake's two seconds.
INSTANTIATE_TEST_SUITE_P(
    Gone, MatrixTest,
    ::testing::Values(
        ROW("silent", Fault::kSilent, 1, kSix, (Reports{kLink, kReset})),
        ROW("stop", Fault::kStop, 3, kSix, (Reports{kVersion, kLink, kReset})),
        ROW("unplug_in_transfer", Fault::kHangUp, 3, kSix, (Reports{kVersion, kLink, kReset})),
        ROW("unplug_in_handshake", Fault::kHangUpQuery, 1, kSix, (Reports{kLink, kReset}))),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
