// The application object's registration and the program's entry point.
#include "winapp.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() { return ::GetModuleHandleW(nullptr); }

// Our dialogs hold only the system's own controls, so there is no ActiveX control to host and
// nothing to initialise: OLE stays unloaded and the program needs no OLE libraries.
void AfxEnableControlContainer() {}

// There is no application message loop: a program's InitInstance runs its window modally and
// returns FALSE, so the program ends as soon as InitInstance is done.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return 0;
  app->InitInstance();
  return app->ExitInstance();
}
