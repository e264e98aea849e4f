// The update command: extract the embedded image, run the install stage, start the flash
// worker; the handling of the worker's reports; and the choice of another image file.
#include "ui/update_dlg.h"

#include "framework/file_dialog.h"

namespace {

constexpr WORD kImageResource = IDR_UPDATE_IMAGE;
constexpr DWORD kInstallPollMs = 500;
constexpr int kInstallBarStep = 5;
constexpr DWORD kWorkerEndWaitMs = 1000;
constexpr UINT kFailureBox = MB_OK | MB_ICONHAND;
constexpr UINT kSuccessBox = MB_OK | MB_ICONEXCLAMATION;

// A report is being handled for as long as its handler runs.
class ReportScope {
 public:
  ReportScope(UpdateState& state, long long code)
      : m_state(state), m_reaction(state.ReportBegins(code)) {}
  ~ReportScope() { m_state.ReportEnds(); }
  ReportScope(const ReportScope&) = delete;
  ReportScope& operator=(const ReportScope&) = delete;
  const StatusReaction& reaction() const { return m_reaction; }

 private:
  UpdateState& m_state;
  const StatusReaction& m_reaction;
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
  switch (m_updateState.ConsiderPress(!CFLASH::WaitFlashThread(0))) {
    case UpdateState::Press::kRefuse: return false;
    case UpdateState::Press::kStart: return true;
    case UpdateState::Press::kWaitForWorker: break;
  }
  // The outcome is shown and the worker is only closing its port: worth a moment's wait, in
  // which its last reports are served.
  const unsigned boxes = m_updateState.ResultBoxes();
  const bool ended = WaitForHelperThreads(false, 0, kWorkerEndWaitMs);
  return m_updateState.MayStartAfterWait(boxes, !ended);
}

void CUpdateDlg::OnBnClickedUpdate() {
  if (!UpdateMayStart()) return;
  m_progress.SetPos(0);
  if (!::InterlockedCompareExchange(&m_connected, 0, 0)) {
    MessageBox(GetText(5), GetText(6), kFailureBox);
    return;
  }
  m_installState = 1;
  if (!ExtractImage(kImageResource, kExtractedImagePath)) {
    MessageBox(GetText(13), GetText(6), kFailureBox);
    return;
  }
  GetDlgItem(IDC_STATUS).SetWindowText(GetText(17));

  m_updateState.PreparingBegins();
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
  m_updateState.PreparingEnds();
  if (IsEnding()) return;  // the window was closed while the stage ran: nothing to start

  m_progress.SetPos(0);
  m_updateState.WorkerStarts();  // the button stays disabled until the outcome is shown
  GetDlgItem(IDC_UPDATE).EnableWindow(FALSE);
  GetDlgItem(IDC_STATUS).SetWindowText(GetText(16));
  m_flash.OpenLink(::InterlockedCompareExchange(&m_comPort, 0, 0));
  m_flash.SetImagePath(m_imagePath);
  m_flash.m_packetHead = proto::kUpdatePacket.head;
  m_flash.m_blockSize = proto::kUpdatePacket.blockSize;
  m_flash.m_packetSize = proto::kUpdatePacket.packetSize;
  m_flash.StartFlashThread(m_hWnd, WM_FLASH_STATUS, &m_flash);
}

LRESULT CUpdateDlg::OnFlashStatus(WPARAM value, LPARAM code) {
  const ReportScope scope(m_updateState, code);
  const StatusReaction& reaction = scope.reaction();
  int position = 0;
  if (reaction.BarPosition(static_cast<uint32_t>(value), &position)) m_progress.SetPos(position);
  if (reaction.enablesButton) GetDlgItem(IDC_UPDATE).EnableWindow(TRUE);
  if (reaction.statusText != kNoText)
    GetDlgItem(IDC_STATUS).SetWindowText(GetText(reaction.statusText));
  if (reaction.rewritesVersion) {
    // The database read may report a read error of its own first, handled right here.
    const int32_t database = m_flash.ReadDatabaseVersion();
    CString line;
    line.Format(L"DEVICE VER:V%d.%02d | DB VER: %d", static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>(value & 0xFF), static_cast<int>(database));
    GetDlgItem(IDC_VERSION).SetWindowText(line);
  }
  if (reaction.box != StatusReaction::Box::kNone) {
    const bool success = reaction.box == StatusReaction::Box::kSuccess;
    MessageBox(GetText(reaction.boxText), GetText(6), success ? kSuccessBox : kFailureBox);
  }
  if (reaction.closesWindow) PostMessage(WM_CLOSE, 0, 0);
  return 1;
}

void CUpdateDlg::OnBnClickedFileSelect() {
  CFileDialog dialog(TRUE, nullptr, L"", OFN_EXPLORER | OFN_HIDEREADONLY,
                     L"bin文件 ( *.bin)|*.bin|", this);
  if (dialog.DoModal() == IDOK) m_imagePath = dialog.GetPathName();
}
