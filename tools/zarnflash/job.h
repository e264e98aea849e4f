// One device's update as zarnflash runs it: its own port and loader on a thread of its own,
// the same handshake and transfer as the window, with the loader's reports and the line's
// events turned into zarnflash events and a result that says what happened in one sentence.
// Jobs share nothing, so one device failing never disturbs another.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "flash/sender.h"
#include "tools/zarnflash/exit_codes.h"
#include "tools/zarnflash/discovery/candidate.h"
#include "tools/zarnflash/image.h"

// Where a device sits: its port and, where the system tells, its USB identity.
using DevicePlace = Candidate;

struct JobSettings {
  unsigned baud = 921600;
  bool requireVersion = false;
  bool trace = false;  // the --verbose hex trace
};

struct JobResult {
  ExitCode code = kExitOk;
  std::string sentence;        // what happened and what to try; empty on success
  bool versionReplied = false; // a version reply with a major version of 2 or more came
  int major = -1, minor = -1;  // the last version reported, -1 when none
  uint32_t bytesAcknowledged = 0;
  int64_t durationMs = 0;
  proto::Sender::Counts counts;
  bool transferStarted = false;
};

// What a job tells while it runs; called from the job's thread.
class JobListener {
public:
  virtual void OnVersion(const DevicePlace& place, int major, int minor) = 0;
  virtual void OnNoVersionReply(const DevicePlace& place) = 0;
  virtual void OnProgress(const DevicePlace& place, uint32_t bytesAcknowledged, uint32_t length,
                          int64_t elapsedMs) = 0;
  virtual void OnRestart(const DevicePlace& place) = 0;
  virtual void OnTrace(const DevicePlace& place, int64_t elapsedMs, const std::string& text) = 0;
  virtual void OnResult(const DevicePlace& place, const JobResult& result) = 0;

protected:
  ~JobListener() {}
};

class Job {
public:
  Job(DevicePlace place, const Image* image, JobSettings settings, JobListener* listener);
  ~Job();
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  void Start();
  // Asks the job to stop at its next wait (Ctrl-C); it then ends as interrupted.
  void Stop();
  void Join();
  const DevicePlace& Place() const { return m_place; }
  const JobResult& Result() const { return m_result; }

  struct State;

private:
  void Run();

  DevicePlace m_place;
  const Image* m_image;
  JobSettings m_settings;
  JobListener* m_listener;
  std::unique_ptr<State> m_state;
  std::atomic<bool> m_stop{false};
  JobResult m_result;
  std::thread m_thread;
};
