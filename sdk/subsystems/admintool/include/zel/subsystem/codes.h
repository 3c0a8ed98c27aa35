// Result codes of the AdminTool subsystem: the first field of every reply it writes. 0 and
// positive are success; the subsystem's own failures are 0x8007xxxx, apart from the runtime's
// (0x8001xxxx), the user SAL's (0x8002xxxx), the directory's (0x8003xxxx, passed on as they
// come) and the library's (0x8000xxxx, 0x8006xxxx).
#pragma once

#include <cstdint>

namespace zel::subsystem {

inline constexpr int32_t kOk = 0;
// GetPermissionsForCurrentUser for the farm's owner: no folder limits (the list is empty).
inline constexpr int32_t kUnrestricted = 1;

// No handler for this event ID.
inline constexpr int32_t kNotSupported = static_cast<int32_t>(0x80070001u);
// The request does not parse: too short, malformed, a count it cannot hold, or bytes after its
// last field. Nothing was changed.
inline constexpr int32_t kMalformedRequest = static_cast<int32_t>(0x80070002u);
// The acting identity lacks the privilege the request needs (or is no administrator).
inline constexpr int32_t kAccessDenied = static_cast<int32_t>(0x80070003u);
// No administrator has that UID (or that account).
inline constexpr int32_t kNoSuchAdministrator = static_cast<int32_t>(0x80070004u);
// An account without a name, with an empty part, or that cannot be stored.
inline constexpr int32_t kInvalidAccount = static_cast<int32_t>(0x80070005u);
// A request that is well formed but asks for something the subsystem refuses (an empty UID
// list, a folder listed twice, more than the subsystem takes in one request).
inline constexpr int32_t kInvalidRequest = static_cast<int32_t>(0x80070006u);
// The reply does not fit in one event.
inline constexpr int32_t kReplyTooLarge = static_cast<int32_t>(0x80070007u);
// The caller is no administrator (GetPermissionsForCurrentUser).
inline constexpr int32_t kNotAdministrator = static_cast<int32_t>(0x80070008u);
// Something failed inside the subsystem (no storage, a stored record that does not read).
inline constexpr int32_t kInternalError = static_cast<int32_t>(0x80070009u);

// Credentials (0x800700 2x). A logon refused: no such name, no password set, or the wrong
// password; one code for all, so a caller never learns which.
inline constexpr int32_t kLogonRefused = static_cast<int32_t>(0x80070020u);
// Too many failed logons for this name from this peer: the password was not checked; try
// again after the delay (it doubles with each failure, up to 15 minutes).
inline constexpr int32_t kLogonSlowed = static_cast<int32_t>(0x80070021u);
// The ticket is not one this farm issued, was changed, or has expired (the caller is not told
// which).
inline constexpr int32_t kTicketInvalid = static_cast<int32_t>(0x80070022u);
// The farm has no ticket key: no ticket can be issued or checked.
inline constexpr int32_t kNoFarmKeys = static_cast<int32_t>(0x80070023u);

// Its text, for logs and tools ("" for a code that is not the subsystem's).
const char* CodeText(int32_t code);

}  // namespace zel::subsystem
