// Windows has no device groups and no modem manager that probes new ports: nothing to check.
#include "tools/zarnflash/discovery/doctor.h"

int RunDoctor(const std::vector<Candidate>&, const DoctorOptions&, std::vector<Finding>*) {
  return 1;
}
