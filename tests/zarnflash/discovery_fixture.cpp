// Simulated devices with links, named child processes and unprivileged work for the tests.
#include "discovery_fixture.h"

#include <grp.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

DeviceRoom::DeviceRoom() {
  char pattern[] = "/tmp/zarn-discovery-XXXXXX";
  m_folder = mkdtemp(pattern);
}

DeviceRoom::~DeviceRoom() {
  m_devices.clear();
  (void)!system(("rm -rf '" + m_folder + "'").c_str());
}

std::string DeviceRoom::Start(devsim::Options options, const std::string& name) {
  options.linkPath = m_folder + "/" + name;
  Entry entry{options.linkPath, std::unique_ptr<devsim::Device>(new devsim::Device(options))};
  if (!entry.device->Start()) {
    m_error = entry.device->Error();
    return "";
  }
  m_devices.push_back(std::move(entry));
  return options.linkPath;
}

void DeviceRoom::Stop(const std::string& link) {
  for (auto it = m_devices.begin(); it != m_devices.end(); ++it)
    if (it->link == link) {
      m_devices.erase(it);
      return;
    }
}

std::string DeviceRoom::SlavePath(const std::string& link) const {
  for (const Entry& e : m_devices)
    if (e.link == link) return e.device->SlavePath();
  return "";
}

ChildProcess::ChildProcess(const std::string& name, std::function<int()> setUp) {
  int ready[2], hold[2];
  if (pipe(ready) != 0) return;
  if (pipe(hold) != 0) {
    close(ready[0]);
    close(ready[1]);
    return;
  }
  m_pid = fork();
  if (m_pid == 0) {
    close(ready[0]);
    close(hold[1]);
    prctl(PR_SET_NAME, name.c_str(), 0, 0, 0);
    const char ok = setUp() ? 1 : 0;
    (void)!write(ready[1], &ok, 1);
    char b;
    while (read(hold[0], &b, 1) > 0) {
    }
    _exit(0);  // no test framework teardown in the child
  }
  close(ready[1]);
  close(hold[0]);
  m_hold = hold[1];
  char ok = 0;
  m_ready = m_pid > 0 && read(ready[0], &ok, 1) == 1 && ok == 1;
  close(ready[0]);
}

ChildProcess::~ChildProcess() {
  if (m_hold >= 0) close(m_hold);
  if (m_pid > 0) waitpid(m_pid, nullptr, 0);
}

int RunAsNobody(const std::function<std::string()>& work, std::string* output,
                std::string* whyNot) {
  if (geteuid() != 0) {
    *whyNot = "only root can start a process as another user";
    return 0;
  }
  int out[2];
  if (pipe(out) != 0) {
    *whyNot = std::string("pipe: ") + std::strerror(errno);
    return 0;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    // The first byte says whether the child became nobody; the text follows.
    std::string text;
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
      text = std::string("N") + "cannot become nobody: " + std::strerror(errno);
    else
      text = "Y" + work();
    (void)!write(out[1], text.data(), text.size());
    _exit(0);
  }
  close(out[1]);
  std::string text;
  char buffer[512];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
  if (pid < 0 || text.empty()) {
    *whyNot = "the unprivileged child did not report";
    return 0;
  }
  if (text[0] != 'Y') {
    *whyNot = text.substr(1);
    return 0;
  }
  *output = text.substr(1);
  return 1;
}

std::string OwnCommand() {
  std::ifstream comm("/proc/self/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}
