// Plain-word descriptions of the loader's status reports, for people reading a terminal.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

std::string DescribeReport(int code, uint32_t value);
