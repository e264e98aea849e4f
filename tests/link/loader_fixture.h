// Shared pieces of the loader tests: a report recorder, image files made to measure, and a
// fixture that runs whole updates against the device simulator.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "flash/flash.h"
#include "tools/devsim/devsim.h"

using Report = std::pair<int, uint32_t>;  // code, value
using Reports = std::vector<Report>;

// Collects the loader's reports in order.
class ReportRecorder : public StatusChannel {
public:
  void Send(int code, uint32_t value) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reports.emplace_back(code, value);
  }
  Reports Taken() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reports;
  }

private:
  mutable std::mutex m_mutex;
  Reports m_reports;
};

// A temporary folder, removed with everything in it.
class TempDir {
public:
  TempDir();
  ~TempDir();
  // Writes an image of `length` bytes: a fixed pattern with `version` at offset 8 (if it fits).
  // Large images are sparse beyond their first megabyte.
  std::string Image(const std::string& name, uint64_t length, int32_t version = 20180911) const;
  std::string Path(const std::string& name) const { return m_path + "/" + name; }

private:
  std::string m_path;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);

// The sample image every build embeds.
std::string SampleImage();

// The reports without the progress reports.
Reports WithoutProgress(Reports reports);

// The progress reports of a successful transfer of the sample image.
Reports SampleProgressReports();

class LoaderTest : public ::testing::Test {
protected:
  // Starts the simulator with `options` and opens the loader's port on its pty.
  void StartDevice(devsim::Options options);
  // Runs one whole update of `image` on the worker thread and waits for it to end.
  void RunUpdate(const std::string& image);

  TempDir temp;
  std::unique_ptr<devsim::Device> device;
  CFLASH flash;
  ReportRecorder recorder;
};
