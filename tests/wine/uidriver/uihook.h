// What the UI driver and its hook library exchange: the query message and the reply record.
#pragma once
#include <windows.h>
#include <wchar.h>

// Sent to a control with wParam = one of the kinds below, lParam = the driver's process id.
static const wchar_t kUiHookQueryMessage[] = L"ZarnUiDriverQuery";
enum { kUiHookFont = 1, kUiHookIcon = 2, kUiHookLangId = 3, kUiHookProcess = 4 };

// The hook fills this record in a mapping named after the driver's process id.
struct UiHookReply {
    LONG answered;
    LONG height;    // the font's height, or the system language id
    LONG weight;
    wchar_t face[LF_FACESIZE];      // the font's face, or the icon kind
    wchar_t realized[LF_FACESIZE];  // the face GDI really uses for that font
    // kUiHookProcess: the program's open handles and memory, -1 where the system cannot tell.
    LONG handles;
    LONGLONG privateBytes;
    LONGLONG workingSet;
};

// What the program does to its dialogs' controls, as the hook sees the messages arrive: text
// changes, progress bar positions and enabling. The driver creates the log; the hook of every
// watched thread appends to it. Events are numbered from 0; the log keeps the latest
// kUiHookLogCapacity of them.
static const wchar_t kUiHookLogName[] = L"ZarnUiDriverLog";
enum { kUiEventText = 1, kUiEventPos = 2, kUiEventEnable = 3 };
enum { kUiHookLogCapacity = 16384, kUiHookEventText = 96 };

struct UiHookEvent {
    LONG seq;       // the event's number plus one, written last: 0 while the entry is incomplete
    DWORD tick;     // GetTickCount() in the program
    DWORD pid;      // the program's process id
    LONG id;        // the control's id
    LONG kind;      // kUiEvent...
    LONG value;     // position, or 1 enabled / 0 disabled
    wchar_t text[kUiHookEventText];  // new text (cut to fit), for kUiEventText
};

struct UiHookLog {
    LONG count;     // events ever appended
    UiHookEvent events[kUiHookLogCapacity];
};

inline void UiHookReplyName(wchar_t *name, DWORD driverPid)
{
    _snwprintf(name, 64, L"ZarnUiDriverReply-%lu", (unsigned long)driverPid);
    name[63] = 0;
}
