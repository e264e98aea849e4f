// The connection monitor: a thread of the window that runs the port discovery every three
// seconds and shows in the status line whether the device is connected.
#include "link/port_discovery.h"
#include "ui/update_dlg.h"

namespace {

constexpr DWORD kFirstPollDelayMs = 500;
constexpr DWORD kStopTestMs = 10;
constexpr DWORD kPollIntervalMs = 3000;
constexpr unsigned kProbeBaud = 115200;

// The discovery's two questions, answered by SetupAPI and by a probe open of the port.
class SystemPorts : public PortDiscoverySource {
public:
  explicit SystemPorts(CUpdateDlg* window) : m_window(window) {}
  int DeviceName(uint32_t index, const wchar_t* className, wchar_t* name) override {
    return m_window->GetDeviceName(index, className, name);
  }
  bool Probe(int port) override {
    CSerialPort probe;
    return probe.Open(port, kProbeBaud) != 0;  // closed again by its destructor
  }

private:
  CUpdateDlg* m_window;
};

}  // namespace

int CUpdateDlg::GetDeviceName(uint32_t index, const wchar_t* className, wchar_t* name) {
  return ::GetDeviceName(index, className, name);
}

int CUpdateDlg::FindDevicePort() {
  SystemPorts ports(this);
  int32_t port = ::InterlockedCompareExchange(&m_comPort, 0, 0);
  const int found = FindDevicePortWith(ports, &port);
  ::InterlockedExchange(&m_comPort, port);
  return found;
}

DWORD WINAPI CUpdateDlg::MonitorThreadProc(LPVOID window) {
  static_cast<CUpdateDlg*>(window)->MonitorConnection();
  return 1;
}

void CUpdateDlg::MonitorConnection() {
  // Every pause waits on this window's own stop signal, so a closing window never waits out a
  // poll, and another copy of the updater closing does not stop this one's monitor. A failed
  // wait ends the monitor as a stop does: the window is going away.
  if (::WaitForSingleObject(m_hMonitorStop, kFirstPollDelayMs) != WAIT_TIMEOUT) return;
  for (;;) {
    if (::WaitForSingleObject(m_hMonitorStop, kStopTestMs) != WAIT_TIMEOUT) return;
    if (FindDevicePort()) {
      if (!::InterlockedCompareExchange(&m_connected, 0, 0)) {
        ::InterlockedExchange(&m_connected, 1);
        GetDlgItem(IDC_STATUS).SetWindowText(GetText(3));
      }
    } else {
      ::InterlockedExchange(&m_connected, 0);
      GetDlgItem(IDC_STATUS).SetWindowText(GetText(4));
      m_progress.SetPos(0);
    }
    if (::WaitForSingleObject(m_hMonitorStop, kPollIntervalMs) != WAIT_TIMEOUT) return;
  }
}
