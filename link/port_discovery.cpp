// The walk over the present serial ports that finds the device's COM port.
#include "link/port_discovery.h"

const wchar_t kDevicePrefix[] = L"Zentap USB-Serial Communications Port";

namespace {

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

}  // namespace

bool HasDevicePrefix(const wchar_t* name) {
  for (int i = 0; i < kDevicePrefixLength; ++i) {
    if (name[i] == L'\0' || FoldAscii(name[i]) != FoldAscii(kDevicePrefix[i])) return false;
  }
  return true;
}

int FindDevicePortWith(PortDiscoverySource& source, int32_t* comPort) {
  static const wchar_t kPortsClass[] = L"Ports";
  wchar_t name[kDeviceNameChars];
  for (uint32_t index = 0;; ++index) {
    const int found = source.DeviceName(index, kPortsClass, name);
    // No such class can never change with the index: stop there as at the end of the list.
    if (found == kNoSuchDevice || found == kNoSuchClass) return 0;
    if (found != kDeviceNameOk || !HasDevicePrefix(name)) continue;
    int32_t number = 0;
    for (const wchar_t* p = name + kDevicePrefixLength;; ++p) {
      if (*p >= L'0' && *p <= L'9') {
        // A run too long for any port number stops growing; such a port never opens.
        if (number < 100000000) number = number * 10 + (*p - L'0');
        continue;
      }
      if (number > 0) {
        if (number == *comPort) return 1;
        if (source.Probe(number)) {
          *comPort = number;
          return 1;
        }
        number = 0;
      }
      if (*p == L'\0') break;
    }
  }
}
