// UI driver for the Wine tests: reads one command per line on stdin, looks at or acts on the
// updater's window the way a user would, and answers each command with one JSON line on stdout.
//
// Commands (hwnd and ids in decimal or 0x hex; timeouts in milliseconds):
//   ping                         the driver's own process id and system language id
//   desktop <name> <timeout>     look at the windows of that desktop (Wine's virtual desktop)
//   find <timeout> [prefix]      wait for a new visible, unowned dialog whose title starts with
//                                prefix; every window found is claimed and not found again
//   dump <hwnd>                  title, rectangles, focus and every child control
//   control <hwnd> <id>          one child control
//   focus <hwnd>                 id of the control that has the keyboard focus
//   key <hwnd> esc|enter|tab|space   key down and up, posted to the focused control
//   click <hwnd> <id>            press a button as the mouse would; refused when disabled or hidden
//   command <hwnd> <id>          post WM_COMMAND BN_CLICKED straight to the window
//   activate <hwnd>              bring the window to the front (for screenshots)
//   close <hwnd>                 the close box (WM_SYSCOMMAND SC_CLOSE)
//   altf4 <hwnd>                 Alt+F4, posted to the focused control
//   boxes <hwnd>                 message boxes of the window: caption, text, icon, buttons
//   waitbox <hwnd> <timeout>     wait until the window shows a message box, then as boxes
//   answer <box> [id]            press a message box's button (IDOK by default)
//   waitgone <hwnd> <timeout>    wait until the window no longer exists
//   waitexit <pid> <timeout>     wait until a process ends; its exit code
//   watch <hwnd>                 log what the window's thread does to its controls from now on
//                                (text, progress position, enabling); answers the next number
//   events <from> [pid]          logged events from number <from> on, of one process if given
//   settext <hwnd> <id> <text>   set a control's text (a file dialog's file name)
//   process <hwnd>               the window's process as it sees itself: open handles, private
//                                bytes and working set (-1 where it cannot tell)
//   quit
#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "uihook.h"

namespace {

const DWORD kSendTimeoutMs = 3000;
const DWORD kPollMs = 20;

// Builds one JSON object; wide strings are written as \u escapes per UTF-16 code unit, so CR,
// LF, trailing blanks and every non-ASCII character arrive exactly as the window holds them.
class Json {
public:
    Json &Key(const char *key)
    {
        Sep();
        Raw("\"");
        Raw(key);
        Raw("\":");
        m_first = true;  // the value that follows needs no separator
        return *this;
    }
    Json &Str(const std::wstring &s)
    {
        Sep();
        m_out += '"';
        for (wchar_t c : s) {
            if (c == L'"' || c == L'\\') {
                m_out += '\\';
                m_out += (char)c;
            } else if (c < 0x20 || c >= 0x7f) {
                char buf[8];
                snprintf(buf, sizeof buf, "\\u%04x", (unsigned)c);
                m_out += buf;
            } else {
                m_out += (char)c;
            }
        }
        m_out += '"';
        return *this;
    }
    Json &Num(long long v)
    {
        Sep();
        m_out += std::to_string(v);
        return *this;
    }
    Json &Bool(bool v)
    {
        Sep();
        Raw(v ? "true" : "false");
        return *this;
    }
    Json &Null()
    {
        Sep();
        Raw("null");
        return *this;
    }
    Json &Open(char c)
    {
        Sep();
        m_out += c;
        m_first = true;
        return *this;
    }
    Json &Close(char c)
    {
        m_out += c;
        m_first = false;
        return *this;
    }
    const std::string &Text() const { return m_out; }

private:
    void Sep()
    {
        if (!m_first)
            m_out += ',';
        m_first = false;
    }
    void Raw(const char *s) { m_out += s; }

    std::string m_out;
    bool m_first = true;
};

std::wstring Widen(const std::string &s)
{
    if (s.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), NULL, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t name[256] = L"";
    GetClassNameW(hwnd, name, 256);
    return name;
}

// The text as the window itself answers WM_GETTEXT; a hung window gives an error, not a hang.
bool TextOf(HWND hwnd, std::wstring *text)
{
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &len))
        return false;
    std::vector<wchar_t> buf(len + 2, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, buf.size(), (LPARAM)buf.data(), SMTO_NORMAL, kSendTimeoutMs, &got))
        return false;
    text->assign(buf.data(), got);
    return true;
}

bool Send(HWND hwnd, UINT msg, WPARAM w, LPARAM l, DWORD_PTR *result)
{
    return SendMessageTimeoutW(hwnd, msg, w, l, SMTO_NORMAL, kSendTimeoutMs, result) != 0;
}

// Asks the hook library inside the window's process; one hook per thread of the program.
class HookClient {
public:
    HookClient()
    {
        m_module = LoadLibraryW(L"uihook.dll");
        if (!m_module) {
            // Beside the driver, wherever the current directory is.
            wchar_t path[MAX_PATH];
            DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
            while (n && path[n - 1] != L'\\' && path[n - 1] != L'/')
                --n;
            wcscpy(path + n, L"uihook.dll");
            m_module = LoadLibraryW(path);
        }
        m_proc = m_module ? (HOOKPROC)(void *)GetProcAddress(m_module, "UiHookProc") : NULL;
        m_query = RegisterWindowMessageW(kUiHookQueryMessage);
        wchar_t name[64];
        UiHookReplyName(name, GetCurrentProcessId());
        m_mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(UiHookReply), name);
        m_reply = m_mapping ? (UiHookReply *)MapViewOfFile(m_mapping, FILE_MAP_WRITE, 0, 0, sizeof(UiHookReply)) : NULL;
    }

    // Puts the hook on the thread of the window (once per thread); false when it cannot.
    bool Watch(HWND hwnd)
    {
        if (!m_proc)
            return false;
        DWORD pid = 0;
        DWORD tid = GetWindowThreadProcessId(hwnd, &pid);
        if (!tid)
            return false;
        auto it = m_hooks.find(tid);
        if (it == m_hooks.end() || it->second.pid != pid) {
            if (it != m_hooks.end())
                UnhookWindowsHookEx(it->second.hook);
            HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, m_proc, m_module, tid);
            if (!hook)
                return false;
            m_hooks[tid] = Hook{hook, pid};
        }
        return true;
    }

    // Returns false when the program could not be asked (no hook library, window gone).
    bool Ask(HWND hwnd, int kind, UiHookReply *out)
    {
        if (!m_reply || !Watch(hwnd))
            return false;
        ZeroMemory(m_reply, sizeof *m_reply);
        DWORD_PTR ignored;
        if (!Send(hwnd, m_query, kind, GetCurrentProcessId(), &ignored) || !m_reply->answered)
            return false;
        *out = *m_reply;
        return true;
    }

private:
    struct Hook {
        HHOOK hook;
        DWORD pid;
    };
    HMODULE m_module = NULL;
    HOOKPROC m_proc = NULL;
    UINT m_query = 0;
    HANDLE m_mapping = NULL;
    UiHookReply *m_reply = NULL;
    std::map<DWORD, Hook> m_hooks;
};

HookClient *g_hook;
std::set<HWND> g_claimed;
UiHookLog *g_log;  // written by the hooks in the programs, read by "events"

UiHookLog *CreateLog()
{
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(UiHookLog), kUiHookLogName);
    return mapping ? (UiHookLog *)MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(UiHookLog)) : NULL;
}

// Events from number `from` on (the older ones that the log no longer holds are skipped),
// optionally only those of one process.
void Events(Json &j, LONG from, DWORD pid)
{
    LONG count = g_log->count;
    if (from < count - kUiHookLogCapacity)
        from = count - kUiHookLogCapacity;
    if (from < 0)
        from = 0;
    j.Key("events").Open('[');
    LONG n = from;
    for (; n < count; ++n) {
        const UiHookEvent &e = g_log->events[n % kUiHookLogCapacity];
        if (e.seq != n + 1)
            break;  // still being written: the next call gets it
        if (pid && e.pid != pid)
            continue;
        static const char *const kKinds[] = {"?", "text", "pos", "enable"};
        j.Open('{').Key("n").Num(n).Key("t").Num(e.tick).Key("pid").Num(e.pid).Key("id").Num(e.id);
        j.Key("kind").Str(Widen(kKinds[e.kind >= 1 && e.kind <= 3 ? e.kind : 0]));
        if (e.kind == kUiEventText) {
            wchar_t text[kUiHookEventText + 1];
            memcpy(text, e.text, sizeof e.text);
            text[kUiHookEventText] = 0;
            j.Key("text").Str(text);
        } else {
            j.Key("value").Num(e.value);
        }
        j.Close('}');
    }
    j.Close(']').Key("next").Num(n);
}

void Rect(Json &j, const RECT &r)
{
    j.Key("x").Num(r.left).Key("y").Num(r.top).Key("w").Num(r.right - r.left).Key("h").Num(r.bottom - r.top);
}

bool ThreadInfo(HWND hwnd, GUITHREADINFO *gti)
{
    ZeroMemory(gti, sizeof *gti);
    gti->cbSize = sizeof *gti;
    DWORD tid = GetWindowThreadProcessId(hwnd, NULL);
    return tid && GetGUIThreadInfo(tid, gti);
}

HWND FocusOf(HWND hwnd)
{
    GUITHREADINFO gti;
    return ThreadInfo(hwnd, &gti) ? gti.hwndFocus : NULL;
}

void FocusFields(Json &j, HWND hwnd)
{
    HWND focus = FocusOf(hwnd);
    j.Key("focus");
    if (focus && focus != hwnd && IsChild(hwnd, focus))
        j.Num(GetDlgCtrlID(focus));
    else
        j.Null();
}

// One child control as a user sees it: where it is in the parent's client area, its text,
// whether it shows, and for the kinds that have them, font, range and position.
void Control(Json &j, HWND parent, HWND ctl)
{
    j.Open('{');
    std::wstring cls = ClassOf(ctl);
    LONG style = GetWindowLongW(ctl, GWL_STYLE);
    RECT r;
    GetWindowRect(ctl, &r);
    MapWindowPoints(NULL, parent, (POINT *)&r, 2);
    std::wstring text;
    j.Key("hwnd").Num((LONG_PTR)ctl).Key("id").Num(GetDlgCtrlID(ctl)).Key("class").Str(cls);
    j.Key("text");
    if (TextOf(ctl, &text))
        j.Str(text);
    else
        j.Null();
    Rect(j, r);
    j.Key("style").Num((unsigned long)style);
    j.Key("visible").Bool((style & WS_VISIBLE) != 0).Key("enabled").Bool(IsWindowEnabled(ctl) != 0);
    UiHookReply font;
    if (g_hook->Ask(ctl, kUiHookFont, &font)) {
        j.Key("font").Str(font.face).Key("font_realized").Str(font.realized);
        j.Key("font_height").Num(font.height).Key("font_weight").Num(font.weight);
    } else {
        j.Key("font").Null();
    }
    if (lstrcmpiW(cls.c_str(), PROGRESS_CLASSW) == 0) {
        DWORD_PTR lo = 0, hi = 0, pos = 0;
        Send(ctl, PBM_GETRANGE, TRUE, 0, &lo);
        Send(ctl, PBM_GETRANGE, FALSE, 0, &hi);
        Send(ctl, PBM_GETPOS, 0, 0, &pos);
        j.Key("range").Open('[').Num((int)lo).Num((int)hi).Close(']').Key("pos").Num((int)pos);
    }
    if (lstrcmpiW(cls.c_str(), L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
        UiHookReply icon;
        j.Key("icon");
        if (g_hook->Ask(ctl, kUiHookIcon, &icon))
            j.Str(icon.face);
        else
            j.Null();
    }
    j.Close('}');
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> out;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        out.push_back(c);
    return out;
}

void Window(Json &j, HWND hwnd)
{
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(hwnd, &pid);
    std::wstring title;
    TextOf(hwnd, &title);
    RECT outer, client;
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    j.Key("hwnd").Num((LONG_PTR)hwnd).Key("pid").Num(pid).Key("tid").Num(tid);
    j.Key("class").Str(ClassOf(hwnd)).Key("title").Str(title);
    GUITHREADINFO gti;
    j.Key("active").Bool(ThreadInfo(hwnd, &gti) && gti.hwndActive == hwnd);
    j.Key("foreground").Bool(GetForegroundWindow() == hwnd);
    j.Key("visible").Bool(IsWindowVisible(hwnd) != 0).Key("enabled").Bool(IsWindowEnabled(hwnd) != 0);
    j.Key("rect").Open('{');
    Rect(j, outer);
    j.Close('}').Key("client").Open('{');
    Rect(j, client);
    j.Close('}');
    j.Key("screen").Open('{').Key("w").Num(GetSystemMetrics(SM_CXSCREEN)).Key("h").Num(GetSystemMetrics(SM_CYSCREEN)).Close('}');
    UiHookReply lang;
    j.Key("langid");
    if (g_hook->Ask(hwnd, kUiHookLangId, &lang))
        j.Num(lang.height);
    else
        j.Null();
}

struct Found {
    std::vector<HWND> list;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param)
{
    ((Found *)param)->list.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevel()
{
    Found f;
    EnumWindows(CollectTopLevel, (LPARAM)&f);
    return f.list;
}

bool IsDialog(HWND hwnd) { return ClassOf(hwnd) == L"#32770"; }

// A message box of the window: another visible dialog that the window owns, or that its
// process shows.
std::vector<HWND> BoxesOf(HWND main)
{
    DWORD mainPid = 0;
    GetWindowThreadProcessId(main, &mainPid);
    std::vector<HWND> out;
    for (HWND w : TopLevel()) {
        if (w == main || !IsDialog(w) || !IsWindowVisible(w))
            continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (GetWindow(w, GW_OWNER) == main || (mainPid && pid == mainPid))
            out.push_back(w);
    }
    return out;
}

void Box(Json &j, HWND box)
{
    j.Open('{');
    Window(j, box);
    std::wstring text;
    bool haveText = false;
    bool haveIcon = false;
    j.Key("buttons").Open('[');
    for (HWND c : Children(box)) {
        std::wstring cls = ClassOf(c);
        LONG style = GetWindowLongW(c, GWL_STYLE);
        int id = GetDlgCtrlID(c);
        if (lstrcmpiW(cls.c_str(), L"Button") == 0 && (style & WS_VISIBLE)) {
            std::wstring caption;
            TextOf(c, &caption);
            j.Open('{').Key("id").Num(id).Key("text").Str(caption).Close('}');
        }
    }
    j.Close(']');
    for (HWND c : Children(box)) {
        if (lstrcmpiW(ClassOf(c).c_str(), L"Static") != 0)
            continue;
        LONG style = GetWindowLongW(c, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON) {
            UiHookReply icon;
            haveIcon = true;
            j.Key("icon");
            if (g_hook->Ask(c, kUiHookIcon, &icon))
                j.Str(icon.face);
            else
                j.Null();
        } else if (!haveText || GetDlgCtrlID(c) == 0xFFFF || GetDlgCtrlID(c) == -1) {
            haveText = TextOf(c, &text);
        }
    }
    if (!haveIcon)
        j.Key("icon").Null();
    j.Key("text");
    if (haveText)
        j.Str(text);
    else
        j.Null();
    j.Close('}');
}

void Boxes(Json &j, HWND main)
{
    j.Key("boxes").Open('[');
    for (HWND b : BoxesOf(main))
        Box(j, b);
    j.Close(']');
}

void PostKey(HWND target, UINT down, UINT up, WPARAM vk, LPARAM flags)
{
    UINT scan = MapVirtualKeyW((UINT)vk, 0 /* MAPVK_VK_TO_VSC */);
    LPARAM base = 1 | ((LPARAM)scan << 16) | flags;
    PostMessageW(target, down, vk, base);
    PostMessageW(target, up, vk, base | (1u << 30) | (1u << 31));
}

HWND KeyTarget(HWND hwnd)
{
    HWND focus = FocusOf(hwnd);
    return focus ? focus : hwnd;
}

HWND ParseHwnd(const char *s) { return (HWND)(ULONG_PTR)strtoul(s ? s : "0", NULL, 0); }

bool Fail(Json &j, const char *error)
{
    j.Key("ok").Bool(false).Key("error").Str(Widen(error));
    return true;
}

bool NeedWindow(Json &j, HWND hwnd)
{
    if (hwnd && IsWindow(hwnd))
        return true;
    Fail(j, "no such window");
    return false;
}

// Runs one command; returns false for quit.
bool Run(const std::vector<std::string> &args, const std::string &rest, Json &j)
{
    const std::string &cmd = args[0];
    auto arg = [&](size_t i) { return i < args.size() ? args[i].c_str() : NULL; };
    HWND hwnd = ParseHwnd(arg(1));

    if (cmd == "quit") {
        j.Key("ok").Bool(true);
        return false;
    }
    if (cmd == "ping") {
        j.Key("ok").Bool(true).Key("pid").Num(GetCurrentProcessId());
        j.Key("langid").Num(GetSystemDefaultLangID()).Key("hook").Bool(g_hook != NULL);
        return true;
    }
    if (cmd == "desktop") {
        // Windows of a Wine virtual desktop are only seen from a thread attached to it; this
        // must come before the driver has hooked anything. The desktop may still be starting.
        std::wstring name = Widen(arg(1) ? arg(1) : "");
        DWORD timeout = strtoul(arg(2) ? arg(2) : "0", NULL, 0);
        DWORD start = GetTickCount();
        for (;;) {
            HDESK desk = OpenDesktopW(name.c_str(), 0, FALSE, GENERIC_ALL);
            if (desk && SetThreadDesktop(desk)) {
                j.Key("ok").Bool(true);
                return true;
            }
            DWORD error = GetLastError();
            if (desk)
                CloseDesktop(desk);
            if (GetTickCount() - start >= timeout) {
                Fail(j, "cannot attach to that desktop");
                j.Key("winerror").Num(error);
                return true;
            }
            Sleep(kPollMs);
        }
    }
    if (cmd == "find") {
        DWORD timeout = strtoul(arg(1) ? arg(1) : "0", NULL, 0);
        std::wstring prefix = Widen(rest);
        DWORD start = GetTickCount();
        for (;;) {
            for (HWND w : TopLevel()) {
                if (g_claimed.count(w) || !IsDialog(w) || !IsWindowVisible(w) || GetWindow(w, GW_OWNER))
                    continue;
                std::wstring title;
                if (!TextOf(w, &title) || title.compare(0, prefix.size(), prefix) != 0)
                    continue;
                g_claimed.insert(w);
                j.Key("ok").Bool(true);
                Window(j, w);
                return true;
            }
            if (GetTickCount() - start >= timeout) {
                Fail(j, "no window");
                return true;
            }
            Sleep(kPollMs);
        }
    }
    if (cmd == "events") {
        if (!g_log)
            return Fail(j, "no event log");
        j.Key("ok").Bool(true);
        Events(j, strtol(arg(1) ? arg(1) : "0", NULL, 0), strtoul(arg(2) ? arg(2) : "0", NULL, 0));
        return true;
    }
    if (cmd == "waitexit") {
        // Asked before the process ends (a program in Wine's virtual desktop is no child of
        // whoever started it): afterwards its id may be gone.
        DWORD pid = strtoul(arg(1) ? arg(1) : "0", NULL, 0);
        DWORD timeout = strtoul(arg(2) ? arg(2) : "0", NULL, 0);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
        if (!process)
            return Fail(j, "no such process");
        DWORD code = STILL_ACTIVE;
        bool ended = WaitForSingleObject(process, timeout) == WAIT_OBJECT_0;
        if (ended)
            GetExitCodeProcess(process, &code);
        CloseHandle(process);
        j.Key("ok").Bool(true).Key("ended").Bool(ended);
        if (ended)
            j.Key("code").Num(code);
        return true;
    }
    if (cmd == "waitgone") {
        DWORD timeout = strtoul(arg(2) ? arg(2) : "0", NULL, 0);
        DWORD start = GetTickCount();
        while (IsWindow(hwnd) && GetTickCount() - start < timeout)
            Sleep(kPollMs);
        j.Key("ok").Bool(true).Key("gone").Bool(!IsWindow(hwnd));
        return true;
    }
    if (!NeedWindow(j, hwnd))
        return true;

    if (cmd == "dump") {
        j.Key("ok").Bool(true);
        Window(j, hwnd);
        FocusFields(j, hwnd);
        j.Key("controls").Open('[');
        for (HWND c : Children(hwnd))
            Control(j, hwnd, c);
        j.Close(']');
    } else if (cmd == "control") {
        HWND ctl = GetDlgItem(hwnd, (int)strtol(arg(2) ? arg(2) : "0", NULL, 0));
        if (!ctl)
            return Fail(j, "no such control");
        j.Key("ok").Bool(true).Key("control");
        Control(j, hwnd, ctl);
    } else if (cmd == "watch") {
        if (!g_log || !g_hook->Watch(hwnd))
            return Fail(j, "cannot watch that window");
        j.Key("ok").Bool(true).Key("next").Num(g_log->count);
    } else if (cmd == "settext") {
        // The text is everything after the id, blanks kept.
        HWND ctl = GetDlgItem(hwnd, (int)strtol(arg(2) ? arg(2) : "0", NULL, 0));
        if (!ctl)
            return Fail(j, "no such control");
        size_t at = rest.find(' ');
        std::wstring text = Widen(at == std::string::npos ? std::string() : rest.substr(at + 1));
        DWORD_PTR ignored;
        if (!Send(ctl, WM_SETTEXT, 0, (LPARAM)text.c_str(), &ignored))
            return Fail(j, "the control did not take the text");
        j.Key("ok").Bool(true);
    } else if (cmd == "process") {
        UiHookReply counts;
        if (!g_hook->Ask(hwnd, kUiHookProcess, &counts))
            return Fail(j, "the window's process did not answer");
        j.Key("ok").Bool(true).Key("handles").Num(counts.handles);
        j.Key("private_bytes").Num(counts.privateBytes).Key("working_set").Num(counts.workingSet);
    } else if (cmd == "focus") {
        j.Key("ok").Bool(true);
        FocusFields(j, hwnd);
    } else if (cmd == "key") {
        static const struct { const char *name; WPARAM vk; } kKeys[] = {
            {"esc", VK_ESCAPE}, {"enter", VK_RETURN}, {"tab", VK_TAB}, {"space", VK_SPACE},
        };
        for (const auto &k : kKeys) {
            if (arg(2) && strcmp(arg(2), k.name) == 0) {
                HWND target = KeyTarget(hwnd);
                PostKey(target, WM_KEYDOWN, WM_KEYUP, k.vk, 0);
                j.Key("ok").Bool(true).Key("target").Num(GetDlgCtrlID(target));
                return true;
            }
        }
        return Fail(j, "unknown key");
    } else if (cmd == "altf4") {
        // The context bit (1 << 29) says Alt is held, which is what makes F4 a close request.
        HWND target = KeyTarget(hwnd);
        PostKey(target, WM_SYSKEYDOWN, WM_SYSKEYUP, VK_F4, 1 << 29);
        j.Key("ok").Bool(true);
    } else if (cmd == "activate") {
        SetForegroundWindow(hwnd);
        j.Key("ok").Bool(true).Key("foreground").Bool(GetForegroundWindow() == hwnd);
    } else if (cmd == "close") {
        PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        j.Key("ok").Bool(true);
    } else if (cmd == "click") {
        HWND ctl = GetDlgItem(hwnd, (int)strtol(arg(2) ? arg(2) : "0", NULL, 0));
        if (!ctl)
            return Fail(j, "no such control");
        // A user cannot press a button that is hidden or disabled.
        bool can = (GetWindowLongW(ctl, GWL_STYLE) & WS_VISIBLE) && IsWindowEnabled(ctl);
        if (can)
            PostMessageW(ctl, BM_CLICK, 0, 0);
        j.Key("ok").Bool(true).Key("clicked").Bool(can);
    } else if (cmd == "command") {
        int id = (int)strtol(arg(2) ? arg(2) : "0", NULL, 0);
        PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(hwnd, id));
        j.Key("ok").Bool(true);
    } else if (cmd == "boxes") {
        j.Key("ok").Bool(true);
        Boxes(j, hwnd);
    } else if (cmd == "waitbox") {
        DWORD timeout = strtoul(arg(2) ? arg(2) : "0", NULL, 0);
        DWORD start = GetTickCount();
        while (BoxesOf(hwnd).empty() && GetTickCount() - start < timeout && IsWindow(hwnd))
            Sleep(kPollMs);
        if (BoxesOf(hwnd).empty())
            return Fail(j, "no message box");
        j.Key("ok").Bool(true);
        Boxes(j, hwnd);
    } else if (cmd == "answer") {
        int id = arg(2) ? (int)strtol(arg(2), NULL, 0) : IDOK;
        HWND button = GetDlgItem(hwnd, id);
        if (!button)
            return Fail(j, "no such button");
        PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
        j.Key("ok").Bool(true);
    } else {
        Fail(j, "unknown command");
    }
    return true;
}

}  // namespace

int main()
{
    // Answers go to a pipe: no CR LF translation, and each line flushed as soon as written.
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, NULL, _IOFBF, 1 << 16);
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);  // for the progress bar's messages and class name
    HookClient hook;
    g_hook = &hook;
    g_log = CreateLog();

    static char line[8192];
    while (fgets(line, sizeof line, stdin)) {
        size_t n = strlen(line);
        while (n && (line[n - 1] == '\n' || line[n - 1] == '\r'))
            line[--n] = 0;
        // Words are split at blanks; 'rest' is everything after the second word, blanks kept,
        // for a title prefix that may contain them.
        std::vector<std::string> args;
        std::string rest;
        const char *p = line;
        while (*p) {
            while (*p == ' ')
                ++p;
            if (!*p)
                break;
            if (args.size() == 2) {
                rest = p;
            }
            const char *start = p;
            while (*p && *p != ' ')
                ++p;
            args.emplace_back(start, p);
        }
        if (args.empty())
            continue;
        Json j;
        j.Open('{');
        bool more = Run(args, rest, j);
        j.Close('}');
        fputs(j.Text().c_str(), stdout);
        fputc('\n', stdout);
        fflush(stdout);
        if (!more)
            break;
    }
    return 0;
}
