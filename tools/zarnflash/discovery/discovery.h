// `list` in one call: the candidates, each probed, and for those that would not open the
// reason and what to do. The caller prints the records (or writes them as JSON).
#pragma once
#include <string>
#include <vector>

#include "tools/zarnflash/discovery/candidates.h"
#include "tools/zarnflash/discovery/port_diagnosis.h"
#include "tools/zarnflash/discovery/probe.h"

struct PortReport {
  Candidate candidate;
  ProbeResult probe;    // kDevice: a device; kNoReply: not a device; kCannotOpen: see diagnosis
  Diagnosis diagnosis;  // with kCannotOpen
};

// Finds the candidates for `filter`, probes them all at once and diagnoses the ports that
// did not open; *reports keeps the candidates' order. 0 with the reason in *error when the
// candidates cannot be found.
int ListPorts(const CandidateFilter& filter, std::vector<PortReport>* reports, std::string* error,
              int timeoutMs = kProbeTimeoutMs);
