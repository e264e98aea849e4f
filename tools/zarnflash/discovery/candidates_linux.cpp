// The system's USB serial ports through libudev: every "tty" device with a USB parent.
#include <cstring>

#include "tools/zarnflash/discovery/candidates.h"
#include "tools/zarnflash/discovery/udev_tty_linux.h"

namespace {

const char kByPathPrefix[] = "/dev/serial/by-path/";

std::string Text(const char* value) { return value ? value : ""; }

}  // namespace

int CandidateFromUsbTty(udev_device* tty, Candidate* candidate) {
  const char* node = udev_device_get_devnode(tty);
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
  if (!node || !usb) return 0;
  Candidate c;
  c.port = node;
  c.vendorId = Text(udev_device_get_sysattr_value(usb, "idVendor"));
  c.productId = Text(udev_device_get_sysattr_value(usb, "idProduct"));
  c.serial = Text(udev_device_get_sysattr_value(usb, "serial"));
  udev_device* interface =
      udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_interface");
  if (interface) {
    c.driver = Text(udev_device_get_driver(interface));
    c.usbInterface = Text(udev_device_get_sysname(interface));
  }
  // The links come from udev's rules; a system without udevd has none.
  udev_list_entry* link;
  udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(tty)) {
    const char* name = udev_list_entry_get_name(link);
    if (std::strncmp(name, kByPathPrefix, sizeof kByPathPrefix - 1) == 0) c.usbLocation = name;
  }
  *candidate = c;
  return 1;
}

int SystemCandidates(const CandidateFilter& filter, std::vector<Candidate>* out,
                     std::string* error) {
  udev* context = udev_new();
  if (!context) {
    *error = "libudev: cannot create a context";
    return 0;
  }
  udev_enumerate* walk = udev_enumerate_new(context);
  int ok = walk && udev_enumerate_add_match_subsystem(walk, "tty") >= 0;
  const int scanned = ok ? udev_enumerate_scan_devices(walk) : -1;
  if (!ok || scanned < 0) {
    *error = std::string("libudev: cannot list the tty devices: ") +
             (scanned < 0 && ok ? std::strerror(-scanned) : "out of memory");
    ok = 0;
  } else {
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(walk)) {
      udev_device* tty = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
      if (!tty) continue;  // gone since the scan
      Candidate candidate;
      if (CandidateFromUsbTty(tty, &candidate) && Admits(filter, candidate))
        out->push_back(candidate);
      udev_device_unref(tty);
    }
  }
  if (walk) udev_enumerate_unref(walk);
  udev_unref(context);
  return ok;
}
