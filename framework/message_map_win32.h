// Message-map entries for windows: the handler signatures the window procedure knows how to
// call, and the ON_... macros that fill a BEGIN_MESSAGE_MAP table with them.
#pragma once
#include "cmdtarget.h"

class CDC;
class CWnd;

// The 16-bit control-colour message. One map entry under this number answers all the
// WM_CTLCOLOR* messages; the handler gets the kind (CTLCOLOR_BTN, ...) as its third argument.
const UINT kCtlColorMessage = 0x0019;

// How the window procedure calls an entry's handler and turns its result into an LRESULT.
enum MessageSignature {
  kSigCommand,        // void ()                       WM_COMMAND with a notification code and id
  kSigVoid,           // void ()                       WM_PAINT, WM_NCPAINT; result 0
  kSigQueryDragIcon,  // HCURSOR ()                    WM_QUERYDRAGICON
  kSigTimer,          // void (UINT_PTR id)            WM_TIMER
  kSigMessage,        // LRESULT (WPARAM, LPARAM)      any message, arguments as they come
  kSigCtlColor,       // HBRUSH (CDC*, CWnd*, UINT)    every WM_CTLCOLOR* message
  kSigNcActivate,     // BOOL (BOOL active)            WM_NCACTIVATE
  kSigActivate,       // void (UINT state, CWnd* other, BOOL minimized)  WM_ACTIVATE
};

// The handler is checked against its signature here, then stored as the root member pointer
// type; the window procedure casts it back to exactly this type before calling it.
#define ZARN_HANDLER(type, memberFxn) \
  reinterpret_cast<MessageHandler>(static_cast<type>(memberFxn))

#define ON_COMMAND(id, memberFxn) \
  {WM_COMMAND, 0, (UINT)(id), kSigCommand, ZARN_HANDLER(void (CCmdTarget::*)(), memberFxn)},

#define ON_BN_CLICKED(id, memberFxn)                 \
  {WM_COMMAND, BN_CLICKED, (UINT)(id), kSigCommand, \
   ZARN_HANDLER(void (CCmdTarget::*)(), memberFxn)},

#define ON_MESSAGE(message, memberFxn)   \
  {(UINT)(message), 0, 0, kSigMessage, \
   ZARN_HANDLER(LRESULT (CCmdTarget::*)(WPARAM, LPARAM), memberFxn)},

#define ON_WM_PAINT() \
  {WM_PAINT, 0, 0, kSigVoid, ZARN_HANDLER(void (CCmdTarget::*)(), &ThisClass::OnPaint)},

#define ON_WM_NCPAINT() \
  {WM_NCPAINT, 0, 0, kSigVoid, ZARN_HANDLER(void (CCmdTarget::*)(), &ThisClass::OnNcPaint)},

#define ON_WM_QUERYDRAGICON()                 \
  {WM_QUERYDRAGICON, 0, 0, kSigQueryDragIcon, \
   ZARN_HANDLER(HCURSOR (CCmdTarget::*)(), &ThisClass::OnQueryDragIcon)},

#define ON_WM_TIMER() \
  {WM_TIMER, 0, 0, kSigTimer, ZARN_HANDLER(void (CCmdTarget::*)(UINT_PTR), &ThisClass::OnTimer)},

#define ON_WM_CTLCOLOR()                     \
  {kCtlColorMessage, 0, 0, kSigCtlColor,     \
   ZARN_HANDLER(HBRUSH (CCmdTarget::*)(CDC*, CWnd*, UINT), &ThisClass::OnCtlColor)},

#define ON_WM_NCACTIVATE()               \
  {WM_NCACTIVATE, 0, 0, kSigNcActivate, \
   ZARN_HANDLER(BOOL (CCmdTarget::*)(BOOL), &ThisClass::OnNcActivate)},

#define ON_WM_ACTIVATE()               \
  {WM_ACTIVATE, 0, 0, kSigActivate,    \
   ZARN_HANDLER(void (CCmdTarget::*)(UINT, CWnd*, BOOL), &ThisClass::OnActivate)},
