// Shared pieces of the discovery tests: simulated devices whose links sit in a folder of their
// own (so a pattern finds them and nothing else on the machine), child processes that hold a
// port or carry a given name, and work run as an unprivileged user.
#pragma once
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/devsim/devsim.h"

// Simulated devices, each on its own pty with a link "<folder>/zarnN" to it.
class DeviceRoom {
public:
  DeviceRoom();
  ~DeviceRoom();
  // Starts a device; returns its link path, or "" (with the reason in Error()) on failure.
  std::string Start(devsim::Options options, const std::string& name);
  // Stops the device behind `link` (its link goes with it).
  void Stop(const std::string& link);
  const std::string& Folder() const { return m_folder; }
  std::string Pattern() const { return m_folder + "/zarn*"; }
  std::string SlavePath(const std::string& link) const;
  const std::string& Error() const { return m_error; }

private:
  struct Entry {
    std::string link;
    std::unique_ptr<devsim::Device> device;
  };
  std::string m_folder;
  std::string m_error;
  std::vector<Entry> m_devices;
};

// A child process named `name` (as /proc/<pid>/comm shows it) that runs `setUp` and then
// waits until the object goes. `setUp` returns 0 when it failed; Ready() then says so.
class ChildProcess {
public:
  ChildProcess(const std::string& name, std::function<int()> setUp);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  pid_t Pid() const { return m_pid; }
  bool Ready() const { return m_ready; }

private:
  pid_t m_pid = -1;
  int m_hold = -1;  // the child waits until this closes
  bool m_ready = false;
};

// Runs `work` in a child that has become the user nobody (uid and gid 65534, no other groups)
// and returns its text. 0 with *whyNot set when no such child can be made (not root).
int RunAsNobody(const std::function<std::string()>& work, std::string* output,
                std::string* whyNot);

// This process's name as /proc shows it.
std::string OwnCommand();
