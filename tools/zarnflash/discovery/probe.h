// Asking a candidate port whether the device is behind it: the loader's version handshake
// (the query, then the reply read as the loader reads it), with nothing else sent.
//
// ProbePort returns 1 when the port answered with a valid version reply (a device), 0 when it
// did not (no reply in time, or it could not be opened); *result says which. It never throws.
#pragma once
#include <string>
#include <vector>

#include "tools/zarnflash/discovery/candidate.h"
#include "tools/zarnflash/discovery/port_open.h"

constexpr unsigned kProbeBaud = 921600;
// The loader waits about 2 s for the reply, in polls 10 ms apart.
constexpr int kProbeTimeoutMs = 2000;
constexpr int kProbePollMs = 10;

struct ProbeResult {
  enum Outcome { kDevice, kNoReply, kCannotOpen };
  Outcome outcome = kNoReply;
  int major = 0, minor = 0, sizeCode = 0;  // with kDevice
  OpenFailure failure;                     // with kCannotOpen
};

// Opens `port`, sends the version query and polls for the reply every 10 ms for up to
// `timeoutMs`. A reply counts only when all its bytes arrive in one read chunk, as the loader
// requires; the first accepted reply ends the probe. The port is closed again before return.
int ProbePort(const std::string& port, ProbeResult* result, int timeoutMs = kProbeTimeoutMs);

// Probes every candidate at once, one thread each (a silent port costs the whole time-out, so
// probing one after another would add them up). results[i] is for candidates[i]. Returns the
// number of devices found.
int ProbePorts(const std::vector<Candidate>& candidates, std::vector<ProbeResult>* results,
               int timeoutMs = kProbeTimeoutMs);
