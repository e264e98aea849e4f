// CString: a wide-character string with printf-style formatting. Formats use %ls for wide
// strings, which means the same on every C runtime.
#pragma once
#include <string>
#include "platform_types.h"

class CString {
public:
  CString() {}
  CString(const wchar_t* text) : m_text(text ? text : L"") {}
  CString(const CString& other) = default;
  CString& operator=(const CString& other) = default;
  CString& operator=(const wchar_t* text) { m_text = text ? text : L""; return *this; }

  void Format(const wchar_t* format, ...);

  const wchar_t* GetString() const { return m_text.c_str(); }
  operator const wchar_t*() const { return m_text.c_str(); }

  // Texts compare by their characters: without these a comparison would still compile, through
  // the conversion above, and compare addresses.
  bool operator==(const wchar_t* text) const { return m_text == (text ? text : L""); }
  bool operator!=(const wchar_t* text) const { return !(*this == text); }

private:
  std::wstring m_text;
};
