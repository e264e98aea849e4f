// GDI wrappers over the Win32 calls.
#include "gdi.h"
#include "winapp.h"

BOOL CGdiObject::Attach(HGDIOBJ object) {
  if (object == nullptr || m_hObject != nullptr) return FALSE;
  m_hObject = object;
  return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
  HGDIOBJ object = m_hObject;
  m_hObject = nullptr;
  return object;
}

BOOL CGdiObject::DeleteObject() {
  if (m_hObject == nullptr) return FALSE;
  return ::DeleteObject(Detach());
}

BOOL CBitmap::LoadBitmap(UINT resourceId) {
  return Attach(::LoadBitmapW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(resourceId)));
}

int CBitmap::GetBitmap(BITMAP* bitmap) const {
  return ::GetObjectW(m_hObject, sizeof(BITMAP), bitmap);
}

HGDIOBJ CDC::SelectObject(CGdiObject* object) {
  return ::SelectObject(m_hDC, object->GetSafeHandle());
}

BOOL CDC::DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd->GetSafeHwnd()) {
  m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
