// Result codes of the host runtime. Zero or positive is success, negative is failure.
// The runtime's own failures use the 0x8001xxxx range so that they never collide with the
// codes of the libraries built on it.
#pragma once

#include <cstdint>

namespace zel::rt {

inline constexpr int32_t kOk = 0;
// Storage could not be obtained (real or injected allocation failure).
inline constexpr int32_t kNoMemory = static_cast<int32_t>(0x80010001u);
// An append would take the event past its maximum size.
inline constexpr int32_t kEventTooLarge = static_cast<int32_t>(0x80010002u);
// No subsystem is registered under the destination UID of an event.
inline constexpr int32_t kNoSuchSubsystem = static_cast<int32_t>(0x80010003u);
// The host subsystem offers no way to send events.
inline constexpr int32_t kNoTransport = static_cast<int32_t>(0x80010004u);
// An argument is null or out of range.
inline constexpr int32_t kInvalidArgument = static_cast<int32_t>(0x80010005u);
// A plug-in API table has no interface under the requested number.
inline constexpr int32_t kNoSuchInterface = static_cast<int32_t>(0x80010006u);
// A request handler reported success but produced no reply.
inline constexpr int32_t kNoReply = static_cast<int32_t>(0x80010007u);
// The destination subsystem accepts no requests.
inline constexpr int32_t kNotAccepted = static_cast<int32_t>(0x80010008u);

}  // namespace zel::rt
