// Windows does not tell which program holds a COM port, and its ports have no owning group.
#include "tools/zarnflash/discovery/port_diagnosis.h"

int FindHolders(const std::string&, std::vector<PortHolder>* holders) {
  holders->clear();
  return 0;
}

int FindPortGroup(const std::string&, PortGroup*) { return 0; }
