// Wrappers for the common controls that dialogs bind to members.
#pragma once
#include "wnd.h"

class CProgressCtrl : public CWnd {
public:
  void SetRange(short lower, short upper);
  int SetPos(int position);  // returns the previous position
};
