// The updater's start-up: control hosting, one privilege on Vista and later, the main window.
#include "app/update_app.h"
#include <cstring>
#include "ui/update_dlg.h"

static_assert(sizeof(OSVERSIONINFOW) == 276, "the version record is 276 bytes");
static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "one privilege entry makes 16 bytes");

BEGIN_MESSAGE_MAP(CUpdateApp, CWinApp)
  ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

// The one application object.
CUpdateApp theApp;

BOOL CUpdateApp::InitInstance() {
  AfxEnableControlContainer();

  // After a failed query the record stays zero, which counts as an old system.
  OSVERSIONINFOW version;
  memset(&version, 0, sizeof(version));
  version.dwOSVersionInfoSize = sizeof(version);
  ::GetVersionExW(&version);
  if (version.dwMajorVersion > 5) EnablePrivilege(L"SeDebugPrivilege");

  CUpdateDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  // The window is closed: no application message loop, the program ends.
  return FALSE;
}

BOOL EnablePrivilege(LPCWSTR name) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return FALSE;

  LUID id = {};
  ::LookupPrivilegeValueW(nullptr, name, &id);
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid = id;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  BOOL adjusted =
      ::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
  ::CloseHandle(token);
  return adjusted ? TRUE : FALSE;
}
