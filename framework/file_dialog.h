// CFileDialog: the system's open (or save) file dialog.
#pragma once
#include <vector>
#include "cstring.h"
#include "wnd.h"
#include <commdlg.h>  // not part of a lean windows.h

class CFileDialog : public CObject {
public:
  // `filter` is "description|pattern|" pairs, the last one closed by "|" as well.
  CFileDialog(BOOL openFileDialog, LPCWSTR defaultExtension = nullptr,
              LPCWSTR fileName = nullptr, DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
              LPCWSTR filter = nullptr, CWnd* parent = nullptr);

  // IDOK when the user chose a file, IDCANCEL otherwise.
  INT_PTR DoModal();
  // The chosen file's full path.
  CString GetPathName() const { return CString(m_fileName.data()); }

  OPENFILENAMEW m_ofn;

private:
  BOOL m_openFileDialog;
  std::vector<wchar_t> m_filter;    // the filter in the system's form: NUL-separated, NUL NUL end
  std::vector<wchar_t> m_fileName;  // in: initial name; out: chosen path
  CString m_defaultExtension;
};
