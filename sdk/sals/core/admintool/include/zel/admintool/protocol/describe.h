// Any event of the AdminTool protocol as named fields and a readable text, for the console's
// event monitor and for tools (which render JSON from the fields). The library's events (27 to
// 97) are described from the same message lists their writers and readers walk; events of ours
// (1000 up) by the protocol component. Secret fields (credential and password bytes, tickets)
// are marked and carry no value.
#pragma once

#include <cstdint>

#include "zel/admintool/export.h"
#include "zel/protocol/description.h"

namespace zel::admintool {

// The payload of event `eventID` travelling in `direction`. A reply's result comes first; its
// fields follow only when it is not negative. A payload that does not follow the grammar is
// described up to where reading stopped (parsed false, stoppedAt its offset). An unknown event,
// or one that has no message that way, is described without fields and with parsed false.
ZEL_ADMINSAL_API zel::protocol::EventDescription DescribeEvent(uint16_t eventID,
                                                               zel::protocol::Direction direction,
                                                               const uint8_t* payload,
                                                               uint32_t size);

// Blanks, in place, what a monitor must not see of the payload of event `eventID` travelling in
// `direction`, read by the same grammar as DescribeEvent: the contents of every secret field,
// and every byte after the last field read whole (the rest of a payload that does not follow
// the grammar, trailing bytes, all of an event without a message that way). The payload keeps
// its size and secret fields keep their counts, so it reads as the original did, secrets as
// zero bytes. Answers the bytes kept before the zeroed end: `size` when the whole payload
// followed the grammar.
ZEL_ADMINSAL_API uint32_t BlankSecrets(uint16_t eventID, zel::protocol::Direction direction,
                                       uint8_t* payload, uint32_t size);

}  // namespace zel::admintool
