// --ports on POSIX: glob(3) patterns over device paths, and symlinks resolved for comparing.
#include <glob.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "tools/zarnflash/discovery/candidates.h"

namespace {

bool HasWildcard(const std::string& pattern) {
  return pattern.find_first_of("*?[") != std::string::npos;
}

// A wildcard finds ports among other files (devsim keeps "<link>.lock" beside its link);
// a path named outright is taken whatever it is, so that the probe can say what it is not.
bool IsPort(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISCHR(st.st_mode);
}

}  // namespace

int PatternCandidates(const std::vector<std::string>& patterns, std::vector<Candidate>* out,
                      std::string* error) {
  for (const std::string& pattern : patterns) {
    glob_t matches{};
    const int result = glob(pattern.c_str(), 0, nullptr, &matches);
    if (result == 0) {
      for (size_t i = 0; i < matches.gl_pathc; ++i) {
        if (HasWildcard(pattern) && !IsPort(matches.gl_pathv[i])) continue;
        Candidate candidate;
        candidate.port = matches.gl_pathv[i];
        out->push_back(candidate);
      }
    }
    globfree(&matches);
    // No match is an empty list, not a fault: simulators and adapters come and go.
    if (result != 0 && result != GLOB_NOMATCH) {
      *error = "--ports " + pattern + ": " +
               (result == GLOB_NOSPACE ? "out of memory" : "a folder could not be read");
      return 0;
    }
  }
  return 1;
}

std::string CanonicalPort(const std::string& port) {
  char resolved[PATH_MAX];
  return realpath(port.c_str(), resolved) ? std::string(resolved) : port;
}

std::string OpenablePath(const std::string& port) { return port; }
