// What zarnflash shows while it works: a live bar per device on a terminal, plain lines at
// most every 10 % elsewhere, nothing but failures with --quiet, or one JSON object per line
// per event with --json (format "zarnflash", version 1: see the README). --verbose adds the
// line trace; --log appends one JSON result per device to an audit file. Every method may be
// called from any job's thread.
#pragma once
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "tools/zarnflash/job.h"

struct OutputSettings {
  enum Mode { kAuto, kPlain, kJson, kQuiet };
  Mode mode = kAuto;
  bool verbose = false;
  std::string logPath;  // empty: no audit log
  unsigned baud = 921600;
};

class Output : public JobListener {
public:
  Output(const OutputSettings& settings, const Image* image);

  // A line for people (plain and terminal modes) or an event (JSON). Warnings go to stderr.
  void Info(const std::string& text);
  void Warning(const DevicePlace* place, const std::string& text);
  // A failure of the command itself (not of one device): stderr, or a JSON "error" event.
  void Error(const std::string& text, ExitCode code);
  // A device found by `list`, with its version reply or why it could not be probed.
  void Device(const DevicePlace& place, int major, int minor, int sizeCode, const std::string& problem);
  // One finding of `doctor`.
  void Finding(bool ok, const std::string& check, const std::string& subject,
               const std::string& text, const std::string& advice);
  // The table of results of several devices.
  void Summary(const std::vector<std::pair<DevicePlace, JobResult>>& results);
  // A device the job starts on.
  void Starting(const DevicePlace& place);

  void OnVersion(const DevicePlace& place, int major, int minor) override;
  void OnNoVersionReply(const DevicePlace& place) override;
  void OnProgress(const DevicePlace& place, uint32_t bytes, uint32_t length, int64_t elapsedMs) override;
  void OnRestart(const DevicePlace& place) override;
  void OnTrace(const DevicePlace& place, int64_t elapsedMs, const std::string& text) override;
  void OnResult(const DevicePlace& place, const JobResult& result) override;

  bool Json() const { return m_mode == OutputSettings::kJson; }
  // The image the jobs send, named in lines and the audit log.
  void SetImage(const Image* image) { m_image = image; }

private:
  struct Bar {
    std::string port;
    std::string text;
    int lastDecile = -1;
  };
  Bar& BarFor(const std::string& port);
  void Line(FILE* stream, const std::string& text);  // with the bars kept below it
  void DrawBars();
  void EraseBars();
  void Emit(const std::string& json);

  OutputSettings::Mode m_mode;
  bool m_verbose;
  std::string m_logPath;
  unsigned m_baud;
  const Image* m_image;
  std::mutex m_mutex;
  std::vector<Bar> m_bars;
  size_t m_barsDrawn = 0;
  int64_t m_lastDraw = 0;
};

// "link-error", "ok", ...: the class name of an exit code, as JSON and the summary show it.
const char* ExitClassName(ExitCode code);
