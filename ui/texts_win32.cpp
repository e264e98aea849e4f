// GetText on Windows: the system's default language picks the table at every call.
#include <windows.h>

#include "ui/texts.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be UTF-16 on Windows");

const wchar_t* GetText(int index) {
  // Not cached: the system locale is read each time a text is shown.
  return reinterpret_cast<const wchar_t*>(TextForLanguage(GetSystemDefaultLangID(), index));
}
