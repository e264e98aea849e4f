// The loader's status codes: what each report means, with the value it carries. Plain data
// with no platform type, so that the pure protocol logic and the tools can name them.
#pragma once

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
