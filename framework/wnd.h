// CWnd: a window handle and thin one-message wrappers around it. The class itself is portable
// so that the loader's classes can derive from it everywhere; the wrappers that talk to the
// window system are defined in wnd_win32.cpp and exist only in the Windows build.
#pragma once
#include "cmdtarget.h"

class CWnd : public CCmdTarget {
public:
  CWnd() : m_hWnd(nullptr) {}
  ~CWnd() override {}

  HWND GetSafeHwnd() const { return m_hWnd; }

  HWND m_hWnd;
};
