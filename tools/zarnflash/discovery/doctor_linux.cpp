// The host checks on Linux: the ports' groups against this user's, ModemManager among the
// processes, and the holders of each port.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "tools/zarnflash/discovery/doctor.h"
#include "tools/zarnflash/discovery/port_diagnosis.h"
#include "tools/zarnflash/discovery/proc_linux.h"

namespace {

// Debian gives USB serial ports to this group; it is the one to check when no port is there.
const char kSerialGroup[] = "dialout";

Finding Make(Finding::Kind kind, const char* check, const std::string& subject,
             const std::string& text, const std::string& advice = std::string()) {
  Finding f;
  f.kind = kind;
  f.check = check;
  f.subject = subject;
  f.text = text;
  f.advice = advice;
  return f;
}

bool InSessionGroups(gid_t gid) {
  if (getegid() == gid) return true;
  const int count = getgroups(0, nullptr);
  std::vector<gid_t> groups(count > 0 ? count : 0);
  if (count > 0 && getgroups(count, groups.data()) < 0) return false;
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// Membership as the group database has it: what this session gets at its next login.
bool ListedInGroup(const struct group& entry) {
  const struct passwd* user = getpwuid(geteuid());
  if (!user) return false;
  if (user->pw_gid == entry.gr_gid) return true;
  for (char** member = entry.gr_mem; member && *member; ++member)
    if (std::strcmp(*member, user->pw_name) == 0) return true;
  return false;
}

struct GroupPorts {
  std::string name;
  std::string ports;  // "/dev/ttyACM0, /dev/ttyACM1"
  bool grantsUse = true;
  bool openToUser = true;  // every port opens to this user already (owner or other bits)
};

void CheckGroup(gid_t gid, const GroupPorts& g, std::vector<Finding>* findings) {
  const std::string owns = g.ports.empty() ? "" : ", which owns " + g.ports;
  if (geteuid() == 0) {
    findings->push_back(Make(Finding::kOk, "group", g.name, "running as root: every port opens"));
    return;
  }
  if (InSessionGroups(gid)) {
    if (g.grantsUse || g.openToUser)
      findings->push_back(Make(Finding::kOk, "group", g.name, "this user is in group " + g.name + owns));
    else
      findings->push_back(Make(Finding::kProblem, "group", g.name,
                               "group " + g.name + owns + " may not read and write it",
                               "run as the port's owner"));
    return;
  }
  if (g.openToUser) {
    findings->push_back(Make(Finding::kOk, "group", g.name,
                             "this user may open " + g.ports + " without group " + g.name));
    return;
  }
  const struct group* entry = getgrgid(gid);
  if (entry && ListedInGroup(*entry)) {
    findings->push_back(Make(Finding::kProblem, "group", g.name,
                             "this user was added to group " + g.name + owns +
                                 ", but this login session began before that",
                             "log out and in again (or start a shell with: newgrp " + g.name + ")"));
    return;
  }
  findings->push_back(Make(Finding::kProblem, "group", g.name,
                           "this user is not in group " + g.name + owns,
                           JoinGroupCommand(g.name) + ", then log out and in again"));
}

int CheckGroups(const std::vector<Candidate>& candidates, std::vector<Finding>* findings) {
  std::map<gid_t, GroupPorts> groups;
  for (const Candidate& c : candidates) {
    struct stat st;
    PortGroup owner;
    if (stat(c.port.c_str(), &st) != 0 || !FindPortGroup(c.port, &owner)) continue;
    GroupPorts& g = groups[st.st_gid];
    g.name = owner.name;
    if (!g.ports.empty()) g.ports += ", ";
    g.ports += c.port;
    g.grantsUse = g.grantsUse && owner.grantsUse;
    const bool mine = st.st_uid == geteuid() && (st.st_mode & S_IRUSR) && (st.st_mode & S_IWUSR);
    const bool everyone = (st.st_mode & S_IROTH) && (st.st_mode & S_IWOTH);
    g.openToUser = g.openToUser && (mine || everyone);
  }
  if (groups.empty()) {
    const struct group* entry = getgrnam(kSerialGroup);
    if (!entry) return 1;  // no such group here: nothing to join
    GroupPorts g;
    g.name = kSerialGroup;
    g.openToUser = false;
    groups[entry->gr_gid] = g;
  }
  for (const auto& entry : groups) CheckGroup(entry.first, entry.second, findings);
  return 1;
}

std::string RuleIds(const std::vector<Candidate>& candidates, const DoctorOptions& options) {
  std::string vendor = "VID", product = "PID";
  if (options.haveUsbId) {
    vendor = FormatUsbIdPart(options.usbId.vendor);
    product = FormatUsbIdPart(options.usbId.product);
  } else {
    for (const Candidate& c : candidates)
      if (!c.vendorId.empty() && !c.productId.empty()) {
        vendor = c.vendorId;
        product = c.productId;
        break;
      }
  }
  return "ATTRS{idVendor}==\"" + vendor + "\", ATTRS{idProduct}==\"" + product + "\"";
}

int CheckModemManager(const std::vector<Candidate>& candidates, const DoctorOptions& options,
                      std::vector<Finding>* findings) {
  const std::vector<int> pids = ProcessIds();
  if (pids.empty()) return 0;
  for (const int pid : pids) {
    if (ProcessName(pid) != "ModemManager") continue;
    findings->push_back(Make(
        Finding::kProblem, "modem-manager", std::string(),
        "ModemManager is running (pid " + std::to_string(pid) +
            "): it opens new ACM ports and sends modem commands into them, which can reach "
            "the device's loader",
        "keep it off the device with a udev rule: echo '" + RuleIds(candidates, options) +
            ", ENV{ID_MM_DEVICE_IGNORE}=\"1\"' | sudo tee /etc/udev/rules.d/"
            "70-zarn-no-modem.rules && sudo udevadm control --reload, then replug the device; "
            "or stop the service: sudo systemctl disable --now ModemManager"));
    return 1;
  }
  findings->push_back(Make(Finding::kOk, "modem-manager", std::string(), "ModemManager is not running"));
  return 1;
}

std::string Named(const PortHolder& h) { return h.command + " (pid " + std::to_string(h.pid) + ")"; }

int CheckHolders(const std::vector<Candidate>& candidates, std::vector<Finding>* findings) {
  int complete = 1;
  for (const Candidate& c : candidates) {
    std::vector<PortHolder> holders;
    if (!FindHolders(c.port, &holders)) {
      findings->push_back(Make(Finding::kOk, "holders", c.port, "the system does not tell who holds it"));
      complete = 0;
      continue;
    }
    std::string locking, open;
    for (const PortHolder& h : holders) {
      std::string& list = h.locksPort ? locking : open;
      list += (list.empty() ? "" : ", ") + Named(h);
    }
    if (!locking.empty())
      findings->push_back(Make(Finding::kProblem, "holders", c.port,
                               "held exclusively by " + locking + ": a flash will find it busy",
                               "close that program or stop that service"));
    else if (!open.empty())
      // A simulator keeps its own pty open like this; it does not keep a flasher out.
      findings->push_back(Make(Finding::kOk, "holders", c.port, "open in " + open + ", not exclusively"));
    else
      findings->push_back(Make(Finding::kOk, "holders", c.port, "no process holds it"));
  }
  return complete;
}

}  // namespace

int RunDoctor(const std::vector<Candidate>& candidates, const DoctorOptions& options,
              std::vector<Finding>* findings) {
  int complete = CheckGroups(candidates, findings);
  complete = CheckModemManager(candidates, options, findings) && complete;
  complete = CheckHolders(candidates, findings) && complete;
  return complete;
}
