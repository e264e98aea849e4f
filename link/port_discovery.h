// Finding the device's COM port among the system's serial ports by its friendly name. The walk
// itself is pure logic over two questions it asks its caller: the name of the n-th present
// port, and whether a candidate port opens. The Win32 answers are in device_list_win32.cpp.
#pragma once
#include <cstdint>

// The friendly names of the device's ports begin with these 37 characters.
extern const wchar_t kDevicePrefix[];
constexpr int kDevicePrefixLength = 37;

// Buffer for one device name, in wide characters; the platform is told 255 bytes, so names
// of up to 126 characters fit.
constexpr int kDeviceNameChars = 255;

// Results of GetDeviceName.
constexpr int kDeviceNameOk = 0;
constexpr int kNoSuchDevice = -1;      // index past the last present device, or no device list
constexpr int kNoSuchClass = -2;       // the class name has no class GUID
constexpr int kNameUnreadable = -4;    // neither friendly name nor description could be read

// The name of the present device number `index` of the setup class `className` (Win32 SetupAPI;
// device_list_win32.cpp). On any failure only name[0] is set to the terminator.
int GetDeviceName(uint32_t index, const wchar_t* className, wchar_t* name);

class PortDiscoverySource {
public:
  virtual int DeviceName(uint32_t index, const wchar_t* className, wchar_t* name) = 0;
  // Opens and closes the port at 115200 baud; true when it opened.
  virtual bool Probe(int port) = 0;

protected:
  ~PortDiscoverySource() {}
};

// True when the first 37 characters of `name` are the device prefix, ASCII letters compared
// without case. A shorter name does not match.
bool HasDevicePrefix(const wchar_t* name);

// Walks the present "Ports" devices in order. A device whose name has the prefix gives its runs
// of digits after the prefix as candidates; a candidate equal to *comPort is reported at once
// without opening it (the loader may hold it), another one is probed and stored in *comPort
// when it opens. Returns 1 when a port is known and usable, 0 when none was found; *comPort
// is never cleared. The walk ends at the first index with no device (or no such class).
int FindDevicePortWith(PortDiscoverySource& source, int32_t* comPort);
