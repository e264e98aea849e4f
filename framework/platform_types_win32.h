// Windows: the real types come from the platform headers.
#pragma once
#include <windows.h>
