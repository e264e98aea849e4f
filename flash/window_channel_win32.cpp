// Reports to a window: each one a synchronous SendMessage, so the worker waits until the
// window has handled it, message boxes included.
#include "flash/flash.h"

#include <windows.h>

namespace {

class WindowChannel : public StatusChannel {
public:
  void Set(HWND window, UINT message) {
    m_window = window;
    m_message = message;
  }
  void Send(int code, uint32_t value) override {
    ::SendMessageW(m_window, m_message, static_cast<WPARAM>(value), static_cast<LPARAM>(code));
  }

private:
  HWND m_window = nullptr;
  UINT m_message = 0;
};

WindowChannel g_windowChannel;

}  // namespace

int CFLASH::StartFlashThread(HWND window, UINT message, CFLASH* flash) {
  if (!WaitFlashThread(0)) return 0;  // the running worker keeps its channel
  g_windowChannel.Set(window, message);
  return StartFlashThread(&g_windowChannel, flash);
}
