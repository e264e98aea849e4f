// Reading a USB serial port's identity off its udev "tty" device; shared by the enumeration
// and the monitor.
#pragma once
#include <libudev.h>

#include "tools/zarnflash/discovery/candidate.h"

// Fills *candidate from a tty device whose parents include a USB device: its node, ids,
// serial number, by-path link and interface driver. 0 for every other tty (virtual consoles,
// ptys, on-board UARTs).
int CandidateFromUsbTty(udev_device* tty, Candidate* candidate);
