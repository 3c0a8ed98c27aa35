// Result codes of the directory component. 0 is success.
#pragma once

#include <cstdint>

namespace zel::dir {

// An entry that is added already exists (a success-side answer, not an error).
inline constexpr int32_t kEntryExists = 5;
// The entry to delete does not exist.
inline constexpr int32_t kNoSuchEntry = static_cast<int32_t>(0x8006000Du);
// There are no more values or matches.
inline constexpr int32_t kNoMore = static_cast<int32_t>(0x80060015u);
// The host names no store location.
inline constexpr int32_t kNoStore = static_cast<int32_t>(0x80030001u);
// The store could not be opened, read or written.
inline constexpr int32_t kStoreError = static_cast<int32_t>(0x80030002u);
// No context has that name (or DN).
inline constexpr int32_t kNoSuchContext = static_cast<int32_t>(0x80030003u);
// A context of that name exists with another DN.
inline constexpr int32_t kContextConflict = static_cast<int32_t>(0x80030004u);
// An argument is empty or out of range.
inline constexpr int32_t kInvalidArgument = static_cast<int32_t>(0x80030005u);
// A value does not fit the room given for it.
inline constexpr int32_t kValueTooLarge = static_cast<int32_t>(0x80030006u);
// No storage could be had.
inline constexpr int32_t kNoMemory = static_cast<int32_t>(0x80030007u);
// The search scope or filter is not one the directory answers.
inline constexpr int32_t kUnsupportedSearch = static_cast<int32_t>(0x80030008u);
// The store is newer than this program (written by a later schema version); it is left as it is.
inline constexpr int32_t kStoreNewer = static_cast<int32_t>(0x80030009u);
// The store is read-only: it can be read, not written.
inline constexpr int32_t kStoreReadOnly = static_cast<int32_t>(0x8003000Au);
// A DN is malformed: a backslash in it escapes neither '/' nor '\'.
inline constexpr int32_t kMalformedName = static_cast<int32_t>(0x8003000Bu);
// A DN of one component beginning with '@' is the directory's to give (to entries added with an
// empty DN); an entry cannot be added there.
inline constexpr int32_t kReservedName = static_cast<int32_t>(0x8003000Cu);
// A text value ("css") holds a NUL before its end; the entry is not written.
inline constexpr int32_t kInvalidValue = static_cast<int32_t>(0x8003000Du);
// The store location's backend does not do this: a transaction scope over "farm:" or LDAP, where
// every write is a request of its own; an LDAP location in a build without the LDAP backend.
inline constexpr int32_t kNotSupported = static_cast<int32_t>(0x8003000Eu);
// The farm server's reply to a "farm:" operation does not read as that operation's reply.
inline constexpr int32_t kBadReply = static_cast<int32_t>(0x8003000Fu);
// The directory server of an LDAP location cannot be reached (not running, or it went away
// during the request; the next operation connects again).
inline constexpr int32_t kServerUnreachable = static_cast<int32_t>(0x80030010u);
// The directory server refused the location's credentials (bind DN and password, or SASL
// EXTERNAL), or the password file cannot be read.
inline constexpr int32_t kCredentialsRefused = static_cast<int32_t>(0x80030011u);
// The directory server lacks the directory's schema (share/ldap/zeladminsal.schema).
inline constexpr int32_t kSchemaMissing = static_cast<int32_t>(0x80030012u);
// No entry is at the base DN of the LDAP location.
inline constexpr int32_t kBaseMissing = static_cast<int32_t>(0x80030013u);
// No value of the attribute equals the one to delete.
inline constexpr int32_t kNoSuchValue = static_cast<int32_t>(0x80030014u);

}  // namespace zel::dir
