// GDI wrappers: font and bitmap objects that own their handle, and device contexts.
#pragma once
#include "wnd.h"

// A GDI object handle owned by the wrapper: deleted by DeleteObject or at destruction.
class CGdiObject : public CObject {
public:
  ~CGdiObject() override { DeleteObject(); }

  BOOL Attach(HGDIOBJ object);   // takes ownership; fails on a null handle or a full wrapper
  HGDIOBJ Detach();              // gives ownership back; the wrapper is empty afterwards
  BOOL DeleteObject();           // nothing on an empty wrapper
  HGDIOBJ GetSafeHandle() const { return m_hObject; }

  HGDIOBJ m_hObject = nullptr;

protected:
  CGdiObject() {}
};

class CFont : public CGdiObject {};

class CBitmap : public CGdiObject {
public:
  BOOL LoadBitmap(UINT resourceId);  // from the program's own resources
  int GetBitmap(BITMAP* bitmap) const;
  operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
};

// A device context handle; this base class does not own it.
class CDC : public CObject {
public:
  CDC() {}
  explicit CDC(HDC dc) : m_hDC(dc) {}

  HDC GetSafeHdc() const { return m_hDC; }
  // Returns the object that was selected before.
  HGDIOBJ SelectObject(CGdiObject* object);
  BOOL DrawIcon(int x, int y, HICON icon);

  HDC m_hDC = nullptr;
};

// The device context of one WM_PAINT: BeginPaint at construction, EndPaint at destruction.
class CPaintDC : public CDC {
public:
  explicit CPaintDC(CWnd* wnd);
  ~CPaintDC() override;

  PAINTSTRUCT m_ps;

private:
  HWND m_hWnd;
};
