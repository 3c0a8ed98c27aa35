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

// Failures of the transport between a console and its farm server.
// Nothing answers at the farm's address (no such socket file, connection refused, host
// unreachable): the server is not running there.
inline constexpr int32_t kServerGone = static_cast<int32_t>(0x80010009u);
// The connection broke while the call was under way; whether the server acted on the request is
// unknown. The next call connects again.
inline constexpr int32_t kConnectionBroken = static_cast<int32_t>(0x8001000Au);
// No answer came within the configured timeout (connecting, or waiting for a reply).
inline constexpr int32_t kTimeout = static_cast<int32_t>(0x8001000Bu);
// The other end refused: too many connections or requests in flight, a certificate it does not
// accept or map, a privilege it does not grant, an address kind it does not allow.
inline constexpr int32_t kRefused = static_cast<int32_t>(0x8001000Cu);
// The other end speaks a protocol whose major version differs from ours.
inline constexpr int32_t kVersionMismatch = static_cast<int32_t>(0x8001000Du);

}  // namespace zel::rt
