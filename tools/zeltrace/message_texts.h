// The texts of the library's trace messages. They live here, with the tool that reads traces;
// the library itself holds none.
#pragma once

#include <cstdint>

#include "zel/admintool/trace_messages.h"

namespace zeltrace {

// The text of a message, or null when the tool knows none.
const char* MessageText(zel::trace::Module module, uint16_t number);
// The kinds of a message's arguments, one letter each ('u' uint32, 'q' uint64, 's' string), or
// null when the tool knows none.
const char* ArgumentKinds(zel::trace::Module module, uint16_t number);
// The module a message GUID names; false when it names none of the library's.
bool ModuleOf(const zel::trace::Guid& guid, zel::trace::Module* module);

}  // namespace zeltrace
