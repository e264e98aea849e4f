// CFLASH's image file: the path, block reads padded with 0x1A, and the database version.
#include "flash/flash.h"

#include <cstring>

namespace {
constexpr int kReadAttempts = 5;
constexpr int kHeaderLength = 16;
constexpr int kVersionOffset = 8;
}  // namespace

void CFLASH::SetImagePath(const wchar_t* path) { m_imagePath = path; }

int CFLASH::ReadImageBlock(unsigned char* buffer, unsigned size) {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    UINT n = 0;
    try {
      n = m_file.Read(buffer, size);
    } catch (const CFileException&) {
      n = 0;  // a read error counts as an empty read
    }
    if (n > 0) {
      if (n < size) std::memset(buffer + n, proto::kPadByte, size - n);
      return 1;
    }
    PauseMs(1);
  }
  return 0;
}

int32_t CFLASH::ReadDatabaseVersion() {
  unsigned char header[kHeaderLength];
  bool ok = false;
  if (m_file.Open(m_imagePath, CFile::modeRead | CFile::shareDenyNone)) {
    try {
      // A file too short to hold the version field has no version, not one made of padding.
      ok = m_file.GetLength() >= kVersionOffset + 4;
      if (ok) m_file.SeekToBegin();
    } catch (const CFileException&) {
      ok = false;
    }
    ok = ok && ReadImageBlock(header, kHeaderLength);
    m_file.Close();
  }
  if (!ok) {
    Report(STATUS_READ_ERROR, 0);
    return 0;
  }
  return static_cast<int32_t>(uint32_t(header[8]) | uint32_t(header[9]) << 8 |
                              uint32_t(header[10]) << 16 | uint32_t(header[11]) << 24);
}
