// POSIX stand-ins for the Win32 types that portable headers mention. Nothing here talks to a
// window system: a window handle is only an opaque pointer that is never dereferenced.
#pragma once
#include <cstdint>

typedef int BOOL;
typedef unsigned int UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef const wchar_t* LPCWSTR;
typedef struct HWND__* HWND;
typedef struct HICON__* HICON;
typedef struct tagRECT RECT;  // declared only: nothing portable looks inside

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef WM_USER
#define WM_USER 0x0400
#endif
