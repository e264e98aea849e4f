// CDialog: creation from the template, the modal loop, the controls' binding and the standard
// commands.
#include "dialog.h"
#include <commctrl.h>
#include "winapp.h"

namespace {
// The dialog whose window CreateDialogParamW is making: its first message attaches it.
CDialog* g_creating = nullptr;
}  // namespace

BEGIN_MESSAGE_MAP(CDialog, CSubclassedWnd)
  ON_MESSAGE(WM_INITDIALOG, &CDialog::HandleInitDialog)
  ON_COMMAND(IDOK, &CDialog::OnOK)
  ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (control.m_hWnd == nullptr) control.m_hWnd = ::GetDlgItem(dx->m_pDlgWnd->m_hWnd, id);
}

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

INT_PTR CDialog::DoModal() {
  // A template may name any of the common controls (ours has a progress bar); their window
  // classes must exist before the dialog is created.
  INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&classes);

  HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  m_nModalResult = -1;
  m_running = TRUE;
  g_creating = this;
  HWND hwnd = ::CreateDialogParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_templateId), owner,
                                   &CDialog::StartDialogProc, 0);
  g_creating = nullptr;
  if (hwnd == nullptr) {
    m_running = FALSE;
    return -1;
  }
  if (owner) ::EnableWindow(owner, FALSE);

  // Our own loop rather than DialogBox's: PreTranslateMessage gets each message first, so a
  // dialog can consume keys before the dialog manager's navigation acts on them.
  MSG message;
  while (m_running && m_hWnd != nullptr) {
    BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      ::PostQuitMessage(static_cast<int>(message.wParam));  // leave the quit for the caller
      break;
    }
    if (!PreTranslateMessage(&message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  m_running = FALSE;

  if (owner) ::EnableWindow(owner, TRUE);
  // Every way out of the loop ends here, so the dialog's own DestroyWindow runs exactly once.
  if (m_hWnd != nullptr) DestroyWindow();
  return m_nModalResult;
}

void CDialog::EndDialog(int result) {
  m_nModalResult = result;
  m_running = FALSE;
  if (m_hWnd != nullptr) ::EndDialog(m_hWnd, result);  // hides the window
}

BOOL CDialog::OnInitDialog() {
  CDataExchange dx(this);
  DoDataExchange(&dx);
  return TRUE;
}

BOOL CDialog::PreTranslateMessage(MSG* message) {
  if (m_hWnd == nullptr) return FALSE;
  return ::IsDialogMessageW(m_hWnd, message);
}

BOOL CDialog::DestroyWindow() {
  if (m_hWnd == nullptr) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

HBRUSH CDialog::OnCtlColor(CDC* dc, CWnd* control, UINT kind) {
  (void)dc;
  (void)control;
  (void)kind;
  return reinterpret_cast<HBRUSH>(Default());
}

void CDialog::OnActivate(UINT state, CWnd* other, BOOL minimized) {
  (void)state;
  (void)other;
  (void)minimized;
  Default();
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) { return OnInitDialog(); }

// The dialog manager calls this for the messages it does not handle itself. The first one
// (WM_SETFONT, before any control exists) attaches the window to the CDialog being created and
// subclasses it; from then on every message reaches CSubclassedWnd::WindowProc first and comes
// back here only as default processing, which is left to the dialog manager.
INT_PTR CALLBACK CDialog::StartDialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
  if (g_creating != nullptr) {
    CDialog* dialog = g_creating;
    g_creating = nullptr;
    dialog->SubclassWindow(hwnd);
    // A template without a font sends WM_INITDIALOG first: it must still reach the map.
    if (message == WM_INITDIALOG) return dialog->WindowProc(message, wParam, lParam);
  }
  return FALSE;
}
