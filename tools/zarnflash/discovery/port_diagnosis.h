// What stands between the user and a port that would not open, and what to do about it:
// the processes that have it open (busy) and the group that owns it (permission denied).
// Each call returns 1 when the system could tell, 0 when it cannot (no /proc, Windows).
#pragma once
#include <string>
#include <vector>

#include "tools/zarnflash/discovery/port_open.h"

struct PortHolder {
  int pid = 0;
  std::string command;     // the process's name, "minicom"
  bool locksPort = false;  // it holds the exclusive lock that makes an opener fail as busy
};

// Every process with the port open, each once, in pid order; this process too when it holds
// the port (the probe's own descriptor is closed by then). A device simulator holds its own
// pty this way without the lock: only holders with locksPort make the port busy.
int FindHolders(const std::string& port, std::vector<PortHolder>* holders);

struct PortGroup {
  std::string name;       // "dialout"
  int gid = -1;
  bool grantsUse = false;  // the group may read and write the device: joining it helps
};

// The group that owns the port's device file.
int FindPortGroup(const std::string& port, PortGroup* group);

// The shell command that adds the current user to `group`.
std::string JoinGroupCommand(const std::string& group);

// Why the port did not open and what to do, as one record for printing or JSON.
struct Diagnosis {
  OpenFailure failure;
  bool holdersKnown = false;
  std::vector<PortHolder> holders;  // with kBusy
  bool groupKnown = false;
  PortGroup group;                  // with kPermissionDenied
  std::string advice;               // one or two sentences: what to do
};

// Fills the record for `failure`: busy asks for the holders, permission denied for the group.
Diagnosis DiagnoseOpenFailure(const std::string& port, const OpenFailure& failure);
