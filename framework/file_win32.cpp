// CFile over Win32 file handles.
#include "framework/file.h"

#include <windows.h>

BOOL CFile::Open(const wchar_t* path, UINT flags) {
  Close();
  const DWORD share = (flags & shareDenyNone) ? (FILE_SHARE_READ | FILE_SHARE_WRITE) : 0;
  HANDLE h = ::CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  m_handle = reinterpret_cast<intptr_t>(h);
  return TRUE;
}

uint64_t CFile::GetLength() const {
  if (m_handle == kClosed) throw CFileException{ERROR_INVALID_HANDLE};
  DWORD high = 0;
  const DWORD low = ::GetFileSize(reinterpret_cast<HANDLE>(m_handle), &high);
  if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR)
    throw CFileException{static_cast<int>(::GetLastError())};
  return (static_cast<uint64_t>(high) << 32) | low;
}

void CFile::SeekToBegin() {
  if (m_handle == kClosed) throw CFileException{ERROR_INVALID_HANDLE};
  if (::SetFilePointer(reinterpret_cast<HANDLE>(m_handle), 0, nullptr, FILE_BEGIN) ==
      INVALID_SET_FILE_POINTER)
    throw CFileException{static_cast<int>(::GetLastError())};
}

UINT CFile::Read(void* buffer, UINT count) {
  if (m_handle == kClosed) throw CFileException{ERROR_INVALID_HANDLE};
  DWORD got = 0;
  if (!::ReadFile(reinterpret_cast<HANDLE>(m_handle), buffer, count, &got, nullptr))
    throw CFileException{static_cast<int>(::GetLastError())};
  return got;
}

void CFile::Close() {
  if (m_handle == kClosed) return;
  ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
  m_handle = kClosed;
}
