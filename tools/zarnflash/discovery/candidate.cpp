// Candidate keys, USB ids and the filter that keeps probes off ports that are not the device's.
#include "tools/zarnflash/discovery/candidate.h"

#include <cstdio>

const char kNativeCdcDriver[] = "cdc_acm";

std::string DeviceKey(const Candidate& candidate) {
  if (!candidate.usbLocation.empty()) return candidate.usbLocation;
  if (!candidate.usbInterface.empty()) return "usb:" + candidate.usbInterface;
  return candidate.port;
}

namespace {

int ParseHexPart(const std::string& text, uint16_t* value) {
  if (text.empty() || text.size() > 4) return 0;
  unsigned v = 0;
  for (const char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return 0;
    v = v * 16 + static_cast<unsigned>(digit);
  }
  *value = static_cast<uint16_t>(v);
  return 1;
}

}  // namespace

int ParseUsbId(const std::string& text, UsbId* id) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return 0;
  UsbId parsed;
  if (!ParseHexPart(text.substr(0, colon), &parsed.vendor) ||
      !ParseHexPart(text.substr(colon + 1), &parsed.product))
    return 0;
  *id = parsed;
  return 1;
}

std::string FormatUsbIdPart(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(value));
  return text;
}

bool Admits(const CandidateFilter& filter, const Candidate& candidate) {
  if (!filter.probeAll && candidate.driver != kNativeCdcDriver) return false;
  if (!filter.narrowToId) return true;
  // udev spells ids in lowercase; compare through the parser so "1A86" from elsewhere matches.
  UsbId id;
  return ParseUsbId(candidate.vendorId + ":" + candidate.productId, &id) &&
         id.vendor == filter.id.vendor && id.product == filter.id.product;
}

const char* CandidateScopeHelp() {
  return "Finding a device means opening ports and sending a version query into them. Opening "
         "a port raises DTR, which resets many boards (Arduino-style USB-serial adapters), and "
         "the query's bytes reach whatever listens there. So by default only native USB CDC "
         "ports (driver cdc_acm, as the device is) are probed; --usb VID:PID narrows that to "
         "the product's USB ids, --probe-all widens it to every USB serial port, and --ports "
         "PATTERN probes exactly the ports it names (simulators, unusual adapters).";
}
