// Shared pieces of the loader tests.
#include "loader_fixture.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

TempDir::TempDir() {
  char pattern[] = "/tmp/zarn-test-XXXXXX";
  m_path = mkdtemp(pattern);
}

TempDir::~TempDir() { (void)!system(("rm -rf '" + m_path + "'").c_str()); }

std::string TempDir::Image(const std::string& name, uint64_t length, int32_t version) const {
  const std::string path = Path(name);
  std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(length, 1 << 20)));
  uint32_t state = 0x12345678;
  for (auto& b : head) {
    state = state * 1103515245u + 12345u;
    b = static_cast<uint8_t>(state >> 16);
  }
  for (int i = 0; i < 4 && 8 + i < static_cast<int>(head.size()); ++i)
    head[8 + i] = static_cast<uint8_t>(static_cast<uint32_t>(version) >> (8 * i));
  const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  (void)!write(fd, head.data(), head.size());
  (void)!ftruncate(fd, static_cast<off_t>(length));
  close(fd);
  return path;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string SampleImage() { return ZARN_SAMPLE_IMAGE_PATH; }

Reports WithoutProgress(Reports reports) {
  reports.erase(std::remove_if(reports.begin(), reports.end(),
                               [](const Report& r) { return r.first == STATUS_PROGRESS; }),
                reports.end());
  return reports;
}

Reports SampleProgressReports() {
  // 998 blocks, a report every ninth packet from the tenth on: the values 1 to 110.
  Reports reports;
  for (uint32_t value = 1; value <= 110; ++value) reports.emplace_back(STATUS_PROGRESS, value);
  return reports;
}

void LoaderTest::StartDevice(devsim::Options options) {
  device.reset(new devsim::Device(options));
  ASSERT_EQ(1, device->Start()) << device->Error();
  ASSERT_EQ(1, flash.m_port.OpenPath(device->SlavePath().c_str(), 921600));
}

void LoaderTest::RunUpdate(const std::string& image) {
  flash.SetImagePath(std::wstring(image.begin(), image.end()).c_str());
  flash.m_packetHead = 2;
  flash.m_blockSize = 1024;
  flash.m_packetSize = 1029;
  flash.StartFlashThread(&recorder, &flash);
  ASSERT_TRUE(CFLASH::WaitFlashThread(40000)) << "the worker did not end";
  if (device) device->WaitDone(3000);
}
