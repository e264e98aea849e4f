// Which ports count as candidates: USB ids as typed, the driver and id filter, the key that
// recognises a device replugged into the same hub port, and the system's own enumeration.
#include <gtest/gtest.h>

#include "tools/zarnflash/discovery/candidates.h"

namespace {

struct UsbIdCase {
  const char* text;
  int ok;
  uint16_t vendor, product;
};

TEST(UsbId, ParsesHexPairsAndRefusesTheRest) {
  const UsbIdCase cases[] = {
      {"1a86:55d4", 1, 0x1a86, 0x55d4}, {"1A86:55D4", 1, 0x1a86, 0x55d4},
      {"0:1", 1, 0x0000, 0x0001},       {"ffff:FFFF", 1, 0xffff, 0xffff},
      {"12345:1", 0, 0, 0},             {"1a86", 0, 0, 0},
      {"1a86:", 0, 0, 0},               {":55d4", 0, 0, 0},
      {"1a86:55d4:", 0, 0, 0},          {"g086:55d4", 0, 0, 0},
      {"1a86 :55d4", 0, 0, 0},          {"", 0, 0, 0},
  };
  for (const UsbIdCase& c : cases) {
    UsbId id;
    id.vendor = id.product = 0x4242;
    EXPECT_EQ(c.ok, ParseUsbId(c.text, &id)) << c.text;
    EXPECT_EQ(c.ok ? c.vendor : 0x4242, id.vendor) << c.text;
    EXPECT_EQ(c.ok ? c.product : 0x4242, id.product) << c.text;
  }
  EXPECT_EQ("0a05", FormatUsbIdPart(0x0a05));
}

Candidate UsbPort(const char* driver, const char* vendor, const char* product) {
  Candidate c;
  c.port = "/dev/ttyX";
  c.driver = driver;
  c.vendorId = vendor;
  c.productId = product;
  return c;
}

struct FilterCase {
  const char* name;
  bool probeAll;
  const char* narrowTo;  // nullptr: no --usb
  Candidate candidate;
  bool admitted;
};

TEST(CandidateFilter, NativeCdcByDefaultNarrowedByIdWidenedByProbeAll) {
  const FilterCase cases[] = {
      {"cdc port by default", false, nullptr, UsbPort("cdc_acm", "1a86", "55d4"), true},
      {"ftdi adapter by default", false, nullptr, UsbPort("ftdi_sio", "0403", "6001"), false},
      {"ftdi adapter with probe-all", true, nullptr, UsbPort("ftdi_sio", "0403", "6001"), true},
      {"no driver bound", false, nullptr, UsbPort("", "1a86", "55d4"), false},
      {"cdc port with its ids", false, "1a86:55d4", UsbPort("cdc_acm", "1a86", "55d4"), true},
      {"ids typed in capitals", false, "1A86:55D4", UsbPort("cdc_acm", "1a86", "55d4"), true},
      {"cdc port of another product", false, "1a86:55d4", UsbPort("cdc_acm", "2341", "0043"),
       false},
      {"same vendor, other product", false, "1a86:55d4", UsbPort("cdc_acm", "1a86", "7523"),
       false},
      {"ids match, driver does not", false, "0403:6001", UsbPort("ftdi_sio", "0403", "6001"),
       false},
      {"probe-all narrowed by ids", true, "0403:6001", UsbPort("ftdi_sio", "0403", "6001"), true},
      {"probe-all, other ids", true, "0403:6001", UsbPort("cp210x", "10c4", "ea60"), false},
      {"no ids known, narrowed", false, "1a86:55d4", UsbPort("cdc_acm", "", ""), false},
  };
  for (const FilterCase& c : cases) {
    CandidateFilter filter;
    filter.probeAll = c.probeAll;
    if (c.narrowTo) {
      filter.narrowToId = true;
      ASSERT_EQ(1, ParseUsbId(c.narrowTo, &filter.id)) << c.name;
    }
    EXPECT_EQ(c.admitted, Admits(filter, c.candidate)) << c.name;
  }
}

TEST(DeviceKey, TheUsbLocationOutlivesTheTtyNumber) {
  Candidate before, after;
  before.port = "/dev/ttyACM0";
  after.port = "/dev/ttyACM3";  // the kernel handed out another number on the replug
  before.usbInterface = after.usbInterface = "1-1.2:1.0";
  EXPECT_EQ(DeviceKey(before), DeviceKey(after));
  before.usbLocation = after.usbLocation = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0";
  EXPECT_EQ(before.usbLocation, DeviceKey(before));
  EXPECT_EQ(DeviceKey(before), DeviceKey(after));

  Candidate otherHubPort = after;
  otherHubPort.usbLocation = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.3:1.0";
  otherHubPort.port = before.port;  // same tty name, another slot: another device
  EXPECT_NE(DeviceKey(before), DeviceKey(otherHubPort));

  Candidate pty;
  pty.port = "/dev/pts/7";
  EXPECT_EQ("/dev/pts/7", DeviceKey(pty));
}

// There may be no USB serial port on this machine: the walk must simply work.
TEST(SystemCandidates, LibudevEnumerationRunsCleanly) {
  for (const bool probeAll : {false, true}) {
    CandidateFilter filter;
    filter.probeAll = probeAll;
    std::vector<Candidate> found;
    std::string error;
    EXPECT_EQ(1, SystemCandidates(filter, &found, &error)) << error;
    EXPECT_EQ("", error);
    for (const Candidate& c : found) {
      EXPECT_EQ(0u, c.port.rfind("/dev/", 0)) << c.port;
      EXPECT_FALSE(c.usbInterface.empty()) << c.port;
      if (!probeAll) {
        EXPECT_EQ(kNativeCdcDriver, c.driver) << c.port;
      }
    }
  }
}

}  // namespace
