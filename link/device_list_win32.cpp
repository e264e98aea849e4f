// The names of present devices of a setup class, through SetupAPI. Every call resolves the
// class and builds (and destroys) a device list of its own: devices come and go between calls.
#include <windows.h>
#include <setupapi.h>

#include <vector>

#include "link/port_discovery.h"

int GetDeviceName(uint32_t index, const wchar_t* className, wchar_t* name) {
  DWORD count = 0;
  ::SetupDiClassGuidsFromNameW(className, nullptr, 0, &count);
  if (count == 0) {
    name[0] = L'\0';
    return kNoSuchClass;
  }
  std::vector<GUID> guids(count);
  if (!::SetupDiClassGuidsFromNameW(className, guids.data(), count, &count) || count == 0) {
    name[0] = L'\0';
    return kNoSuchClass;
  }
  HDEVINFO devices = ::SetupDiGetClassDevsW(&guids[0], nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA device;
  ZeroMemory(&device, sizeof device);
  device.cbSize = sizeof device;
  int result = kDeviceNameOk;
  if (devices == INVALID_HANDLE_VALUE || !::SetupDiEnumDeviceInfo(devices, index, &device)) {
    result = kNoSuchDevice;
  } else {
    // The size is declared in bytes: 255 of them, so a name of up to 126 characters fits.
    BYTE* buffer = reinterpret_cast<BYTE*>(name);
    if (!::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, nullptr, buffer,
                                             kDeviceNameChars, nullptr) &&
        !::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_DEVICEDESC, nullptr, buffer,
                                             kDeviceNameChars, nullptr))
      result = kNameUnreadable;
  }
  if (result != kDeviceNameOk) name[0] = L'\0';
  if (devices != INVALID_HANDLE_VALUE) ::SetupDiDestroyDeviceInfoList(devices);
  return result;
}
