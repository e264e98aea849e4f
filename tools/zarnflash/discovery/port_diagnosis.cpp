// The advice for a port that would not open, from its holders or its owning group.
#include "tools/zarnflash/discovery/port_diagnosis.h"

namespace {

std::string HolderList(const std::vector<PortHolder>& holders, bool lockingOnly) {
  std::string list;
  for (const PortHolder& h : holders) {
    if (lockingOnly && !h.locksPort) continue;
    if (!list.empty()) list += ", ";
    list += h.command + " (pid " + std::to_string(h.pid) + ")";
  }
  return list;
}

std::string BusyAdvice(const Diagnosis& d) {
  if (!d.holdersKnown) return "Another program holds the port: close it and try again.";
  // The lock names the process that shut us out; without it, every opener is a suspect.
  std::string list = HolderList(d.holders, true);
  if (list.empty()) list = HolderList(d.holders, false);
  if (list.empty()) return "Another program holds the port, and the system does not tell which: "
                           "close terminal programs and try again.";
  return "Held by " + list + ": close it (or stop that service) and try again.";
}

std::string PermissionAdvice(const Diagnosis& d) {
  if (!d.groupKnown) return "This user may not open the port: run as a user who may.";
  if (!d.group.grantsUse)
    return "The port belongs to group " + d.group.name +
           ", which may not read and write it either: run as the port's owner.";
  return "The port belongs to group " + d.group.name + ": " + JoinGroupCommand(d.group.name) +
         ", then log out and in again.";
}

}  // namespace

std::string JoinGroupCommand(const std::string& group) {
  return "sudo usermod -aG " + group + " $USER";
}

Diagnosis DiagnoseOpenFailure(const std::string& port, const OpenFailure& failure) {
  Diagnosis d;
  d.failure = failure;
  switch (failure.kind) {
    case CSerialPort::kBusy:
      d.holdersKnown = FindHolders(port, &d.holders) != 0;
      d.advice = BusyAdvice(d);
      break;
    case CSerialPort::kPermissionDenied:
      d.groupKnown = FindPortGroup(port, &d.group) != 0;
      d.advice = PermissionAdvice(d);
      break;
    case CSerialPort::kAbsent:
    case CSerialPort::kHungUp:
      d.advice = "The port is gone: check the cable and that the device is powered.";
      break;
    case CSerialPort::kNotATerminal:
      d.advice = "That path is no serial port: check the --ports pattern.";
      break;
    case CSerialPort::kNone:
      break;
    case CSerialPort::kSettingsRefused:
      d.advice = "The port does not take the device's line settings (921600 baud, 8-N-1): it "
                 "is not the device's port.";
      break;
    case CSerialPort::kOther:
      d.advice = "The port refused to open (" + failure.text + "): replug the device.";
      break;
  }
  return d;
}
