// CWinApp: the application object, and the entry point that runs it.
#pragma once
#include "message_map_win32.h"
#include "wnd.h"

// The standard help command.
const UINT ID_HELP = 0xE146;

class CWinApp : public CCmdTarget {
public:
  // The one application object registers itself here; the entry point runs it.
  CWinApp();
  ~CWinApp() override;

  // Called once at start-up. FALSE ends the program once ExitInstance has run.
  virtual BOOL InitInstance() { return FALSE; }
  // Called as the program ends; the result is the process's exit code.
  virtual int ExitInstance() { return 0; }

  // Target of the help command. The program ships no help file, so there is nothing to open.
  void OnHelp() {}

  // The window whose destruction ends the thread; cleared when it is destroyed.
  CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();

// Switches on the hosting of ActiveX controls in dialogs.
void AfxEnableControlContainer();
