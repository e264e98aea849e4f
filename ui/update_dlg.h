// CUpdateDlg: the updater's only window, a modal dialog from template 102. It owns the flash
// loader, the connection monitor's stop event, the embedded font and the picture.
#pragma once
#include <cstdint>
#include "flash/flash.h"
#include "framework/controls.h"
#include "framework/cstring.h"
#include "framework/dialog.h"
#include "framework/gdi.h"
#include "res/resource.h"
#include "ui/texts.h"

class CUpdateDlg : public CDialog {
public:
  explicit CUpdateDlg(CWnd* parent = nullptr);
  ~CUpdateDlg() override {}

  BOOL DestroyWindow() override;

  // Texts come from the localized table; the window keeps no language state of its own.
  static const wchar_t* GetText(int index) { return ::GetText(index); }

  CProgressCtrl m_progress;
  HICON m_hIcon;
  CBitmap m_bitmap;
  CFont m_font;
  HANDLE m_hFontResource = nullptr;
  int32_t m_connected;
  int32_t m_comPort = 0;
  CString m_imagePath;
  HANDLE m_hStopEvent;
  CFLASH m_flash;
  uint8_t m_installState;

protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL PreTranslateMessage(MSG* message) override;
  BOOL OnInitDialog() override;

  void RegisterFont();

  // Message handlers.
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnBnClickedSetup();
  void OnTimer(UINT_PTR id);
  HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT kind);
  BOOL OnNcActivate(BOOL active);
  void OnNcPaint();
  void OnActivate(UINT state, CWnd* other, BOOL minimized);

  DECLARE_MESSAGE_MAP()

private:
  // Places the controls below a picture of `width` x `height` pixels.
  void PlaceControls(int width, int height);
};
