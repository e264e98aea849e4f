// CUpdateDlg: construction, message map, initialisation and layout, and the handlers that only
// look after appearance and keys.
#include "ui/update_dlg.h"
#include "framework/winapp.h"

namespace {

const wchar_t kTitleVersion[] = L"V2.0_RUS\r\n";
const wchar_t kFontFace[] = L"Elektra Text Pro";
const wchar_t kStopEventName[] = L"UlvexApp";

// The window is the picture's width and this much taller than the picture.
const int kHeightBelowPicture = 180;

}  // namespace

BEGIN_MESSAGE_MAP(CUpdateDlg, CDialog)
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
  ON_BN_CLICKED(IDC_SETUP, &CUpdateDlg::OnBnClickedSetup)
  ON_WM_TIMER()
  ON_BN_CLICKED(IDC_UPDATE, &CUpdateDlg::OnBnClickedUpdate)
  ON_BN_CLICKED(IDC_FILE_SELECT, &CUpdateDlg::OnBnClickedFileSelect)
  ON_MESSAGE(WM_FLASH_STATUS, &CUpdateDlg::OnFlashStatus)
  ON_WM_CTLCOLOR()
  ON_WM_NCACTIVATE()
  ON_WM_NCPAINT()
  ON_WM_ACTIVATE()
END_MESSAGE_MAP()

CUpdateDlg::CUpdateDlg(CWnd* parent) : CDialog(IDD_UPDATE_DIALOG, parent) {
  m_hIcon = ::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
  m_connected = 0;
  m_hStopEvent = nullptr;
  m_installState = 0;
}

void CUpdateDlg::DoDataExchange(CDataExchange* dx) { DDX_Control(dx, IDC_PROGRESS, m_progress); }

BOOL CUpdateDlg::OnInitDialog() {
  CDialog::OnInitDialog();  // binds m_progress

  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);

  RegisterFont();
  // The embedded face is the bold one; asking for normal weight still finds it by name.
  m_font.Attach(::CreateFontW(24, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS | DEFAULT_PITCH,
                              kFontFace));
  GetDlgItem(IDC_UPDATE).SetFont(&m_font);
  GetDlgItem(IDCANCEL).SetFont(&m_font);
  GetDlgItem(IDC_VERSION).SetFont(&m_font);
  GetDlgItem(IDC_STATUS).SetFont(&m_font);

  CString title;
  title.Format(L"%ls %ls", GetText(6), kTitleVersion);
  SetWindowText(title);

  // The picture's size sets the window's size and the whole layout.
  m_bitmap.LoadBitmap(IDB_BANNER);
  BITMAP picture = {};
  m_bitmap.GetBitmap(&picture);
  const int width = picture.bmWidth;
  const int height = picture.bmHeight;
  GetDlgItem(-1).SendMessage(STM_SETIMAGE, IMAGE_BITMAP,
                             reinterpret_cast<LPARAM>(static_cast<HBITMAP>(m_bitmap)));

  RECT window;
  GetWindowRect(&window);
  MoveWindow(window.left, window.top, width, height + kHeightBelowPicture);
  CenterWindow();

  PlaceControls(width, height);

  GetDlgItem(IDC_VERSION).SetWindowText(L"");
  GetDlgItem(IDC_SETUP).SetWindowText(GetText(0));
  GetDlgItem(IDC_SETUP).ShowWindow(SW_HIDE);
  GetDlgItem(IDCANCEL).SetWindowText(GetText(1));
  GetDlgItem(IDC_UPDATE).SetWindowText(GetText(2));
  GetDlgItem(IDC_FILE_SELECT).SetWindowText(GetText(7));
  GetDlgItem(IDC_STATUS).SetWindowText(GetText(12));

  // Auto-reset and named: a second copy of the updater opens the same event.
  m_hStopEvent = ::CreateEventW(nullptr, FALSE, FALSE, kStopEventName);
  m_imagePath = kExtractedImagePath;
  m_comPort = 0;

  // The monitor runs until the close sequence signals it and waits for it to end.
  m_hMonitorStop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_hMonitorThread = ::CreateThread(nullptr, 0, &CUpdateDlg::MonitorThreadProc, this, 0, nullptr);

  return TRUE;  // the focus goes to the first tab stop, the exit button
}

void CUpdateDlg::PlaceControls(int width, int height) {
  // The two visible buttons share the picture's width with three equal gaps.
  const int gap = (width - 260) / 3;

  GetDlgItem(IDC_SETUP).MoveWindow(width - 100, height + 2, 90, 35);
  GetDlgItem(IDC_STATUS).MoveWindow(5, height + 10, width, 20);
  GetDlgItem(IDC_FILE_SELECT).MoveWindow(width - 100, height + 42, 90, 35);
  GetDlgItem(IDC_SETUP).ShowWindow(SW_HIDE);
  GetDlgItem(IDC_FILE_SELECT).ShowWindow(SW_HIDE);
  GetDlgItem(IDC_UPDATE).MoveWindow(5 + gap, height + 52, 130, 35);
  GetDlgItem(IDCANCEL).MoveWindow(5 + 2 * gap + 130, height + 52, 130, 35);
  GetDlgItem(IDC_PROGRESS).MoveWindow(5, height + 100, width - 15, 25);
  m_progress.SetRange(0, 100);
  m_progress.SetPos(0);
  GetDlgItem(IDC_VERSION).MoveWindow(5, height + 130, width, 20);
}

void CUpdateDlg::RegisterFont() {
  HINSTANCE instance = AfxGetInstanceHandle();
  HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(IDR_FONT), L"OTF");
  if (resource == nullptr) return;
  void* data = ::LockResource(::LoadResource(instance, resource));
  DWORD size = ::SizeofResource(instance, resource);
  DWORD installed = 0;
  // Private to this process: the font is never installed for other programs.
  m_hFontResource = ::AddFontMemResourceEx(data, size, nullptr, &installed);
}

void CUpdateDlg::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  CPaintDC dc(this);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  const int iconWidth = ::GetSystemMetrics(SM_CXICON);
  const int iconHeight = ::GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(&client);
  const int x = (client.right - client.left - iconWidth + 1) / 2;
  const int y = (client.bottom - client.top - iconHeight + 1) / 2;
  dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CUpdateDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

// The setup stage needs no action of its own: its button stays hidden.
void CUpdateDlg::OnBnClickedSetup() {}

void CUpdateDlg::OnTimer(UINT_PTR id) { CDialog::OnTimer(id); }

HBRUSH CUpdateDlg::OnCtlColor(CDC* dc, CWnd* control, UINT kind) {
  HBRUSH brush = CDialog::OnCtlColor(dc, control, kind);
  // Every control that asks for its colours draws its text in the window's font.
  dc->SelectObject(&m_font);
  return brush;
}

// The non-client handlers draw nothing themselves; each passes its message on to the
// default processing (which therefore sees WM_NCACTIVATE and WM_ACTIVATE twice).
BOOL CUpdateDlg::OnNcActivate(BOOL active) {
  OnNcPaint();
  return CDialog::OnNcActivate(active);
}

void CUpdateDlg::OnNcPaint() { CDialog::OnNcPaint(); }

void CUpdateDlg::OnActivate(UINT state, CWnd* other, BOOL minimized) {
  CDialog::OnActivate(state, other, minimized);
  OnNcPaint();
}

BOOL CUpdateDlg::PreTranslateMessage(MSG* message) {
  // Esc must not close the window and Enter must not press a button, whatever has the focus.
  if (message->message == WM_KEYDOWN &&
      (message->wParam == VK_ESCAPE || message->wParam == VK_RETURN))
    return TRUE;
  return CDialog::PreTranslateMessage(message);
}
