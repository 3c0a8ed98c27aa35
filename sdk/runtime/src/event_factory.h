// Creation of events for the runtime's own factories, through the event hooks.
#pragma once

#include <cstdint>

#include "zel/runtime/buffers.h"

namespace zel::rt {

// A new event, or null when none can be had or the installed hooks refuse it.
ZEL_BUF_EventBuffer2* NewEvent(uint16_t eventID, ZELVersion version, uint32_t sizeHint,
                               uint32_t interfaceLevel);

}  // namespace zel::rt
