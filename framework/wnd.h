// CWnd: a window handle and thin one-message wrappers around it, and CSubclassedWnd, a window
// whose messages we handle. The classes are portable so that the loader's classes can derive
// from CWnd everywhere; what talks to the window system is defined in wnd_win32.cpp and exists
// only in the Windows build.
#pragma once
#include <cstdint>
#include "cmdtarget.h"

class CFont;

class CWnd : public CCmdTarget {
public:
  CWnd() : m_hWnd(nullptr) {}
  // A wrapper around a window that someone else owns (a dialog item, a message's argument).
  explicit CWnd(HWND hwnd) : m_hWnd(hwnd) {}
  ~CWnd() override {}

  HWND GetSafeHwnd() const { return m_hWnd; }

  // Window-system wrappers: one call each (Windows build only).
  CWnd GetDlgItem(int id) const;
  BOOL SetWindowText(LPCWSTR text);
  BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
  BOOL ShowWindow(int command);
  BOOL EnableWindow(BOOL enable = TRUE);
  BOOL IsWindowEnabled() const;
  BOOL IsIconic() const;
  void GetClientRect(RECT* rect) const;
  void GetWindowRect(RECT* rect) const;
  HICON SetIcon(HICON icon, BOOL bigIcon);
  void SetFont(CFont* font, BOOL redraw = TRUE);
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  // A message box owned by this window.
  int MessageBox(LPCWSTR text, LPCWSTR caption, UINT type);
  // Centres the window over the desktop, keeping it inside the work area.
  void CenterWindow();

  HWND m_hWnd;
};

// A window of ours: SubclassWindow sends its messages to WindowProc, which walks the message
// map; Default() hands the message being handled to the window's original procedure. Only
// such a window carries that state: the CWnd that wraps a dialog item or a message's argument
// stays a bare handle.
class CSubclassedWnd : public CWnd {
public:
  BOOL SubclassWindow(HWND hwnd);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Default();

private:
  struct CurrentMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  intptr_t m_superProc = 0;  // the procedure the window had before SubclassWindow
  CurrentMessage m_current = {0, 0, 0};
};
