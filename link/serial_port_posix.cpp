// CSerialPort on POSIX terminals (termios, raw 8-N-1). Same contract and results as the Win32
// backend; ReadByte's wait sleeps in poll instead of spinning.
#include "link/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

struct CSerialPort::Impl {
  int fd = -1;
};

namespace {

bool SpeedFor(unsigned baud, speed_t* speed) {
  static const struct { unsigned baud; speed_t speed; } kSpeeds[] = {
      {9600, B9600},     {19200, B19200},   {38400, B38400},     {57600, B57600},
      {115200, B115200}, {230400, B230400}, {460800, B460800},   {921600, B921600},
  };
  for (const auto& s : kSpeeds)
    if (s.baud == baud) {
      *speed = s.speed;
      return true;
    }
  return false;
}

CSerialPort::Error OpenError(int code) {
  switch (code) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return CSerialPort::kAbsent;
    case EBUSY:
      return CSerialPort::kBusy;
    case EACCES:
    case EPERM:
      return CSerialPort::kPermissionDenied;
    default:
      return CSerialPort::kOther;
  }
}

// A read or write on an open line: these numbers mean the device behind it has gone.
CSerialPort::Error TransferError(int code) {
  return code == EIO || code == ENXIO || code == ENODEV ? CSerialPort::kHungUp
                                                        : CSerialPort::kOther;
}

long long NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

CSerialPort::CSerialPort() : m_impl(new Impl) {}

CSerialPort::~CSerialPort() { Close(); }

int CSerialPort::Open(int port, unsigned baud) {
  char path[32];
  std::snprintf(path, sizeof path, "/dev/ttyS%d", port - 1);
  return OpenPath(path, baud);
}

int CSerialPort::OpenPath(const char* path, unsigned baud) {
  const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetError(OpenError(errno), errno);
    return 0;
  }
  // Held without sharing: a second opener fails, as a COM port opened with share mode 0 does.
  // The lock works between processes and for root too; TIOCEXCL keeps out plain opens.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int code = errno;
    ::close(fd);
    SetError(code == EWOULDBLOCK ? kBusy : kOther, code);
    return 0;
  }
  ::ioctl(fd, TIOCEXCL);
  termios tio{};
  // A path that is no terminal (a plain file, /dev/null) fails here, and tcsetattr after it.
  const int noTerminal = ::tcgetattr(fd, &tio) != 0 ? errno : 0;
  speed_t speed;
  const bool speedKnown = SpeedFor(baud, &speed);
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (!speedKnown || ::cfsetispeed(&tio, speed) != 0 ||
      ::cfsetospeed(&tio, speed) != 0 || ::tcsetattr(fd, TCSANOW, &tio) != 0) {
    const int code = errno;
    ::close(fd);
    if (noTerminal)
      SetError(noTerminal == ENOTTY || noTerminal == EINVAL ? kNotATerminal : kOther, noTerminal);
    else
      SetError(kSettingsRefused, speedKnown ? code : EINVAL);
    return 0;
  }
  m_impl->fd = fd;
  SetError(kNone, 0);
  return 1;
}

void CSerialPort::Close() {
  if (m_impl->fd < 0) return;
  ::close(m_impl->fd);
  m_impl->fd = -1;
}

int CSerialPort::IsOpen() const { return m_impl->fd >= 0; }

int CSerialPort::Write(const unsigned char* data, unsigned length) {
  const int fd = m_impl->fd;
  SetError(kNone, 0);
  if (fd < 0) return 0;
  const long long deadline = NowMs() + 100 + 5LL * length;
  unsigned done = 0;
  bool started = false;
  while (done < length) {
    const ssize_t n = ::write(fd, data + done, length - done);
    if (n > 0) {
      done += static_cast<unsigned>(n);
      started = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {  // a write that could not start fails
      SetError(TransferError(errno), errno);
      return started ? 1 : 0;
    }
    started = true;
    const long long left = deadline - NowMs();
    if (left <= 0) break;  // cut short by the write time-out: still counts as written
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left));
  }
  return 1;
}

unsigned CSerialPort::Read(unsigned char* buffer, unsigned max) {
  const int fd = m_impl->fd;
  SetError(kNone, 0);
  if (fd < 0) return 0;
  int queued = 0;
  if (::ioctl(fd, FIONREAD, &queued) != 0) {  // EIO once the line has hung up
    SetError(TransferError(errno), errno);
    return 0;
  }
  if (queued <= 0) {
    // Nothing queued: say so, unless the line has gone (a hung-up line reads as empty too).
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN)) SetError(kHungUp, 0);
    return 0;
  }
  const unsigned n = static_cast<unsigned>(queued) < max ? static_cast<unsigned>(queued) : max;
  if (n == 0) return 0;
  ssize_t got;
  do {
    got = ::read(fd, buffer, n);
  } while (got < 0 && errno == EINTR);
  if (got < 0 && errno != EAGAIN) SetError(TransferError(errno), errno);
  return got > 0 ? static_cast<unsigned>(got) : 0;
}

void CSerialPort::WaitForInput() {
  // Sleep until input arrives, but let ReadByte look at the clock at least every 50 ms. A
  // hung-up line reports POLLHUP at once, so pause briefly then rather than spin.
  pollfd p{m_impl->fd, POLLIN, 0};
  const int ready = ::poll(&p, 1, 50);
  if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN)) {
    SetError(kHungUp, 0);
    ::poll(nullptr, 0, 20);
  }
}

int64_t CSerialPort::CalendarSeconds() { return static_cast<int64_t>(::time(nullptr)); }

std::string CSerialPort::OsErrorText(int code) {
  // Only the exclusive lock leaves EWOULDBLOCK (reads and writes wait it out), and the OS's
  // words for it ("resource temporarily unavailable") would mislead.
  std::string text = code == EWOULDBLOCK ? "locked by another opener" : std::strerror(code);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}
