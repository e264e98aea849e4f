// CFile: a file opened for reading. Open reports failure by its result; length, seek and read
// signal errors by throwing CFileException, which callers catch at their own boundary.
#pragma once
#include <cstdint>
#include "cmdtarget.h"

struct CFileException {
  int osError;  // the platform's error number, for messages; never interpreted
};

class CFile : public CObject {
public:
  // Only the modes the system uses: read access, other openers may read and write meanwhile.
  enum OpenFlags : UINT { modeRead = 0x0000, shareDenyNone = 0x0040 };

  CFile() : m_handle(kClosed) {}
  ~CFile() override { Close(); }

  BOOL Open(const wchar_t* path, UINT flags);  // existing file only
  uint64_t GetLength() const;                  // throws CFileException
  void SeekToBegin();                          // throws CFileException
  UINT Read(void* buffer, UINT count);         // 0 at the end; throws CFileException on error
  void Close();                                // nothing on a closed file
  bool IsOpen() const { return m_handle != kClosed; }

private:
  static const intptr_t kClosed = -1;
  intptr_t m_handle;  // HANDLE on Windows, file descriptor elsewhere
};
