// Plain-word descriptions of the loader's status reports, in the words of the window's table.
#include "report_text.h"

#include "ui/update_state.h"

std::string DescribeReport(int code, uint32_t value) { return DescribeStatus(code, value); }
