// Small readers of /proc shared by the port diagnosis and the doctor.
#pragma once
#include <string>
#include <vector>

// The ids of the processes /proc lists, in ascending order (empty without /proc).
std::vector<int> ProcessIds();
// A process's name from /proc/<pid>/comm, or empty when it is gone or hidden.
std::string ProcessName(int pid);
