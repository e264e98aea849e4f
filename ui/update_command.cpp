// The update command: extract the embedded image, run the install stage, start the flash
// worker; the handling of the worker's reports; and the choice of another image file.
#include "ui/update_dlg.h"

#include "framework/file_dialog.h"

namespace {

constexpr WORD kImageResource = IDR_UPDATE_IMAGE;
constexpr wchar_t kImageFile[] = L".\\ZarnUpdate.bin";
constexpr DWORD kInstallPollMs = 500;
constexpr int kInstallBarStep = 5;
constexpr DWORD kWorkerEndWaitMs = 1000;
constexpr UINT kFailureBox = MB_OK | MB_ICONHAND;
constexpr UINT kSuccessBox = MB_OK | MB_ICONEXCLAMATION;

// Counts a report as being handled for as long as its handler runs.
class ReportScope {
 public:
  explicit ReportScope(int& depth) : m_depth(depth) { ++m_depth; }
  ~ReportScope() { --m_depth; }
  ReportScope(const ReportScope&) = delete;
  ReportScope& operator=(const ReportScope&) = delete;

 private:
  int& m_depth;
};

}  // namespace

int CUpdateDlg::ExtractImage(WORD resourceId, const wchar_t* path) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(resourceId), L"OTHER");
  if (!resource) return 0;
  const DWORD size = ::SizeofResource(module, resource);
  if (size == 0) return 0;
  HGLOBAL loaded = ::LoadResource(module, resource);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data) return 0;
  HANDLE file = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, data, size, &written, nullptr);
  ::CloseHandle(file);
  // A short write (a full disk) leaves a cut-off image: that is a failure too.
  return ok && written == size ? 1 : 0;
}

DWORD WINAPI CUpdateDlg::InstallThreadProc(LPVOID window) {
  static_cast<CUpdateDlg*>(window)->m_installState = 2;
  return 1;
}

void CUpdateDlg::PumpMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

bool CUpdateDlg::UpdateMayStart() {
  // One update at a time: two workers would share one loader and one port. A press while an
  // update is being prepared, while a report is handled (its box showing), or while the
  // worker has not shown its outcome yet, belongs to that update and does nothing.
  if (m_updateStarting || m_reportDepth > 0) return false;
  if (CFLASH::WaitFlashThread(0)) return true;
  if (!GetDlgItem(IDC_UPDATE).IsWindowEnabled()) return false;
  // The outcome is shown and the worker is only closing the port: worth a moment's wait.
  // A press served during the transfer (the button can be enabled early by a failed database
  // read) must not become a new update once the result box it waited through is answered.
  const unsigned outcomes = m_outcomesShown;
  return WaitForHelperThreads(false, 0, kWorkerEndWaitMs) && m_outcomesShown == outcomes;
}

void CUpdateDlg::OnBnClickedUpdate() {
  if (!UpdateMayStart()) return;
  m_progress.SetPos(0);
  if (!m_connected) {
    MessageBox(GetText(5), GetText(6), kFailureBox);
    return;
  }
  m_installState = 1;
  if (!ExtractImage(kImageResource, kImageFile)) {
    MessageBox(GetText(13), GetText(6), kFailureBox);
    return;
  }
  GetDlgItem(IDC_STATUS).SetWindowText(GetText(17));

  m_updateStarting = true;
  HANDLE install = ::CreateThread(nullptr, 0, &InstallThreadProc, this, 0, nullptr);
  if (install)
    ::CloseHandle(install);
  else
    m_installState = 2;  // the stage has nothing to do but mark itself done: no reason to hang
  int position = 0;
  while (m_installState != 2) {
    ::Sleep(kInstallPollMs);
    m_progress.SetPos(position);
    position += kInstallBarStep;
    if (position > 100) position = 0;
    PumpMessages();
  }
  m_updateStarting = false;
  if (IsEnding()) return;  // the window was closed while the stage ran: nothing to start

  m_progress.SetPos(0);
  GetDlgItem(IDC_UPDATE).EnableWindow(FALSE);
  GetDlgItem(IDC_STATUS).SetWindowText(GetText(16));
  m_flash.OpenLink(::InterlockedCompareExchange(&m_comPort, 0, 0));
  m_flash.SetImagePath(m_imagePath);
  m_flash.m_packetHead = 2;
  m_flash.m_blockSize = 1024;
  m_flash.m_packetSize = 1029;
  m_flash.StartFlashThread(m_hWnd, WM_FLASH_STATUS, &m_flash);
}

void CUpdateDlg::FailUpdate(int text) {
  m_progress.SetPos(0);
  GetDlgItem(IDC_UPDATE).EnableWindow(TRUE);
  if (text < 0) return;
  ++m_outcomesShown;
  MessageBox(GetText(text), GetText(6), kFailureBox);
}

LRESULT CUpdateDlg::OnFlashStatus(WPARAM value, LPARAM code) {
  const ReportScope scope(m_reportDepth);
  switch (code) {
    case STATUS_RESET:
      m_progress.SetPos(0);
      break;
    case STATUS_PROGRESS:
      m_progress.SetPos(static_cast<int>(value));  // above 100 shows a full bar
      break;
    case STATUS_FINISHED:
      m_progress.SetPos(100);
      GetDlgItem(IDC_UPDATE).EnableWindow(TRUE);
      GetDlgItem(IDC_STATUS).SetWindowText(GetText(20));
      ++m_outcomesShown;
      MessageBox(GetText(11), GetText(6), kSuccessBox);
      break;
    case STATUS_LINK_ERROR:
      FailUpdate(8);
      break;
    case STATUS_READ_ERROR:
    case STATUS_SIZE_ERROR:
      FailUpdate(9);
      break;
    case 6:
    case STATUS_REJECTED:
      FailUpdate(10);
      break;
    case STATUS_DEVICE_FAULT:
      FailUpdate(15);
      PostMessage(WM_CLOSE, 0, 0);
      break;
    case STATUS_DEVICE_VERSION: {
      // The database read may report a read error of its own first, handled right here.
      const int32_t database = m_flash.ReadDatabaseVersion();
      CString line;
      line.Format(L"DEVICE VER:V%d.%02d | DB VER: %d", static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>(value & 0xFF), static_cast<int>(database));
      GetDlgItem(IDC_VERSION).SetWindowText(line);
      break;
    }
    default:
      FailUpdate(-1);
      break;
  }
  return 1;
}

void CUpdateDlg::OnBnClickedFileSelect() {
  CFileDialog dialog(TRUE, nullptr, L"", OFN_EXPLORER | OFN_HIDEREADONLY,
                     L"bin文件 ( *.bin)|*.bin|", this);
  if (dialog.DoModal() == IDOK) m_imagePath = dialog.GetPathName();
}
