// Plain-word descriptions of the loader's status reports.
#include "report_text.h"

#include "flash/status.h"

std::string DescribeReport(int code, uint32_t value) {
  switch (code) {
    case STATUS_RESET: return "transfer failed, progress reset";
    case STATUS_PROGRESS: return "progress " + std::to_string(value);
    case STATUS_FINISHED: return "finished: the image has been transferred";
    case STATUS_LINK_ERROR: return "link error: the device did not answer as expected";
    case STATUS_READ_ERROR: return "read error: the image file could not be read (at " +
                                   std::to_string(value) + "%)";
    case STATUS_REJECTED: return "rejected: the device refused or cancelled the download";
    case STATUS_DEVICE_VERSION: {
      char text[48];
      std::snprintf(text, sizeof text, "device firmware V%u.%02u", (value >> 8) & 0xFF, value & 0xFF);
      return text;
    }
    case STATUS_SIZE_ERROR: return "size error: the image does not fit the device's flash";
    default: return "status " + std::to_string(code) + " value " + std::to_string(value);
  }
}
