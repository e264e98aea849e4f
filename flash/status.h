// Status reports of the flash loader and the channel that carries them. On Windows the channel
// is a synchronous SendMessage of WM_FLASH_STATUS to the updater window; the command-line tools
// and the tests plug in a callback. The loader only ever sees a StatusChannel.
#pragma once
#include <cstdint>
#include "framework/platform_types.h"

// The private window message of the reports: wParam the value, lParam the code.
constexpr UINT WM_FLASH_STATUS = WM_USER + 1;

enum StatusCode : int {
  STATUS_RESET = 1,           // a transfer failed; follows the transfer's own error report
  STATUS_PROGRESS = 2,        // value: packets sent / step (may exceed 100)
  STATUS_FINISHED = 3,        // value 100: the image has been transferred
  STATUS_LINK_ERROR = 4,      // a write failed, or the device answered wrongly or not at all
  STATUS_READ_ERROR = 5,      // the image could not be read; value 0 or percentage sent
  STATUS_DEVICE_FAULT = 8,    // not sent by the loader; the window closes on it
  STATUS_REJECTED = 7,        // the device refused the download command or cancelled
  STATUS_DEVICE_VERSION = 9,  // value: major * 256 + minor
  STATUS_SIZE_ERROR = 10,     // unknown flash size code, or the image does not fit
};

class StatusChannel {
public:
  // Delivers one report and returns only when the receiver has handled it.
  virtual void Send(int code, uint32_t value) = 0;

protected:
  ~StatusChannel() {}
};
