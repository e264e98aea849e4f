// Common-control wrappers: one message each.
#include "controls.h"
#include <commctrl.h>

void CProgressCtrl::SetRange(short lower, short upper) {
  SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
}

int CProgressCtrl::SetPos(int position) {
  return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(position)));
}
