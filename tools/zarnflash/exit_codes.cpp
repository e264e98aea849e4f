// The exit code table, as --help and the README print it.
#include "tools/zarnflash/exit_codes.h"

const char* ExitCodeTable() {
  return "Exit codes:\n"
         "  0    success: every device got the whole image\n"
         "  2    usage: the command line is wrong\n"
         "  3    no device found, or several where one was expected\n"
         "  4    a port could not be opened: absent, busy or no permission\n"
         "  5    link error: the device did not answer as it should, went silent or away\n"
         "  6    read error: the image file could not be read\n"
         "  7    rejected: the device refused the image or cancelled the transfer\n"
         "  8    size error: the image is empty, too large, or does not fit the device\n"
         "  130  interrupted by Ctrl-C; never a success\n"
         "With several devices, the code is that of the first one (in the order given) that "
         "failed.\n";
}
