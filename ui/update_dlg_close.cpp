// CUpdateDlg's close sequence: every way out of the window ends here, once.
#include "ui/update_dlg.h"

namespace {

// Left behind by a driver installation; deleted at every close although this program never
// writes them.
const wchar_t kDriverInstaller[] = L"C:\\DPInst.exe";
const wchar_t kDriverInf[] = L"C:\\ulvex-cdc.inf";
// The extracted image, at its fixed path: a file the user picked is never deleted.

// The pause after the stop signals; it also bounds how long a closing window waits for its
// monitor (which may be in the middle of a probe) and for a transfer to give up.
const DWORD kStopPauseMs = 500;
const DWORD kHelperThreadsLimitMs = 5000;

}  // namespace

BOOL CUpdateDlg::DestroyWindow() {
  // Results are ignored throughout: a missing file or a null handle is no error here.
  // The shared event is signalled for whoever listens to it; this window's own monitor and a
  // running transfer are told to stop directly, and the window outlives both: they use the
  // window and the loader until they end.
  ::SetEvent(m_hStopEvent);
  ::SetEvent(m_hMonitorStop);
  m_flash.RequestStop();
  WaitForHelperThreads(true, kStopPauseMs, kHelperThreadsLimitMs);

  ::DeleteFileW(kDriverInstaller);
  ::DeleteFileW(kDriverInf);
  ::DeleteFileW(kExtractedImagePath);

  m_bitmap.DeleteObject();
  m_font.DeleteObject();
  ::RemoveFontMemResourceEx(m_hFontResource);

  ::CloseHandle(m_hStopEvent);
  m_hStopEvent = nullptr;
  ::CloseHandle(m_hMonitorStop);
  m_hMonitorStop = nullptr;
  if (m_hMonitorThread) ::CloseHandle(m_hMonitorThread);
  m_hMonitorThread = nullptr;

  return CDialog::DestroyWindow();
}

bool CUpdateDlg::WaitForHelperThreads(bool monitorToo, DWORD minMs, DWORD maxMs) {
  // The monitor writes the status line and the bar, and the worker reports, by messages sent
  // to this thread: they can only finish while this thread keeps serving such messages.
  const DWORD start = ::GetTickCount();
  for (;;) {
    const DWORD elapsed = ::GetTickCount() - start;
    const bool monitorDone = !monitorToo || !m_hMonitorThread ||
                             ::WaitForSingleObject(m_hMonitorThread, 0) != WAIT_TIMEOUT;
    const bool ended = monitorDone && CFLASH::WaitFlashThread(0);
    if ((elapsed >= minMs && ended) || elapsed >= maxMs) return ended;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}
