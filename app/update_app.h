// CUpdateApp: the application object. Its start-up prepares the process and runs the main
// window modally; the program ends when the window has closed.
#pragma once
#include "framework/winapp.h"

class CUpdateApp : public CWinApp {
public:
  CUpdateApp() {}

  BOOL InitInstance() override;

  DECLARE_MESSAGE_MAP()
};

// Enables the privilege `name` in this process's token. TRUE when the token could be opened
// and adjusted; whether the token held the privilege at all is not asked.
BOOL EnablePrivilege(LPCWSTR name);
