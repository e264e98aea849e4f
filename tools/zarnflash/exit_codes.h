// zarnflash's exit codes: one for each class of failure, so that scripts can tell them apart.
// With several devices the code is that of the first device, in the order given, that failed.
#pragma once

enum ExitCode {
  kExitOk = 0,             // every device got the whole image (or the command did its job)
  kExitUsage = 2,          // the command line is wrong
  kExitNoDevice = 3,       // no device found, or several where one was expected
  kExitPortUnusable = 4,   // a port could not be opened: absent, busy, no permission
  kExitLinkError = 5,      // the device did not answer as it should, went silent or away
  kExitReadError = 6,      // the image file could not be read
  kExitRejected = 7,       // the device refused the image or cancelled the transfer
  kExitSizeError = 8,      // the image is empty or too large, or does not fit the device
  kExitInterrupted = 130,  // stopped by Ctrl-C (or SIGTERM); never a success
};

// The codes with a line each, for --help and the README.
const char* ExitCodeTable();
