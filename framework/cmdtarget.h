// The root of the class tree (CObject, CCmdTarget) and the message map that command targets
// declare. Portable: the loader's classes derive from it on every platform.
#pragma once
#include "platform_types.h"

class CCmdTarget;

// A handler is stored as a member pointer of the root class and called through the signature
// recorded beside it; the dispatcher casts it back before the call.
typedef void (CCmdTarget::*MessageHandler)();

struct MessageMapEntry {
  UINT message;    // window message, 0 ends the table
  UINT code;       // notification code for WM_COMMAND entries
  UINT id;         // control id for WM_COMMAND entries
  int signature;   // how to call the handler (see message_map_win32.h)
  MessageHandler handler;
};

struct MessageMap {
  const MessageMap* (*base)();  // the base class's map, null at the root
  const MessageMapEntry* entries;
};

class CObject {
public:
  virtual ~CObject() {}
protected:
  CObject() {}
private:
  CObject(const CObject&) = delete;
  CObject& operator=(const CObject&) = delete;
};

class CCmdTarget : public CObject {
public:
  virtual const MessageMap* GetMessageMap() const;
  static const MessageMap* GetThisMessageMap();
};

#define DECLARE_MESSAGE_MAP()                                        \
 protected:                                                          \
  static const MessageMap* GetThisMessageMap();                      \
  const MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                 \
  const MessageMap* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const MessageMap* theClass::GetThisMessageMap() {                            \
    typedef theClass ThisClass;                                                \
    typedef baseClass TheBaseClass;                                            \
    (void)sizeof(ThisClass);                                                   \
    static const MessageMapEntry entries[] = {

#define END_MESSAGE_MAP()                                                      \
      {0, 0, 0, 0, nullptr}};                                                  \
    static const MessageMap map = {&TheBaseClass::GetThisMessageMap, entries}; \
    return &map;                                                               \
  }
