// CUpdateDlg's close sequence: every way out of the window ends here, once.
#include "ui/update_dlg.h"

namespace {

// Left behind by a driver installation; deleted at every close although this program never
// writes them.
const wchar_t kDriverInstaller[] = L"C:\\DPInst.exe";
const wchar_t kDriverInf[] = L"C:\\ulvex-cdc.inf";
// The extracted image, at its fixed path: a file the user picked is never deleted.
const wchar_t kExtractedImage[] = L".\\ZarnUpdate.bin";

// Gives the connection monitor time to see the stop event before it is closed.
const DWORD kMonitorStopPauseMs = 500;

}  // namespace

BOOL CUpdateDlg::DestroyWindow() {
  // Results are ignored throughout: a missing file or a null handle is no error here.
  ::SetEvent(m_hStopEvent);
  ::Sleep(kMonitorStopPauseMs);

  ::DeleteFileW(kDriverInstaller);
  ::DeleteFileW(kDriverInf);
  ::DeleteFileW(kExtractedImage);

  m_bitmap.DeleteObject();
  m_font.DeleteObject();
  ::RemoveFontMemResourceEx(m_hFontResource);

  ::CloseHandle(m_hStopEvent);
  m_hStopEvent = nullptr;

  return CDialog::DestroyWindow();
}
