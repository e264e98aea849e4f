// CString formatting: grow the buffer until the whole text fits.
#include "cstring.h"
#include <cstdarg>
#include <cwchar>
#include <vector>

void CString::Format(const wchar_t* format, ...) {
  std::vector<wchar_t> buffer(128);
  for (;;) {
    va_list args;
    va_start(args, format);
    int n = vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < buffer.size()) {
      m_text.assign(buffer.data(), n);
      return;
    }
    if (buffer.size() > (1u << 20)) {  // a format that can never fit: keep what we have
      m_text.clear();
      return;
    }
    buffer.resize(buffer.size() * 2);
  }
}
