// What keeps this host from flashing, checked without sending a byte anywhere: whether the
// user may open the candidate ports (their groups), whether a modem manager probes new ports,
// and who holds each port. Findings are records, for printing or JSON.
#pragma once
#include <string>
#include <vector>

#include "tools/zarnflash/discovery/candidate.h"

struct Finding {
  enum Kind { kOk, kProblem };
  Kind kind = kOk;
  std::string check;   // "group", "modem-manager", "holders"
  std::string subject; // what was checked: a group name, a port, empty for the host
  std::string text;    // what was found, one sentence
  std::string advice;  // what to do about a problem; empty for kOk
};

struct DoctorOptions {
  bool haveUsbId = false;  // the product's ids for the advice's udev rule; with none, the
  UsbId usbId;             // ids of the candidates, else placeholders
};

// Appends the findings for `candidates` to *findings. Returns 1 when every check could run
// (a host without /proc cannot say who holds a port), 0 otherwise; the findings are there
// either way.
int RunDoctor(const std::vector<Candidate>& candidates, const DoctorOptions& options,
              std::vector<Finding>* findings);
