// Posting the tree notifications (their forms are in zel/admintool/protocol/tree_forms.h).
// Inner to the library.
#pragma once

#include <cstdint>

#include "zel/admintool/protocol/tree_forms.h"
#include "zel/admintool/result_codes.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/pif.h"

namespace zel::tree {

using namespace zel::admintool;  // the tree forms

// Writes `write(event)` into a built notification and posts it. A null event (it could not be
// built) is skipped: 0. A failed append destroys the event: 0x80060009. Otherwise the
// dispatcher's answer; the event is the dispatcher's whatever it answers.
template <typename Write>
int32_t PostNotification(ZEL_PIF_EventDispatcher* dispatcher, ZEL_BUF_EventBuffer* event,
                         Write&& write) {
  if (event == nullptr) return 0;
  try {
    write(*event);
  } catch (const ZEL_BUF_AppendException&) {
    delete event;
    return ZEL_E_WRITE_FAILED;
  }
  if (dispatcher == nullptr) {
    delete event;
    return ZEL_E_NO_DISPATCHER;
  }
  return dispatcher->PostEvent(event);
}

}  // namespace zel::tree
