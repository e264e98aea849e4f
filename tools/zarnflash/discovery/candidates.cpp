// The whole candidate list: the system's ports and the pattern matches, each port once.
#include "tools/zarnflash/discovery/candidates.h"

#include <set>

int FindCandidates(const CandidateFilter& filter, std::vector<Candidate>* out,
                   std::string* error) {
  std::vector<Candidate> found;
  if (filter.usbPorts && !SystemCandidates(filter, &found, error)) return 0;
  if (!PatternCandidates(filter.patterns, &found, error)) return 0;
  std::set<std::string> seen;
  for (Candidate& candidate : found)
    if (seen.insert(CanonicalPort(candidate.port)).second) out->push_back(std::move(candidate));
  return 1;
}
