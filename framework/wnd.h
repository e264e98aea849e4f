// CWnd: a window handle and thin one-message wrappers around it. The class itself is portable
// so that the loader's classes can derive from it everywhere; the wrappers that talk to the
// window system are defined in wnd_win32.cpp and exist only in the Windows build.
#pragma once
#include <cstdint>
#include "cmdtarget.h"
#include "cstring.h"

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
  int GetWindowText(CString& text) const;
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
  // Centres the window over `alternateOwner`, or over the desktop when none is given,
  // keeping it inside the work area.
  void CenterWindow(CWnd* alternateOwner = nullptr);

  // The window procedure's side. A subclassed window's messages go to WindowProc, which walks
  // the message map; Default() hands the message being handled to the window's original
  // procedure.
  BOOL SubclassWindow(HWND hwnd);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Default();

  HWND m_hWnd;

private:
  struct CurrentMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  intptr_t m_superProc = 0;  // the procedure the window had before SubclassWindow
  CurrentMessage m_current = {0, 0, 0};
};
