// The device's ports on Windows: every present "Ports" device whose friendly name has the
// device's prefix, through link/'s SetupAPI walk; --ports names COM ports literally.
#include <cctype>

#include "link/port_discovery.h"
#include "tools/zarnflash/discovery/candidates.h"

namespace {

// Runs the window's walk to its end: every port it would probe is recorded and reported as
// not opening, so the walk goes on to the next run of digits and the next device.
class RecordingSource : public PortDiscoverySource {
public:
  int DeviceName(uint32_t index, const wchar_t* className, wchar_t* name) override {
    const int result = GetDeviceName(index, className, name);
    if (result == kNoSuchClass) noClass = true;
    return result;
  }
  bool Probe(int port) override {
    Candidate candidate;
    candidate.port = "COM" + std::to_string(port);
    found.push_back(candidate);
    return false;
  }
  std::vector<Candidate> found;
  bool noClass = false;
};

}  // namespace

int SystemCandidates(const CandidateFilter&, std::vector<Candidate>* out, std::string* error) {
  RecordingSource source;
  int32_t known = 0;  // no port is known: every one is "probed"
  FindDevicePortWith(source, &known);
  if (source.noClass) {
    *error = "the system has no \"Ports\" device class";
    return 0;
  }
  out->insert(out->end(), source.found.begin(), source.found.end());
  return 1;
}

int PatternCandidates(const std::vector<std::string>& patterns, std::vector<Candidate>* out,
                      std::string* error) {
  for (const std::string& pattern : patterns) {
    size_t start = 0;
    for (;;) {
      const size_t comma = pattern.find(',', start);
      const std::string item =
          pattern.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      if (!item.empty()) {
        const std::string port = CanonicalPort(item);
        if (port.size() < 4 || port.compare(0, 3, "COM") != 0 ||
            port.find_first_not_of("0123456789", 3) != std::string::npos) {
          *error = "--ports " + item + ": not a COM port name (COM7, or COM3,COM7)";
          return 0;
        }
        Candidate candidate;
        candidate.port = port;
        out->push_back(candidate);
      }
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  return 1;
}

std::string CanonicalPort(const std::string& port) {
  std::string name = port;
  // "\\.\COM12" is the same port as COM12.
  if (name.compare(0, 4, "\\\\.\\") == 0) name.erase(0, 4);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

std::string OpenablePath(const std::string& port) { return "\\\\.\\" + CanonicalPort(port); }
