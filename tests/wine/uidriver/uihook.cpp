// Hook library that the UI driver loads into the program under test, to answer what only that
// process can tell: the face of a control's font, which stock icon a message box shows, and the
// system language the program sees; and to log what the program does to its controls, which
// may change faster than anyone polling from outside could see; and the program's handle count
// and memory, which only its own process reads without extra rights.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <wchar.h>

#include "uihook.h"

namespace {

void FontFace(HWND hwnd, UiHookReply *reply)
{
    HFONT font = (HFONT)SendMessageW(hwnd, WM_GETFONT, 0, 0);
    if (!font)
        return;  // the control draws with the system font: no face of its own
    LOGFONTW lf;
    if (GetObjectW(font, sizeof lf, &lf) != sizeof lf)
        return;
    wcsncpy(reply->face, lf.lfFaceName, LF_FACESIZE);
    reply->height = lf.lfHeight;
    reply->weight = lf.lfWeight;
    // The name asked for proves nothing about the glyphs: ask GDI which face it really chose.
    HDC dc = CreateCompatibleDC(NULL);
    if (dc) {
        HGDIOBJ old = SelectObject(dc, font);
        GetTextFaceW(dc, LF_FACESIZE, reply->realized);
        SelectObject(dc, old);
        DeleteDC(dc);
    }
}

void IconKind(HWND hwnd, UiHookReply *reply)
{
    HICON icon = (HICON)SendMessageW(hwnd, STM_GETICON, 0, 0);
    static const struct { LPCWSTR id; const wchar_t *name; } kStock[] = {
        {IDI_HAND, L"hand"}, {IDI_EXCLAMATION, L"exclamation"}, {IDI_ASTERISK, L"asterisk"},
        {IDI_QUESTION, L"question"}, {IDI_APPLICATION, L"application"},
    };
    const wchar_t *kind = icon ? L"other" : L"none";
    for (const auto &s : kStock)
        if (icon && LoadIconW(NULL, s.id) == icon)
            kind = s.name;
    wcsncpy(reply->face, kind, LF_FACESIZE);
}

// Both calls are newer than the oldest Windows the program runs on, and psapi.dll is not one
// the Windows build may import: they are looked up at run time, so the library still loads.
typedef BOOL(WINAPI *HandleCountFn)(HANDLE, PDWORD);
typedef BOOL(WINAPI *MemoryInfoFn)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);

// Wine answers GetProcessHandleCount with 0: count the handle values that name an object
// instead (handles are multiples of 4; the walk stops a long run past the last one in use).
LONG WalkHandles()
{
    LONG count = 0;
    DWORD flags;
    for (ULONG_PTR value = 4, lastUsed = 0; value < lastUsed + 0x10000; value += 4) {
        if (GetHandleInformation((HANDLE)value, &flags)) {
            ++count;
            lastUsed = value;
        }
    }
    return count;
}

// Wine leaves PrivateUsage at 0: add up the committed private pages of the address space.
LONGLONG WalkPrivateBytes()
{
    LONGLONG total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char *at = NULL; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += (LONGLONG)region.RegionSize;
        const char *next = (const char *)region.BaseAddress + region.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    return total;
}

void ProcessCounts(UiHookReply *reply)
{
    static HandleCountFn handleCount =
        (HandleCountFn)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetProcessHandleCount");
    static MemoryInfoFn memoryInfo = [] {
        FARPROC f = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "K32GetProcessMemoryInfo");
        if (!f) {
            // Loaded once and kept, so that asking twice does not change the handle count.
            HMODULE psapi = LoadLibraryW(L"psapi.dll");
            f = psapi ? GetProcAddress(psapi, "GetProcessMemoryInfo") : NULL;
        }
        return (MemoryInfoFn)(void *)f;
    }();
    DWORD handles = 0;
    if (!handleCount || !handleCount(GetCurrentProcess(), &handles) || handles == 0)
        handles = (DWORD)WalkHandles();
    reply->handles = (LONG)handles;
    PROCESS_MEMORY_COUNTERS_EX memory;
    ZeroMemory(&memory, sizeof memory);
    memory.cb = sizeof memory;
    if (memoryInfo && memoryInfo(GetCurrentProcess(), (PPROCESS_MEMORY_COUNTERS)&memory, sizeof memory)) {
        reply->privateBytes = (LONGLONG)memory.PrivateUsage;
        reply->workingSet = (LONGLONG)memory.WorkingSetSize;
    } else {
        reply->privateBytes = reply->workingSet = -1;
    }
    if (reply->privateBytes <= 0)
        reply->privateBytes = WalkPrivateBytes();
}

UiHookLog *Log()
{
    static UiHookLog *log;
    if (!log) {
        HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kUiHookLogName);
        if (mapping) {
            log = (UiHookLog *)MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(UiHookLog));
            CloseHandle(mapping);  // the view keeps the mapping
        }
    }
    return log;
}

// Child controls only: the dialogs' own titles and the message boxes' texts are read directly.
void Record(const CWPSTRUCT *call)
{
    int kind;
    switch (call->message) {
    case WM_SETTEXT: kind = kUiEventText; break;
    case PBM_SETPOS: kind = kUiEventPos; break;
    case WM_ENABLE: kind = kUiEventEnable; break;
    default: return;
    }
    if (!(GetWindowLongW(call->hwnd, GWL_STYLE) & WS_CHILD))
        return;
    UiHookLog *log = Log();
    if (!log)
        return;
    LONG n = InterlockedIncrement(&log->count) - 1;
    UiHookEvent *e = &log->events[n % kUiHookLogCapacity];
    e->seq = 0;
    e->tick = GetTickCount();
    e->pid = GetCurrentProcessId();
    e->id = GetDlgCtrlID(call->hwnd);
    e->kind = kind;
    e->value = kind == kUiEventPos ? (LONG)call->wParam : kind == kUiEventEnable ? (call->wParam != 0) : 0;
    e->text[0] = 0;
    if (kind == kUiEventText && call->lParam)
        lstrcpynW(e->text, (const wchar_t *)call->lParam, kUiHookEventText);
    InterlockedExchange(&e->seq, n + 1);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK UiHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    static const UINT query = RegisterWindowMessageW(kUiHookQueryMessage);
    const CWPSTRUCT *call = (const CWPSTRUCT *)lParam;
    if (code == HC_ACTION && call)
        Record(call);
    if (code == HC_ACTION && call && call->message == query) {
        wchar_t name[64];
        UiHookReplyName(name, (DWORD)call->lParam);
        HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
        UiHookReply *reply = mapping ? (UiHookReply *)MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(UiHookReply)) : NULL;
        if (reply) {
            ZeroMemory(reply, sizeof *reply);
            if (call->wParam == kUiHookFont)
                FontFace(call->hwnd, reply);
            else if (call->wParam == kUiHookIcon)
                IconKind(call->hwnd, reply);
            else if (call->wParam == kUiHookLangId)
                reply->height = GetSystemDefaultLangID();
            else if (call->wParam == kUiHookProcess)
                ProcessCounts(reply);
            reply->answered = 1;
            UnmapViewOfFile(reply);
        }
        if (mapping)
            CloseHandle(mapping);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}
