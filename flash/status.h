// Status reports of the flash loader and the channel that carries them. On Windows the channel
// is a synchronous SendMessage of WM_FLASH_STATUS to the updater window; the command-line tools
// and the tests plug in a callback. The loader only ever sees a StatusChannel.
#pragma once
#include <cstdint>
#include "flash/status_codes.h"
#include "framework/platform_types.h"

// The private window message of the reports: wParam the value, lParam the code.
constexpr UINT WM_FLASH_STATUS = WM_USER + 1;

class StatusChannel {
public:
  // Delivers one report and returns only when the receiver has handled it.
  virtual void Send(int code, uint32_t value) = 0;

protected:
  ~StatusChannel() {}
};
