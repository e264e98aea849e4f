// The version handshake as a probe: the loader's query, polling and one-chunk reply rule.
#include "tools/zarnflash/discovery/probe.h"

#include <chrono>
#include <thread>

#include "flash/protocol.h"

namespace {

// The loader reads the reply in chunks of this size; a reply split across chunks is lost.
constexpr unsigned kReplyChunk = 16;

}  // namespace

int ProbePort(const std::string& port, ProbeResult* result, int timeoutMs) {
  *result = ProbeResult();
  CSerialPort serial;
  if (!OpenPort(&serial, port, kProbeBaud, &result->failure)) {
    result->outcome = ProbeResult::kCannotOpen;
    return 0;
  }
  uint8_t query[proto::kVersionQueryLength];
  const int queryLength = proto::BuildVersionQuery(query);
  if (!serial.Write(query, static_cast<unsigned>(queryLength))) return 0;
  const int polls = timeoutMs / kProbePollMs;
  unsigned char chunk[kReplyChunk];
  for (int poll = 0;; ++poll) {
    const unsigned got = serial.Read(chunk, sizeof chunk);
    proto::ReplyScanner scanner(chunk, got);
    proto::VersionReply reply;
    if (scanner.Next(&reply)) {
      result->outcome = ProbeResult::kDevice;
      result->major = reply.major;
      result->minor = reply.minor;
      result->sizeCode = reply.sizeCode;
      return 1;
    }
    // A line that has hung up brings no reply: no use waiting out the time-out.
    if (poll >= polls || serial.LastError() == CSerialPort::kHungUp) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(kProbePollMs));
  }
}

int ProbePorts(const std::vector<Candidate>& candidates, std::vector<ProbeResult>* results,
               int timeoutMs) {
  results->assign(candidates.size(), ProbeResult());
  std::vector<std::thread> probes;
  for (size_t i = 0; i < candidates.size(); ++i)
    probes.emplace_back([&, i] { ProbePort(candidates[i].port, &(*results)[i], timeoutMs); });
  for (std::thread& probe : probes) probe.join();
  int devices = 0;
  for (const ProbeResult& r : *results) devices += r.outcome == ProbeResult::kDevice;
  return devices;
}
