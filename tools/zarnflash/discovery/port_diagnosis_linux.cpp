// Who holds a port and which group owns it, as Linux tells: the descriptors under
// /proc/<pid>/fd, the flock records of /proc/locks, and the device file's owner.
#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tools/zarnflash/discovery/port_diagnosis.h"
#include "tools/zarnflash/discovery/proc_linux.h"

namespace {

// One device node may have several names (a link, /dev/serial/by-id/...): a character device
// is known by its device number, anything else by its file.
bool SameFile(const struct stat& a, const struct stat& b) {
  if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool HasOpen(int pid, const struct stat& target) {
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  DIR* fds = opendir(folder.c_str());
  if (!fds) return false;  // gone, or another user's process that we may not look into
  bool found = false;
  while (const dirent* entry = readdir(fds)) {
    if (entry->d_name[0] == '.') continue;
    struct stat st;
    if (stat((folder + "/" + entry->d_name).c_str(), &st) == 0 && SameFile(st, target)) {
      found = true;
      break;
    }
  }
  closedir(fds);
  return found;
}

// The processes holding an flock on the file: "1: FLOCK  ADVISORY  WRITE 4242 00:1b:7 0 EOF",
// the device as major:minor in hex, then the inode. Waiting requests ("1: -> FLOCK") hold
// nothing.
std::set<int> LockHolders(const struct stat& target) {
  std::set<int> pids;
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string id, type, advisory, mode, place;
    int pid = 0;
    if (!(fields >> id >> type) || type != "FLOCK") continue;
    if (!(fields >> advisory >> mode >> pid >> place)) continue;
    unsigned devMajor = 0, devMinor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(place.c_str(), "%x:%x:%llu", &devMajor, &devMinor, &inode) != 3) continue;
    if (devMajor == major(target.st_dev) && devMinor == minor(target.st_dev) &&
        inode == target.st_ino)
      pids.insert(pid);
  }
  return pids;
}

}  // namespace

int FindHolders(const std::string& port, std::vector<PortHolder>* holders) {
  holders->clear();
  struct stat target;
  if (stat(port.c_str(), &target) != 0) return 0;
  const std::vector<int> pids = ProcessIds();
  if (pids.empty()) return 0;  // no /proc to ask
  const std::set<int> locking = LockHolders(target);
  std::map<int, PortHolder> found;
  for (const int pid : pids)
    if (HasOpen(pid, target) || locking.count(pid)) {
      PortHolder& h = found[pid];
      h.pid = pid;
      h.command = ProcessName(pid);
      h.locksPort = locking.count(pid) != 0;
    }
  for (const auto& entry : found) holders->push_back(entry.second);
  return 1;
}

int FindPortGroup(const std::string& port, PortGroup* group) {
  struct stat st;
  if (stat(port.c_str(), &st) != 0) return 0;
  group->gid = static_cast<int>(st.st_gid);
  const struct group* entry = getgrgid(st.st_gid);
  group->name = entry ? entry->gr_name : std::to_string(st.st_gid);
  group->grantsUse = (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP);
  return 1;
}
