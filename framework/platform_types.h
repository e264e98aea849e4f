// The handful of Win32 scalar and handle types that portable headers mention. On Windows they
// are the platform's own; elsewhere platform_types_posix.h gives stand-ins of the same shape.
#pragma once
#if defined(_WIN32)
#include "platform_types_win32.h"
#else
#include "platform_types_posix.h"
#endif
