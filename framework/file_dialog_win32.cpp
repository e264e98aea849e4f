// CFileDialog over GetOpenFileNameW and GetSaveFileNameW.
#include "file_dialog.h"
#include <commdlg.h>
#include <cstring>
#include <cwchar>

CFileDialog::CFileDialog(BOOL openFileDialog, LPCWSTR defaultExtension, LPCWSTR fileName,
                         DWORD flags, LPCWSTR filter, CWnd* parent)
    : m_openFileDialog(openFileDialog),
      m_fileName(MAX_PATH, L'\0'),
      m_defaultExtension(defaultExtension) {
  if (fileName != nullptr) wcsncpy(m_fileName.data(), fileName, m_fileName.size() - 1);
  if (filter != nullptr) {
    // The system wants each piece ended by NUL and the list by one more.
    for (const wchar_t* c = filter; *c != L'\0'; ++c) m_filter.push_back(*c == L'|' ? L'\0' : *c);
    m_filter.push_back(L'\0');
    m_filter.push_back(L'\0');
  }

  memset(&m_ofn, 0, sizeof(m_ofn));
  m_ofn.lStructSize = sizeof(m_ofn);
  m_ofn.hwndOwner = parent ? parent->GetSafeHwnd() : nullptr;
  m_ofn.lpstrFilter = m_filter.empty() ? nullptr : m_filter.data();
  m_ofn.lpstrFile = m_fileName.data();
  m_ofn.nMaxFile = static_cast<DWORD>(m_fileName.size());
  m_ofn.lpstrDefExt = defaultExtension ? m_defaultExtension.GetString() : nullptr;
  m_ofn.Flags = flags;
}

INT_PTR CFileDialog::DoModal() {
  BOOL chosen = m_openFileDialog ? ::GetOpenFileNameW(&m_ofn) : ::GetSaveFileNameW(&m_ofn);
  return chosen ? IDOK : IDCANCEL;
}
