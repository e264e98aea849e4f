// zarnflash's update job run 200 times in one process against one devsim program: every
// update reaches the device whole, and the process ends with the descriptors it started with
// and its resident memory within a small margin of the start.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "tools/zarnflash/job.h"

namespace {

constexpr int kUpdates = 200;
// Resident memory may move by a few pages (allocator bookkeeping, the thread stack cache); a
// leak of 2.5 KiB or more per update, let alone a lost image buffer, goes past this.
constexpr long kRssMarginKiB = 512;

int OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count - 1;  // the listing's own descriptor
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
  return -1;
}

class QuietListener : public JobListener {
public:
  void OnVersion(const DevicePlace&, int, int) override {}
  void OnNoVersionReply(const DevicePlace&) override {}
  void OnProgress(const DevicePlace&, uint32_t, uint32_t, int64_t) override {}
  void OnRestart(const DevicePlace&) override {}
  void OnTrace(const DevicePlace&, int64_t, const std::string&) override {}
  void OnResult(const DevicePlace&, const JobResult&) override {}
};

// The device is a devsim program of its own, so that what it keeps of every update (it
// records each one whole) does not count as this process's memory.
class Endurance : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/zarn-endure-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    folder = pattern;
    // 40 blocks and a part: several packets, a padded last block, a short run per update.
    std::string error;
    const std::string path = folder + "/image.bin";
    {
      std::ofstream out(path, std::ios::binary);
      for (int i = 0; i < 40 * 1024 + 77; ++i) out.put(static_cast<char>((i * 7 + i / 1024) & 0xFF));
    }
    ASSERT_EQ(1, LoadImageFile(path, &image, &error)) << error;

    int out[2];
    ASSERT_EQ(0, pipe(out));
    simulator = fork();
    ASSERT_GE(simulator, 0);
    if (simulator == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      execl(ZARN_DEVSIM_PATH, ZARN_DEVSIM_PATH, "--repeat", "--verify", path.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    lines = fdopen(out[0], "r");
    ASSERT_NE(nullptr, lines);
    port = Line();
    ASSERT_EQ(0u, port.find("/dev/pts/")) << port;
  }
  void TearDown() override {
    if (simulator > 0) {
      kill(simulator, SIGTERM);
      waitpid(simulator, nullptr, 0);
    }
    if (lines) fclose(lines);
    std::remove((folder + "/image.bin").c_str());
    rmdir(folder.c_str());
  }

  // The simulator's next line, without its newline; empty when it has ended.
  std::string Line() {
    char text[1024];
    if (!fgets(text, sizeof text, lines)) return std::string();
    std::string line(text);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
  }

  // One whole update through the job: its result, and the device's summary of it.
  JobResult Update(std::string* summary) {
    DevicePlace place;
    place.port = port;
    Job job(place, &image, JobSettings(), &listener);
    job.Start();
    job.Join();
    *summary = Line();
    return job.Result();
  }

  std::string folder;
  Image image;
  QuietListener listener;
  pid_t simulator = -1;
  FILE* lines = nullptr;
  std::string port;
};

// Whether a devsim summary says the device holds the whole image.
bool Verified(const std::string& summary) {
  return summary.find(" verified=1 ") != std::string::npos &&
         summary.find(" completed=1 ") != std::string::npos;
}

TEST_F(Endurance, TwoHundredUpdatesKeepDescriptorsAndMemory) {
  // The first update brings in what stays for the process's life (the thread's arena, cached
  // stack, locale data); the measure starts after it.
  std::string summary;
  ASSERT_EQ(kExitOk, Update(&summary).code);
  ASSERT_TRUE(Verified(summary)) << summary;
  const int fdsAtStart = OpenDescriptors();
  const long rssAtStart = ResidentKiB();
  ASSERT_GT(fdsAtStart, 0);
  ASSERT_GT(rssAtStart, 0);

  for (int i = 0; i < kUpdates; ++i) {
    const JobResult result = Update(&summary);
    ASSERT_EQ(kExitOk, result.code) << "update " << i + 1 << ": " << result.sentence;
    ASSERT_EQ(image.Length(), result.bytesAcknowledged) << "update " << i + 1;
    ASSERT_TRUE(Verified(summary)) << "update " << i + 1 << ": " << summary;
  }

  const int fdsAtEnd = OpenDescriptors();
  const long rssAtEnd = ResidentKiB();
  std::printf("descriptors %d -> %d; VmRSS %ld KiB -> %ld KiB (margin %ld KiB) over %d updates\n",
              fdsAtStart, fdsAtEnd, rssAtStart, rssAtEnd, kRssMarginKiB, kUpdates);
  EXPECT_EQ(fdsAtStart, fdsAtEnd) << "descriptors left open";
  EXPECT_LE(rssAtEnd - rssAtStart, kRssMarginKiB) << "resident memory grew";
}

}  // namespace
