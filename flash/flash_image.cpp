// CFLASH's image file: the path, opening and measuring, block reads padded with 0x1A, and the
// database version. The file object signals errors by exceptions; they stop here, in FileCall,
// and become results.
#include "flash/flash.h"

#include <cstring>

namespace {

constexpr int kReadAttempts = 5;
constexpr int kHeaderLength = 16;
constexpr int kVersionOffset = 8;

// Runs one operation on the file object; false when it raised an error.
template <typename Operation>
bool FileCall(Operation operation) {
  try {
    operation();
    return true;
  } catch (const CFileException&) {
    return false;
  }
}

}  // namespace

void CFLASH::SetImagePath(const wchar_t* path) { m_imagePath = path; }

int CFLASH::OpenImage(uint32_t* length) {
  uint64_t size = 0;
  if (m_file.Open(m_imagePath, CFile::modeRead | CFile::shareDenyNone)) {
    if (FileCall([&] { size = m_file.GetLength(); })) {
      *length = static_cast<uint32_t>(size);  // the low 32 bits
      return 1;
    }
    m_file.Close();
  }
  Report(STATUS_READ_ERROR, 0);
  return 0;
}

int CFLASH::RewindImage() { return FileCall([&] { m_file.SeekToBegin(); }) ? 1 : 0; }

int CFLASH::ReadImageBlock(unsigned char* buffer, unsigned size) {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    UINT n = 0;
    if (!FileCall([&] { n = m_file.Read(buffer, size); })) n = 0;  // an error reads as empty
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
    // A file too short to hold the version field has no version, not one made of padding.
    uint64_t size = 0;
    ok = FileCall([&] { size = m_file.GetLength(); }) && size >= kVersionOffset + 4 &&
         RewindImage() && ReadImageBlock(header, kHeaderLength);
  }
  if (!ok) {
    Report(STATUS_READ_ERROR, 0);
    m_file.Close();  // if it was opened
    return 0;
  }
  m_file.Close();
  return static_cast<int32_t>(proto::GetLe32(header + kVersionOffset));
}
