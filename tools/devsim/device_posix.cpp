// The device on a POSIX pseudo-terminal: owns the pty master (and the link to its slave), serves
// the session on a thread, paces the line and carries out the session's actions.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "tools/devsim/devsim.h"
#include "tools/devsim/session.h"

namespace devsim {
namespace {

// Who holds a link: a lock on the file beside it, taken for the device's whole life. The lock
// goes with its process, so the link of a devsim that crashed is free to be replaced; a link
// alone cannot say whether the device behind it still runs.
class LinkLock {
public:
  ~LinkLock() { Release(); }

  // 1 when the lock is ours, 0 when another live device holds it or the lock file cannot be
  // made (the reason is in *error).
  int Acquire(const std::string& link, std::string* error) {
    m_path = link + ".lock";
    // A holder removes the file on its way out while still holding it: a file we locked that
    // is no longer the one at the path was just given up, and the lock is taken again.
    for (int attempt = 0; attempt < 10; ++attempt) {
      m_fd = open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
      if (m_fd < 0) {
        *error = "cannot make " + m_path + ": " + std::strerror(errno);
        return 0;
      }
      if (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        char pid[32] = "";
        ssize_t n = pread(m_fd, pid, sizeof pid - 1, 0);
        if (n > 0) pid[n] = 0;
        close(m_fd);
        m_fd = -1;
        *error = why == EWOULDBLOCK ? "--link " + link + " is held by a running devsim" +
                                          (pid[0] ? std::string(" (pid ") + pid + ")" : "")
                                    : "cannot lock " + m_path + ": " + std::strerror(why);
        return 0;
      }
      struct stat held, named;
      if (fstat(m_fd, &held) == 0 && stat(m_path.c_str(), &named) == 0 &&
          held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        // The pid only words the refusal of a second device; the lock is what counts.
        const std::string pid = std::to_string(getpid());
        if (ftruncate(m_fd, 0) == 0) {
          ssize_t ignored = pwrite(m_fd, pid.data(), pid.size(), 0);
          (void)ignored;
        }
        return 1;
      }
      close(m_fd);
      m_fd = -1;
    }
    *error = "cannot lock " + m_path + ": it keeps changing";
    return 0;
  }

  void Release() {
    if (m_fd < 0) return;
    unlink(m_path.c_str());
    close(m_fd);
    m_fd = -1;
  }

private:
  std::string m_path;
  int m_fd = -1;
};

}  // namespace

class DeviceLoop {
public:
  explicit DeviceLoop(const Options& options) : m_opt(options) {}
  ~DeviceLoop() { Stop(); }

  int Start();
  void Stop();
  int WaitDone(int timeoutMs, int updates);
  bool Gone() const;
  Result GetResult() const;
  std::vector<Result> Updates() const;

  std::string m_slavePath;
  std::string m_error;

private:
  int Fail(const std::string& what);
  void Run();
  bool SleepUntil(TimePoint when);
  bool Perform(const std::vector<Action>& actions);
  bool WriteAll(const std::vector<uint8_t>& bytes);
  void ClosePty();
  void Publish();
  TimePoint LineTime(size_t bytes) const;

  Options m_opt;
  std::vector<uint8_t> m_expected;
  int m_master = -1;
  int m_slaveHold = -1;  // keeps the slave open, so the updater closing it hangs nothing up
  int m_wake[2] = {-1, -1};
  bool m_linkMade = false;
  LinkLock m_linkLock;
  std::thread m_thread;

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::unique_ptr<Session> m_session;  // guarded by m_mutex
  bool m_gone = false;                 // guarded by m_mutex
  size_t m_published = 0;              // ended updates whose actions are done; by m_mutex
  TimePoint m_lineFree;                // when the incoming line has carried all it was given
};

int DeviceLoop::Fail(const std::string& what) {
  m_error = what + ": " + std::strerror(errno);
  ClosePty();
  return 0;
}

int DeviceLoop::Start() {
  if (m_thread.joinable()) return 1;
  if (!m_opt.verifyFile.empty()) {
    std::ifstream in(m_opt.verifyFile, std::ios::binary);
    if (!in) {
      errno = ENOENT;
      return Fail("cannot read " + m_opt.verifyFile);
    }
    m_expected.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0) return Fail("posix_openpt");
  if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) return Fail("grantpt/unlockpt");
  char name[128];
  if (ptsname_r(m_master, name, sizeof name) != 0) return Fail("ptsname");
  m_slavePath = name;

  // Termios set through the master apply to the slave: raw from the start, so that nothing
  // the updater sends is echoed back before it opens the port and sets its own modes.
  termios tio;
  if (tcgetattr(m_master, &tio) != 0) return Fail("tcgetattr");
  cfmakeraw(&tio);
  cfsetispeed(&tio, B921600);
  cfsetospeed(&tio, B921600);
  if (tcsetattr(m_master, TCSANOW, &tio) != 0) return Fail("tcsetattr");

  m_slaveHold = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_slaveHold < 0) return Fail("open " + m_slavePath);
  int flags = fcntl(m_master, F_GETFL);
  if (flags < 0 || fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0) return Fail("fcntl");
  if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) return Fail("pipe");

  if (!m_opt.linkPath.empty()) {
    if (!m_linkLock.Acquire(m_opt.linkPath, &m_error)) {
      ClosePty();
      return 0;
    }
    // Ours now: a link still there is a crashed device's.
    struct stat st;
    if (lstat(m_opt.linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
      unlink(m_opt.linkPath.c_str());
    if (symlink(m_slavePath.c_str(), m_opt.linkPath.c_str()) != 0)
      return Fail("symlink " + m_opt.linkPath);
    m_linkMade = true;
  }

  m_session.reset(new Session(m_opt, m_expected.empty() && m_opt.verifyFile.empty()
                                         ? nullptr
                                         : &m_expected));
  m_lineFree = Clock::now();
  m_thread = std::thread(&DeviceLoop::Run, this);
  return 1;
}

void DeviceLoop::ClosePty() {
  if (m_master >= 0) close(m_master);
  if (m_slaveHold >= 0) close(m_slaveHold);
  m_master = m_slaveHold = -1;
}

void DeviceLoop::Stop() {
  if (m_thread.joinable()) {
    char b = 1;
    ssize_t ignored = write(m_wake[1], &b, 1);
    (void)ignored;
    m_thread.join();
  }
  ClosePty();
  for (int& fd : m_wake) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  if (m_linkMade) unlink(m_opt.linkPath.c_str());
  m_linkMade = false;
  m_linkLock.Release();
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_session) {
    m_session->Close();
    m_published = m_session->Finished().size();
  }
  m_gone = true;
  m_changed.notify_all();
}

// Waits until `when`; false when Stop interrupted the wait.
bool DeviceLoop::SleepUntil(TimePoint when) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(when - Clock::now());
    if (left.count() <= 0) return true;
    // Microsecond waits: pacing sleeps twice per packet, and whole milliseconds would add up.
    pollfd p = {m_wake[0], POLLIN, 0};
    timespec ts = {static_cast<time_t>(left.count() / 1000000),
                   static_cast<long>(left.count() % 1000000) * 1000};
    if (ppoll(&p, 1, &ts, nullptr) > 0) return false;
  }
}

// The moment a line of the configured rate has carried `bytes` more, starting now.
TimePoint DeviceLoop::LineTime(size_t bytes) const {
  TimePoint t = Clock::now();
  if (m_opt.lineRate > 0)
    t += std::chrono::microseconds(static_cast<int64_t>(bytes) * 1000000 / m_opt.lineRate);
  return t;
}

bool DeviceLoop::WriteAll(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p = {m_master, POLLOUT, 0};
      poll(&p, 1, 100);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

bool DeviceLoop::Perform(const std::vector<Action>& actions) {
  for (const Action& a : actions) {
    switch (a.kind) {
      case Action::kWrite: {
        TimePoint at = LineTime(a.bytes.size()) + std::chrono::microseconds(m_opt.latencyUs);
        if (!SleepUntil(at)) return false;
        WriteAll(a.bytes);
        break;
      }
      case Action::kPause:
        if (!SleepUntil(Clock::now() + std::chrono::milliseconds(a.pauseMs))) return false;
        break;
      case Action::kFlushInput:
        tcflush(m_slaveHold, TCIFLUSH);
        break;
      case Action::kHangUp: {
        ClosePty();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gone = true;
        return false;
      }
    }
  }
  return true;
}

void DeviceLoop::Run() {
  std::vector<uint8_t> buf(8192);
  std::vector<Action> actions;
  for (;;) {
    int timeout = -1;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      TimePoint due;
      if (m_session->NextDeadline(&due)) {
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(due - Clock::now());
        timeout = left.count() <= 0 ? 0 : static_cast<int>((left.count() + 999) / 1000);
      }
    }
    pollfd p[2] = {{m_wake[0], POLLIN, 0}, {m_master, POLLIN, 0}};
    int ready = poll(p, 2, timeout);
    if (ready < 0 && errno != EINTR) break;
    if (p[0].revents) break;

    actions.clear();
    if (p[1].revents & POLLIN) {
      ssize_t n = read(m_master, buf.data(), buf.size());
      if (n > 0) {
        TimePoint now = Clock::now();
        if (m_opt.lineRate > 0) {
          // The bytes arrive no faster than the line carries them.
          if (m_lineFree < now) m_lineFree = now;
          m_lineFree += std::chrono::microseconds(static_cast<int64_t>(n) * 1000000 /
                                                  m_opt.lineRate);
          if (!SleepUntil(m_lineFree)) break;
          now = Clock::now();
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_session->Feed(buf.data(), static_cast<size_t>(n), now, &actions);
      }
    } else if (p[1].revents & (POLLHUP | POLLERR)) {
      // Not expected while the slave is held open; do not spin if it happens.
      if (!SleepUntil(Clock::now() + std::chrono::milliseconds(10))) break;
    }
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_session->Tick(Clock::now(), &actions);
    }
    bool go_on = Perform(actions);
    Publish();
    if (!go_on) break;
  }
  Publish();
}

// Waiters learn of an ended update only once its last answers and flush are done.
void DeviceLoop::Publish() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_published = m_session->Finished().size();
  m_changed.notify_all();
}

int DeviceLoop::WaitDone(int timeoutMs, int updates) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_session) return 0;
  auto done = [&] { return m_published >= static_cast<size_t>(updates) || m_gone; };
  m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
  return m_published >= static_cast<size_t>(updates) ? 1 : 0;
}

bool DeviceLoop::Gone() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_gone;
}

Result DeviceLoop::GetResult() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_session) return Result();
  if (!m_session->Finished().empty()) return m_session->Finished().back();
  return m_session->Current();
}

std::vector<Result> DeviceLoop::Updates() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_session) return {};
  return m_session->Finished();
}

Device::Device(const Options& options) : m_loop(new DeviceLoop(options)) {}
Device::~Device() = default;
int Device::Start() { return m_loop->Start(); }
const std::string& Device::SlavePath() const { return m_loop->m_slavePath; }
const std::string& Device::Error() const { return m_loop->m_error; }
int Device::WaitDone(int timeoutMs, int updates) { return m_loop->WaitDone(timeoutMs, updates); }
void Device::Stop() { m_loop->Stop(); }
bool Device::Gone() const { return m_loop->Gone(); }
Result Device::GetResult() const { return m_loop->GetResult(); }
std::vector<Result> Device::Updates() const { return m_loop->Updates(); }

}  // namespace devsim
