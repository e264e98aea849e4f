// Candidates, probes and diagnoses put together for `list`.
#include "tools/zarnflash/discovery/discovery.h"

int ListPorts(const CandidateFilter& filter, std::vector<PortReport>* reports, std::string* error,
              int timeoutMs) {
  std::vector<Candidate> candidates;
  if (!FindCandidates(filter, &candidates, error)) return 0;
  std::vector<ProbeResult> probes;
  ProbePorts(candidates, &probes, timeoutMs);
  reports->clear();
  for (size_t i = 0; i < candidates.size(); ++i) {
    PortReport report;
    report.candidate = candidates[i];
    report.probe = probes[i];
    // After the probes: every probe's own descriptor is closed, so none shows as a holder.
    if (report.probe.outcome == ProbeResult::kCannotOpen)
      report.diagnosis = DiagnoseOpenFailure(report.candidate.port, report.probe.failure);
    reports->push_back(report);
  }
  return 1;
}
