// Whole updates on the worker thread against the device simulator: the image goes across byte
// for byte, and every failure ends with its own report sequence.
#include <gtest/gtest.h>

#include <algorithm>

#include "loader_fixture.h"

namespace {

const Report kVersion205{STATUS_DEVICE_VERSION, 0x0205};
const Report kFinished{STATUS_FINISHED, 100};
const Report kReset{STATUS_RESET, 0};
const Report kLinkError{STATUS_LINK_ERROR, 0};
const Report kRejected{STATUS_REJECTED, 0};

TEST_F(LoaderTest, SampleImageGoesAcrossByteForByte) {
  devsim::Options options;
  options.verifyFile = SampleImage();
  StartDevice(options);
  RunUpdate(SampleImage());

  Reports expected = {kVersion205};
  const Reports progress = SampleProgressReports();
  expected.insert(expected.end(), progress.begin(), progress.end());
  expected.push_back(kFinished);
  EXPECT_EQ(expected, recorder.Taken());
  EXPECT_EQ(110u, progress.size());
  EXPECT_EQ(110u, progress.back().second);

  const devsim::Result r = device->GetResult();
  EXPECT_TRUE(r.verified) << r.note;
  EXPECT_EQ(4096u, r.address);
  EXPECT_EQ(1021808u, r.length);
  EXPECT_EQ(998u, r.packets);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_FALSE(flash.m_port.IsOpen());
  EXPECT_FALSE(flash.m_file.IsOpen());
}

// Image lengths around block boundaries, empty included; each update runs on the same loader
// and the same device, one after another, reopening the port each time.
TEST_F(LoaderTest, ImagesOfEveryShapeGoAcross) {
  StartDevice(devsim::Options());
  const uint64_t lengths[] = {0, 1, 1024, 2048, 2049, 6 * 1024 + 100};
  int update = 0;
  for (uint64_t length : lengths) {
    SCOPED_TRACE(length);
    const std::string image = temp.Image("image" + std::to_string(length) + ".bin", length);
    if (update++) ASSERT_EQ(1, flash.m_port.OpenPath(device->SlavePath().c_str(), 921600));
    ReportRecorder fresh;
    flash.SetImagePath(std::wstring(image.begin(), image.end()).c_str());
    flash.StartFlashThread(&fresh, &flash);
    ASSERT_TRUE(CFLASH::WaitFlashThread(20000));
    ASSERT_EQ(1, device->WaitDone(3000, update));
    EXPECT_EQ((Reports{kVersion205, kFinished}), WithoutProgress(fresh.Taken()));
    const devsim::Result r = device->GetResult();
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(length, r.length);
    EXPECT_EQ((length + 1023) / 1024, r.packets);
    const std::vector<uint8_t> bytes = ReadFileBytes(image);
    ASSERT_GE(r.data.size(), bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), r.data.begin()));
    EXPECT_TRUE(std::all_of(r.data.begin() + bytes.size(), r.data.end(),
                            [](uint8_t b) { return b == 0x1A; }));
  }
}

TEST_F(LoaderTest, SmallImageReportsItsProgressToo) {
  StartDevice(devsim::Options());
  RunUpdate(temp.Image("image.bin", 4 * 1024));
  EXPECT_EQ((Reports{kVersion205, {STATUS_PROGRESS, 50}, {STATUS_PROGRESS, 75},
                     {STATUS_PROGRESS, 100}, kFinished}),
            recorder.Taken());
}

TEST_F(LoaderTest, WithoutAVersionReplyTheOlderAddressIsUsed) {
  devsim::Options options;
  options.fault = devsim::Fault::kNoVersionReply;
  StartDevice(options);
  RunUpdate(temp.Image("image.bin", 3000));
  EXPECT_EQ((Reports{kFinished}), WithoutProgress(recorder.Taken()));
  EXPECT_EQ(0x1B0000u, device->GetResult().address);
  EXPECT_TRUE(device->GetResult().completed);
}

struct FaultCase {
  const char* name;
  devsim::Fault fault;
  int packet;
  int count;
  Reports reports;  // without progress reports
  bool completed;   // the device saw the whole image and an EOT
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }


class FaultTest : public LoaderTest, public ::testing::WithParamInterface<FaultCase> {};

// A six-block image: packet 6 is the last one, padded.
TEST_P(FaultTest, EndsWithItsReportSequence) {
  const FaultCase& c = GetParam();
  devsim::Options options;
  options.fault = c.fault;
  options.faultPacket = c.packet;
  options.faultCount = c.count;
  const std::string image = temp.Image("image.bin", 5 * 1024 + 100);
  options.verifyFile = image;
  StartDevice(options);
  RunUpdate(image);
  EXPECT_EQ(c.reports, WithoutProgress(recorder.Taken()));
  const devsim::Result r = device->GetResult();
  EXPECT_EQ(c.completed, r.completed);
  if (c.completed) {
    EXPECT_TRUE(r.verified) << r.note;
  }
  EXPECT_FALSE(flash.m_port.IsOpen());
}

using devsim::Fault;
INSTANTIATE_TEST_SUITE_P(
    Device, FaultTest,
    ::testing::Values(
        FaultCase{"nak_on_download_command", Fault::kNakDownload, 1, 1, {kVersion205, kRejected, kReset}, false},
        FaultCase{"cancel_at_packet_3", Fault::kCancel, 3, 1, {kVersion205, kRejected, kReset}, false},
        FaultCase{"garbage_at_packet_3", Fault::kGarbage, 3, 1, {kVersion205, kLinkError, kReset}, false},
        FaultCase{"nine_naks_in_a_row_are_survived", Fault::kNakPacket, 2, 9, {kVersion205, kFinished}, true},
        FaultCase{"ten_naks_in_a_row_end_it", Fault::kNakPacket, 2, 10, {kVersion205, kLinkError, kReset}, false},
        FaultCase{"second_c_restarts_from_block_1", Fault::kRestart, 1, 1, {kVersion205, kFinished}, true},
        FaultCase{"nak_on_last_packet_resends_it", Fault::kNakPacket, 6, 1, {kVersion205, kFinished}, true},
        FaultCase{"cancel_on_last_packet", Fault::kCancel, 6, 1, {kVersion205, kRejected, kReset}, false},
        FaultCase{"garbage_on_last_packet", Fault::kGarbage, 6, 1, {kVersion205, kLinkError, kReset}, false}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// These wait out the loader's ten-second answer time-out.
INSTANTIATE_TEST_SUITE_P(
    SilentDevice, FaultTest,
    ::testing::Values(
        FaultCase{"stops_answering_at_packet_3", Fault::kStop, 3, 1, {kVersion205, kLinkError, kReset}, false},
        FaultCase{"hangs_up_at_packet_3", Fault::kHangUp, 3, 1, {kVersion205, kLinkError, kReset}, false}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(LoaderTest, SilentDeviceGetsTheOlderAddressThenALinkError) {
  devsim::Options options;
  options.fault = devsim::Fault::kSilent;
  StartDevice(options);
  RunUpdate(temp.Image("image.bin", 3000));
  EXPECT_EQ((Reports{kLinkError, kReset}), recorder.Taken());
  EXPECT_EQ(0x1B0000u, device->GetResult().address);
}

TEST_F(LoaderTest, PortThatDidNotOpenFailsWithoutReset) {
  RunUpdate(temp.Image("image.bin", 3000));
  EXPECT_EQ((Reports{kLinkError}), recorder.Taken());
}

TEST_F(LoaderTest, TransferOfAnUnreadableImageClosesThePort) {
  StartDevice(devsim::Options());
  flash.SetStatusChannel(&recorder);
  flash.SetImagePath(L"/nonexistent/image.bin");
  EXPECT_EQ(0, flash.SendImage());
  EXPECT_EQ((Reports{{STATUS_READ_ERROR, 0}}), recorder.Taken());
  EXPECT_FALSE(flash.m_port.IsOpen());
}

TEST_F(LoaderTest, SecondStartWhileAWorkerRunsIsRefused) {
  devsim::Options options;
  options.fault = devsim::Fault::kNoVersionReply;  // keeps the first worker busy for 2 s
  StartDevice(options);
  const std::string image = temp.Image("image.bin", 3000);
  flash.SetImagePath(std::wstring(image.begin(), image.end()).c_str());
  flash.StartFlashThread(&recorder, &flash);
  ReportRecorder second;
  EXPECT_EQ(0, flash.StartFlashThread(&second, &flash));
  ASSERT_TRUE(CFLASH::WaitFlashThread(20000));
  EXPECT_EQ((Reports{kFinished}), WithoutProgress(recorder.Taken()));
  EXPECT_TRUE(second.Taken().empty());
}

TEST_F(LoaderTest, StopRequestEndsAWaitingTransferQuietly) {
  devsim::Options options;
  options.fault = devsim::Fault::kStop;
  options.faultPacket = 2;
  StartDevice(options);
  const std::string image = temp.Image("image.bin", 5000);
  flash.SetImagePath(std::wstring(image.begin(), image.end()).c_str());
  flash.StartFlashThread(&recorder, &flash);
  usleep(500000);
  flash.RequestStop();
  EXPECT_TRUE(CFLASH::WaitFlashThread(2500));  // well before the ten-second time-out
  EXPECT_EQ((Reports{kVersion205}), WithoutProgress(recorder.Taken()));
  EXPECT_FALSE(flash.m_port.IsOpen());
}

}  // namespace
