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
#include "ui/update_state.h"

// Where every update extracts the embedded image, in the current directory: also the image
// path the window sends by default, and a file its close deletes.
constexpr wchar_t kExtractedImagePath[] = L".\\ZarnUpdate.bin";

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
  // Written by the connection monitor's thread and read by the window's: once the monitor is
  // started, every access is interlocked.
  volatile LONG m_connected;
  volatile LONG m_comPort = 0;
  CString m_imagePath;
  HANDLE m_hStopEvent;
  CFLASH m_flash;
  volatile uint8_t m_installState;  // read afresh at every pass of the install wait

  // Port discovery and the connection monitor (connection_monitor.cpp).
  int GetDeviceName(uint32_t index, const wchar_t* className, wchar_t* name);
  int FindDevicePort();
  static DWORD WINAPI MonitorThreadProc(LPVOID window);
  void MonitorConnection();

  // The update command (update_command.cpp).
  int ExtractImage(WORD resourceId, const wchar_t* path);
  static DWORD WINAPI InstallThreadProc(LPVOID window);
  void PumpMessages();

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
  void OnBnClickedUpdate();
  void OnBnClickedFileSelect();
  LRESULT OnFlashStatus(WPARAM value, LPARAM code);
  HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT kind);
  BOOL OnNcActivate(BOOL active);
  void OnNcPaint();
  void OnActivate(UINT state, CWnd* other, BOOL minimized);

  DECLARE_MESSAGE_MAP()

private:
  // Places the controls below a picture of `width` x `height` pixels.
  void PlaceControls(int width, int height);
  // Serves messages sent from other threads for at least `minMs`, until any flash worker (and
  // with `monitorToo` the monitor) has ended or `maxMs` have passed; true when they ended.
  bool WaitForHelperThreads(bool monitorToo, DWORD minMs, DWORD maxMs);
  // Whether a press of Update may start an update now (see the definition).
  bool UpdateMayStart();

  // This window's own stop signal for its monitor (manual reset), and the monitor thread:
  // the close sequence signals the one and waits for the other.
  HANDLE m_hMonitorStop = nullptr;
  HANDLE m_hMonitorThread = nullptr;
  UpdateState m_updateState;  // the one update's phase and the reports being handled
};
