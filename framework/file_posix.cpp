// CFile over POSIX descriptors. Paths are wide strings; the file system takes them as UTF-8.
#include "framework/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

std::string ToUtf8(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) {
    const uint32_t c = static_cast<uint32_t>(*text);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

BOOL CFile::Open(const wchar_t* path, UINT /*flags: read-only, shared, existing*/) {
  Close();
  const int fd = ::open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FALSE;
  // A folder opens for reading here but is no file; it fails as it does on Windows.
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return FALSE;
  }
  m_handle = fd;
  return TRUE;
}

uint64_t CFile::GetLength() const {
  struct stat st;
  if (m_handle == kClosed || ::fstat(static_cast<int>(m_handle), &st) != 0)
    throw CFileException{m_handle == kClosed ? EBADF : errno};
  return static_cast<uint64_t>(st.st_size);
}

void CFile::SeekToBegin() {
  if (m_handle == kClosed || ::lseek(static_cast<int>(m_handle), 0, SEEK_SET) != 0)
    throw CFileException{m_handle == kClosed ? EBADF : errno};
}

UINT CFile::Read(void* buffer, UINT count) {
  if (m_handle == kClosed) throw CFileException{EBADF};
  ssize_t n;
  do {
    n = ::read(static_cast<int>(m_handle), buffer, count);
  } while (n < 0 && errno == EINTR);
  if (n < 0) throw CFileException{errno};
  return static_cast<UINT>(n);
}

void CFile::Close() {
  if (m_handle == kClosed) return;
  ::close(static_cast<int>(m_handle));
  m_handle = kClosed;
}
