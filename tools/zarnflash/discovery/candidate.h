// A port that may have the device behind it, with its USB identity where the system knows it,
// and which ports count as candidates at all (the USB filter and the --ports patterns).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Candidate {
  std::string port;         // "/dev/ttyACM0", "/dev/pts/3", a link to one, or "COM7"
  // The USB identity; every field is empty where the system does not tell (ptys, Windows).
  std::string vendorId;     // four lowercase hex digits, "1a86"
  std::string productId;
  std::string serial;
  std::string usbLocation;  // the /dev/serial/by-path link: the hub port the device sits in
  std::string usbInterface; // the kernel's name of that place, "1-1.2:1.0", known even where
                            // udev made no links
  std::string driver;       // the USB interface's driver, "cdc_acm"
};

// What names one device across replugs: its USB location where known (the same hub port is the
// same station slot, whatever tty number the kernel hands out): the by-path link, else the
// kernel's interface name; else the port itself.
std::string DeviceKey(const Candidate& candidate);

struct UsbId {
  uint16_t vendor = 0;
  uint16_t product = 0;
};

// "VID:PID" with one to four hex digits each ("1a86:55d4"). 0 for anything else.
int ParseUsbId(const std::string& text, UsbId* id);
// Four lowercase hex digits, as udev spells an id.
std::string FormatUsbIdPart(uint16_t value);

// The only driver the device binds: opening other USB serial ports is not harmless.
extern const char kNativeCdcDriver[];  // "cdc_acm"

struct CandidateFilter {
  bool usbPorts = true;   // ask the system for its USB serial ports
  bool probeAll = false;  // every USB serial port, not only native CDC ones
  bool narrowToId = false;
  UsbId id;               // with narrowToId: only ports of this vendor and product
  std::vector<std::string> patterns;  // --ports: globs (POSIX) or COM names (Windows)
};

// True when a USB serial port passes the filter: its driver is cdc_acm (any driver with
// probeAll), and its ids are the filter's when it narrows. Pattern matches are not filtered:
// naming a port is asking for it.
bool Admits(const CandidateFilter& filter, const Candidate& candidate);

// Why only some ports are probed, for --help.
const char* CandidateScopeHelp();
