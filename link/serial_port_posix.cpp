// CSerialPort on POSIX terminals (termios, raw 8-N-1). Same contract and results as the Win32
// backend; ReadByte waits with poll instead of spinning.
#include "link/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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
  if (fd < 0) return 0;
  // Held without sharing: a second opener fails, as a COM port opened with share mode 0 does.
  // The lock works between processes and for root too; TIOCEXCL keeps out plain opens.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return 0;
  }
  ::ioctl(fd, TIOCEXCL);
  termios tio{};
  ::tcgetattr(fd, &tio);
  speed_t speed;
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (!SpeedFor(baud, &speed) || ::cfsetispeed(&tio, speed) != 0 ||
      ::cfsetospeed(&tio, speed) != 0 || ::tcsetattr(fd, TCSANOW, &tio) != 0) {
    ::close(fd);
    return 0;
  }
  m_impl->fd = fd;
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
    if (n < 0 && errno != EAGAIN) return started ? 1 : 0;  // a write that could not start fails
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
  if (fd < 0) return 0;
  int queued = 0;
  if (::ioctl(fd, FIONREAD, &queued) != 0 || queued <= 0) return 0;
  const unsigned n = static_cast<unsigned>(queued) < max ? static_cast<unsigned>(queued) : max;
  if (n == 0) return 0;
  ssize_t got;
  do {
    got = ::read(fd, buffer, n);
  } while (got < 0 && errno == EINTR);
  return got > 0 ? static_cast<unsigned>(got) : 0;
}

int CSerialPort::ReadByte(unsigned char* out, int timeoutSeconds) {
  const long long start = static_cast<long long>(::time(nullptr));
  *out = 0;
  if (m_impl->fd < 0) return 0;
  unsigned char chunk[10];
  unsigned got = Read(chunk, sizeof chunk);
  while (got == 0) {
    // Sleep until input arrives, but look at the clock at least every 50 ms. A hung-up line
    // reports POLLHUP at once, so pause briefly then rather than spin.
    pollfd p{m_impl->fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, 50);
    if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN))
      ::poll(nullptr, 0, 20);
    if (static_cast<long long>(::time(nullptr)) - start > timeoutSeconds) return 0;
    got = Read(chunk, sizeof chunk);
  }
  *out = chunk[got - 1];
  return 1;
}
