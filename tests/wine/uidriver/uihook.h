// What the UI driver and its hook library exchange: the query message and the reply record.
#pragma once
#include <windows.h>
#include <wchar.h>

// Sent to a control with wParam = one of the kinds below, lParam = the driver's process id.
static const wchar_t kUiHookQueryMessage[] = L"ZarnUiDriverQuery";
enum { kUiHookFont = 1, kUiHookIcon = 2, kUiHookLangId = 3 };

// The hook fills this record in a mapping named after the driver's process id.
struct UiHookReply {
    LONG answered;
    LONG height;    // the font's height, or the system language id
    LONG weight;
    wchar_t face[LF_FACESIZE];      // the font's face, or the icon kind
    wchar_t realized[LF_FACESIZE];  // the face GDI really uses for that font
};

inline void UiHookReplyName(wchar_t *name, DWORD driverPid)
{
    _snwprintf(name, 64, L"ZarnUiDriverReply-%lu", (unsigned long)driverPid);
    name[63] = 0;
}
