// Listing processes and reading their names through /proc.
#include "tools/zarnflash/discovery/proc_linux.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

std::vector<int> ProcessIds() {
  std::vector<int> pids;
  DIR* proc = opendir("/proc");
  if (!proc) return pids;
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid > 0 && *end == '\0') pids.push_back(static_cast<int>(pid));
  }
  closedir(proc);
  std::sort(pids.begin(), pids.end());
  return pids;
}

std::string ProcessName(int pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}
