// The walk that finds the device's port: name matching, the digit scan, the known port
// reported without a probe, and where the walk stops.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "link/port_discovery.h"

namespace {

const std::wstring kName = L"Zentap USB-Serial Communications Port";

// Present devices by index (a result code instead of a name where the name is unreadable),
// ports that open, and every probe made.
class FakePorts : public PortDiscoverySource {
public:
  struct Entry {
    std::wstring name;
    int code = kDeviceNameOk;
  };
  FakePorts(std::vector<Entry> devices, std::set<int> opening, int endCode = kNoSuchDevice)
      : m_devices(std::move(devices)), m_opening(std::move(opening)), m_endCode(endCode) {}

  int DeviceName(uint32_t index, const wchar_t* className, wchar_t* name) override {
    EXPECT_EQ(std::wstring(L"Ports"), className);
    ++calls;
    if (index >= m_devices.size()) {
      name[0] = L'\0';
      return m_endCode;
    }
    const Entry& e = m_devices[index];
    if (e.code != kDeviceNameOk) {
      name[0] = L'\0';
      return e.code;
    }
    std::wcscpy(name, e.name.c_str());
    return kDeviceNameOk;
  }
  bool Probe(int port) override {
    probes.push_back(port);
    return m_opening.count(port) != 0;
  }

  std::vector<int> probes;
  int calls = 0;

private:
  std::vector<Entry> m_devices;
  std::set<int> m_opening;
  int m_endCode;
};

struct WalkCase {
  const char* name;
  std::vector<FakePorts::Entry> devices;
  std::set<int> opening;
  int32_t knownPort;
  int result;
  int32_t portAfter;
  std::vector<int> probes;
};

void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

class DiscoveryWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(DiscoveryWalk, FindsTheDevicePort) {
  const WalkCase& c = GetParam();
  FakePorts ports(c.devices, c.opening);
  int32_t comPort = c.knownPort;
  EXPECT_EQ(c.result, FindDevicePortWith(ports, &comPort));
  EXPECT_EQ(c.portAfter, comPort);
  EXPECT_EQ(c.probes, ports.probes);
}

INSTANTIATE_TEST_SUITE_P(
    Names, DiscoveryWalk,
    ::testing::Values(
        WalkCase{"no_serial_ports", {}, {}, 0, 0, 0, {}},
        WalkCase{"probe_opens", {{kName + L" (COM7)"}}, {7}, 0, 1, 7, {7}},
        WalkCase{"known_port_not_opened", {{kName + L" (COM12)"}}, {}, 12, 1, 12, {}},
        WalkCase{"held_port_stays_unknown", {{kName + L" (COM12)"}}, {}, 0, 0, 0, {12}},
        WalkCase{"other_number_probed_and_kept", {{kName + L" (COM12)"}}, {12}, 7, 1, 12, {12}},
        WalkCase{"capitals_match", {{L"ZENTAP USB-SERIAL COMMUNICATIONS PORT (COM5)"}}, {5}, 0, 1, 5, {5}},
        WalkCase{"digits_at_the_end", {{kName + L" COM3"}}, {3}, 0, 1, 3, {3}},
        WalkCase{"prefix_alone_yields_nothing", {{kName}, {kName + L" (COM4)"}}, {4}, 0, 1, 4, {4}},
        WalkCase{"shorter_name_does_not_match", {{L"Zentap USB"}, {L"Other (COM2)"}}, {2}, 0, 0, 0, {}},
        WalkCase{"other_devices_skipped", {{L"Communications Port (COM1)"}, {kName + L" (COM9)"}}, {1, 9}, 0, 1, 9, {9}},
        WalkCase{"unreadable_name_skipped", {{L"", kNameUnreadable}, {kName + L" (COM6)"}}, {6}, 0, 1, 6, {6}},
        WalkCase{"first_usable_device_wins", {{kName + L" (COM3)"}, {kName + L" (COM8)"}}, {3, 8}, 0, 1, 3, {3}},
        WalkCase{"failed_candidate_then_next_run", {{kName + L" 2 (COM11)"}}, {11}, 0, 1, 11, {2, 11}},
        WalkCase{"non_ascii_letters_are_not_folded", {{L"Zentap USB-Serial Communications P\u00d6rt (COM5)"}}, {5}, 0, 0, 0, {}}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

TEST(DiscoveryWalkEnd, StopsWhenThePortsClassIsUnknown) {
  FakePorts ports({}, {}, kNoSuchClass);
  int32_t comPort = 0;
  EXPECT_EQ(0, FindDevicePortWith(ports, &comPort));
  EXPECT_EQ(1, ports.calls);
}

}  // namespace
