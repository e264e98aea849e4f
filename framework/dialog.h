// CDialog: a dialog from a template, run modally by a message loop of our own so that
// PreTranslateMessage sees every message before the dialog's keyboard navigation does.
#pragma once
#include "gdi.h"
#include "message_map_win32.h"
#include "wnd.h"

class CDialog;

// The context of a dialog's data exchange, which binds its controls to members as it starts.
class CDataExchange {
public:
  explicit CDataExchange(CDialog* dialog) : m_pDlgWnd(dialog) {}

  CDialog* m_pDlgWnd;
};

// Binds `control` to the dialog item `id` the first time it is called for that control.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

class CDialog : public CSubclassedWnd {
public:
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);
  ~CDialog() override {}

  // Creates the dialog, runs it until EndDialog, then destroys it through DestroyWindow.
  // Returns the value given to EndDialog, or -1 when the dialog could not be created.
  virtual INT_PTR DoModal();
  void EndDialog(int result);
  // True once EndDialog has been called: the modal loop is about to end.
  BOOL IsEnding() const { return m_hWnd != nullptr && !m_running; }

  // Runs DoDataExchange, which binds the controls.
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(CDataExchange* dx) { (void)dx; }
  // Non-zero when the message has been handled and must not be dispatched.
  virtual BOOL PreTranslateMessage(MSG* message);
  virtual BOOL DestroyWindow();
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }

  // Default handlers: each hands its message to the dialog's default processing.
  void OnPaint() { Default(); }
  void OnNcPaint() { Default(); }
  HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
  void OnTimer(UINT_PTR id) { (void)id; Default(); }
  // Our controls reflect nothing back, so the colours are always the default ones.
  HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT kind);
  BOOL OnNcActivate(BOOL active) { (void)active; return static_cast<BOOL>(Default()); }
  void OnActivate(UINT state, CWnd* other, BOOL minimized);

protected:
  UINT m_templateId;
  CWnd* m_pParentWnd;

  DECLARE_MESSAGE_MAP()

private:
  LRESULT HandleInitDialog(WPARAM focus, LPARAM parameter);
  static INT_PTR CALLBACK StartDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  BOOL m_running = FALSE;
  INT_PTR m_nModalResult = -1;
};
