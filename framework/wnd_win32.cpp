// CWnd on Windows: the one-call wrappers; CSubclassedWnd: subclassing, and the window
// procedure that walks the message map.
#include "wnd.h"
#include "gdi.h"
#include "message_map_win32.h"
#include "winapp.h"

namespace {

// The window property that leads from a subclassed window to its CSubclassedWnd.
const wchar_t kWndProperty[] = L"Zarn.CWnd";

LRESULT CALLBACK RouteMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CSubclassedWnd* wnd = static_cast<CSubclassedWnd*>(::GetPropW(hwnd, kWndProperty));
  if (wnd == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return wnd->WindowProc(message, wParam, lParam);
}

// The first entry for the message in the class's map or its bases' maps. WM_COMMAND entries
// must also match the notification code and the control id.
const MessageMapEntry* FindEntry(const MessageMap* map, UINT message, UINT code, UINT id) {
  for (; map != nullptr; map = map->base ? map->base() : nullptr) {
    for (const MessageMapEntry* entry = map->entries; entry->message != 0; ++entry) {
      if (entry->message != message) continue;
      if (message == WM_COMMAND && (entry->code != code || entry->id != id)) continue;
      return entry;
    }
  }
  return nullptr;
}

// Calls the handler through the exact type it was stored from (see message_map_win32.h).
template <typename Handler>
Handler As(MessageHandler handler) {
  return reinterpret_cast<Handler>(handler);
}

// Runs the map's handler for the message; false when the map has none.
bool Dispatch(CWnd* wnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  UINT key = message, code = 0, id = 0;
  if (message == WM_COMMAND) {
    code = HIWORD(wParam);
    id = LOWORD(wParam);
  } else if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) {
    key = kCtlColorMessage;
  }
  const MessageMapEntry* entry = FindEntry(wnd->GetMessageMap(), key, code, id);
  if (entry == nullptr) return false;

  CCmdTarget* target = wnd;
  MessageHandler handler = entry->handler;
  *result = 0;
  switch (entry->signature) {
    case kSigCommand:
    case kSigVoid:
      (target->*As<void (CCmdTarget::*)()>(handler))();
      break;
    case kSigQueryDragIcon:
      *result = reinterpret_cast<LRESULT>((target->*As<HCURSOR (CCmdTarget::*)()>(handler))());
      break;
    case kSigTimer:
      (target->*As<void (CCmdTarget::*)(UINT_PTR)>(handler))(wParam);
      break;
    case kSigMessage:
      *result = (target->*As<LRESULT (CCmdTarget::*)(WPARAM, LPARAM)>(handler))(wParam, lParam);
      break;
    case kSigCtlColor: {
      CDC dc(reinterpret_cast<HDC>(wParam));
      CWnd control(reinterpret_cast<HWND>(lParam));
      HBRUSH brush = (target->*As<HBRUSH (CCmdTarget::*)(CDC*, CWnd*, UINT)>(handler))(
          &dc, &control, message - WM_CTLCOLORMSGBOX);
      *result = reinterpret_cast<LRESULT>(brush);
      break;
    }
    case kSigNcActivate:
      *result = (target->*As<BOOL (CCmdTarget::*)(BOOL)>(handler))(static_cast<BOOL>(wParam));
      break;
    case kSigActivate: {
      CWnd other(reinterpret_cast<HWND>(lParam));
      (target->*As<void (CCmdTarget::*)(UINT, CWnd*, BOOL)>(handler))(
          LOWORD(wParam), &other, static_cast<BOOL>(HIWORD(wParam)));
      break;
    }
    default:
      return false;
  }
  return true;
}

}  // namespace

CWnd CWnd::GetDlgItem(int id) const { return CWnd(::GetDlgItem(m_hWnd, id)); }

BOOL CWnd::SetWindowText(LPCWSTR text) { return ::SetWindowTextW(m_hWnd, text); }

BOOL CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
  return ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

BOOL CWnd::ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }

BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }

BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }

void CWnd::GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }

void CWnd::GetWindowRect(RECT* rect) const { ::GetWindowRect(m_hWnd, rect); }

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon) {
  return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                                             reinterpret_cast<LPARAM>(icon)));
}

void CWnd::SetFont(CFont* font, BOOL redraw) {
  SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font->GetSafeHandle()), redraw);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

void CWnd::CenterWindow() {
  RECT window, over, area;
  GetWindowRect(&window);
  ::GetWindowRect(::GetDesktopWindow(), &over);
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);

  int width = window.right - window.left;
  int height = window.bottom - window.top;
  int x = (over.left + over.right) / 2 - width / 2;
  int y = (over.top + over.bottom) / 2 - height / 2;
  // Inside the work area; where the window is larger than the area, its top left shows.
  if (x + width > area.right) x = area.right - width;
  if (x < area.left) x = area.left;
  if (y + height > area.bottom) y = area.bottom - height;
  if (y < area.top) y = area.top;
  ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CSubclassedWnd::SubclassWindow(HWND hwnd) {
  if (m_hWnd != nullptr || hwnd == nullptr) return FALSE;
  if (!::SetPropW(hwnd, kWndProperty, this)) return FALSE;
  m_hWnd = hwnd;
  m_superProc = ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RouteMessage));
  return TRUE;
}

LRESULT CSubclassedWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  // Handlers may send messages to their own window, so the message being handled is kept
  // per call for Default() and restored afterwards.
  CurrentMessage outer = m_current;
  m_current = {message, wParam, lParam};
  LRESULT result = 0;
  if (!Dispatch(this, message, wParam, lParam, &result)) result = Default();
  m_current = outer;

  if (message == WM_NCDESTROY) {
    // The window is gone: let go of it, and end the thread's work with its main window.
    ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, m_superProc);
    ::RemovePropW(m_hWnd, kWndProperty);
    m_hWnd = nullptr;
    m_superProc = 0;
    CWinApp* app = AfxGetApp();
    if (app != nullptr && app->m_pMainWnd == this) {
      app->m_pMainWnd = nullptr;
      ::PostQuitMessage(0);
    }
  }
  return result;
}

LRESULT CSubclassedWnd::Default() {
  if (m_superProc == 0) return 0;  // only a subclassed window has a message being handled
  return ::CallWindowProcW(reinterpret_cast<WNDPROC>(m_superProc), m_hWnd, m_current.message,
                           m_current.wParam, m_current.lParam);
}

int CWnd::MessageBox(LPCWSTR text, LPCWSTR caption, UINT type) {
  return ::MessageBoxW(m_hWnd, text, caption, type);
}
