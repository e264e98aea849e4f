// What zarnflash asks of a POSIX host.
#include "tools/zarnflash/host.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

int WriteTempFile(const char* stem, const std::vector<uint8_t>& bytes, std::string* path,
                  std::string* error) {
  const char* dir = std::getenv("TMPDIR");
  std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/" + stem + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    *error = "cannot create a temporary file in " + pattern + ": " + std::strerror(errno);
    return 0;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = std::string("cannot write a temporary file: ") + std::strerror(errno);
      close(fd);
      unlink(name.data());
      return 0;
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  *path = name.data();
  return 1;
}

int ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return 0;
  }
  if (S_ISDIR(st.st_mode)) {
    close(fd);
    *error = path + " is a folder, not an image file";
    return 0;
  }
  bytes->clear();
  uint8_t chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = "cannot read " + path + ": " + std::strerror(errno);
      close(fd);
      return 0;
    }
    if (n == 0) break;
    bytes->insert(bytes->end(), chunk, chunk + n);
  }
  close(fd);
  return 1;
}

int AppendLine(const std::string& path, const std::string& line, std::string* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const std::string text = line + "\n";
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return 0;
  }
  close(fd);
  return 1;
}

std::wstring WidePath(const std::string& path) {
  // The file system takes names as UTF-8 bytes; the loader wants them as wide characters.
  iconv_t cd = iconv_open("WCHAR_T", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::wstring(path.begin(), path.end());
  std::vector<wchar_t> out(path.size() + 1);
  char* in = const_cast<char*>(path.data());
  size_t inLeft = path.size();
  char* outp = reinterpret_cast<char*>(out.data());
  size_t outLeft = path.size() * sizeof(wchar_t);
  const size_t r = iconv(cd, &in, &inLeft, &outp, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return std::wstring(path.begin(), path.end());
  return std::wstring(out.data(), (path.size() * sizeof(wchar_t) - outLeft) / sizeof(wchar_t));
}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) == 1; }

int64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string LocalTimestamp() {
  const time_t now = time(nullptr);
  tm local;
  localtime_r(&now, &local);
  char text[40];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  return text;
}
