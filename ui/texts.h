// Localized texts of the updater window: 22 constant rows in English, Simplified Chinese,
// Traditional Chinese and Russian, chosen by the system's default language.
#pragma once

// Rows 0 to 20 hold texts; row 21 is empty in every language.
constexpr int kTextRows = 22;

// Row `index` of the table for language `langId`: 0x0804 Simplified Chinese, 0x0404
// Traditional Chinese, 0x0419 Russian, any other value English. The result is a
// NUL-terminated UTF-16 text inside a constant table, valid for the life of the program.
// `index` is not checked: callers pass a constant from 0 to 21.
const char16_t* TextForLanguage(unsigned short langId, int index);

// Row `index` in the language of the system's default language id, read afresh at every call
// (Windows only; wchar_t is UTF-16 there).
const wchar_t* GetText(int index);
