// How administrator records travel inside events, shared by the operations of every
// generation. Inner to the library.
//
// Account record:    ZELString name, ZELString authority, uint32 attribute1, uint32 attribute2,
//                    uint32 n, n × uint32 raw (only when n > 0)
// Capability record: uint64 objectUID, uint32 n, n × uint32 raw (only when n > 0)
//
// Readers never trust a count: one whose values could not fit in what the reply still holds
// is a short reply, found before anything is allocated.
#pragma once

#include <cstdint>

#include "zel/admintool/allocation.h"
#include "zel/admintool/result_codes.h"
#include "zel/admintool/admin_records.h"
#include "zel/admintool/exceptions.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/reader.h"

namespace zel::admins {

// The least an account or capability record takes on the wire.
inline constexpr uint64_t kMinAccountRecord = 4 + 4 + 4 + 4 + 4;
inline constexpr uint64_t kMinCapabilityRecord = 8 + 4;

// Throws a short read when `count` items of at least `each` bytes cannot fit in what remains.
inline void EnsureRoom(const ZEL_BUF_BufferReader& reader, uint32_t count, uint64_t each) {
  if (static_cast<uint64_t>(count) * each > reader.GetRemaining()) {
    throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kShort);
  }
}

// Appends raw bytes; a failure is a failed write like any other.
inline void AppendRaw(ZEL_BUF_EventBuffer& event, const void* bytes, uint32_t length) {
  const int32_t appended = event.AppendData(bytes, length);
  if (appended < 0) throw ZEL_BUF_AppendException(appended);
}

// Reads a raw block of `count` values into a new plain array in *out; answers what ReadData
// answers. No storage throws the library's bad_alloc.
template <typename T>
int32_t ReadPlainArray(ZEL_BUF_BufferReader& reader, uint32_t count, T** out) {
  EnsureRoom(reader, count, sizeof(T));
  *out = zel::sal::AllocatePlainArray<T>(count);
  if (*out == nullptr) throw ::bad_alloc();
  return reader.ReadData(*out, count * static_cast<uint32_t>(sizeof(T)));
}

// A new array of `count` records; a count that cannot fit is a short read, no storage throws
// the library's bad_alloc.
template <typename T>
T* NewRecordArray(const ZEL_BUF_BufferReader& reader, uint32_t count, uint64_t minEach) {
  EnsureRoom(reader, count, minEach);
  T* array = zel::sal::NewArray<T>(count);
  if (array == nullptr) throw ::bad_alloc();
  return array;
}

inline void WriteAccountRecord(ZEL_BUF_EventBuffer& event, const ZEL_ADMIN_USERINFO& user) {
  event << user.accountName << user.accountAuthority << user.attribute1 << user.attribute2
        << user.privilegeCount;
  if (user.privilegeCount != 0) {
    AppendRaw(event, user.privileges, user.privilegeCount * 4);
  }
}

inline void ReadAccountRecord(ZEL_BUF_BufferReader& reader, ZEL_ADMIN_USERINFO& user) {
  reader >> user.accountName >> user.accountAuthority >> user.attribute1 >> user.attribute2 >>
      user.privilegeCount;
  if (user.privilegeCount != 0) ReadPlainArray(reader, user.privilegeCount, &user.privileges);
}

// --- Third-version forms -------------------------------------------------------------------
// Privilege block: uint32 n, n × uint32 raw. Folder entry: uint64 folder, uint32 n, n × uint32
// raw. Folder list: uint32 count, count folder entries. Contact record: three ZELStrings.

inline constexpr uint64_t kMinFolderEntry = 8 + 4;
// An enumerated administrator: two strings, two attributes, a privilege block, a UID, a folder
// list and a contact record, each at their smallest.
inline constexpr uint64_t kMinAdministrator2 = 4 + 4 + 4 + 4 + 4 + 8 + 4 + 3 * 4;

// These writers answer a negative AppendData code as it comes (0 on success); the operators
// throw ZEL_BUF_AppendException as usual.
inline int32_t WritePrivilegeBlock(ZEL_BUF_EventBuffer& event, uint32_t count,
                                   const uint32_t* values) {
  event << count;
  return count != 0 ? event.AppendData(values, count * 4) : 0;
}

// Also answers 0x80060009 for a list that claims folders it does not hold.
inline int32_t WriteFolderList(ZEL_BUF_EventBuffer& event, const AllowedFolders& list) {
  event << list.folderCount;
  if (list.folderCount != 0 && list.folders == nullptr) return ZEL_E_WRITE_FAILED;
  for (uint32_t i = 0; i < list.folderCount; ++i) {
    const FolderPermissions& folder = list.folders[i];
    event << folder.folderUID << folder.taskCount;
    if (folder.taskCount != 0) {
      const int32_t appended = event.AppendData(folder.tasks, folder.taskCount * 4);
      if (appended < 0) return appended;
    }
  }
  return 0;
}

inline void WriteContact(ZEL_BUF_EventBuffer& event, const ZEL_ADMIN_CONTACTINFO& contact) {
  event << contact.contact1 << contact.contact2 << contact.contact3;
}

inline void ReadContact(ZEL_BUF_BufferReader& reader, ZEL_ADMIN_CONTACTINFO& contact) {
  reader >> contact.contact1 >> contact.contact2 >> contact.contact3;
}

inline void ReadPrivilegeBlock(ZEL_BUF_BufferReader& reader, ZEL_ADMIN_USERINFO& user) {
  reader >> user.privilegeCount;
  if (user.privilegeCount != 0) ReadPlainArray(reader, user.privilegeCount, &user.privileges);
}

// Reads a folder list into an empty set: the folders array and every entry's tasks.
inline void ReadFolderList(ZEL_BUF_BufferReader& reader, AllowedFolders& list) {
  uint32_t count = 0;
  reader >> count;
  if (count == 0) return;
  list.folders = NewRecordArray<FolderPermissions>(reader, count, kMinFolderEntry);
  list.folderCount = count;
  for (uint32_t i = 0; i < count; ++i) {
    FolderPermissions& folder = list.folders[i];
    reader >> folder.folderUID >> folder.taskCount;
    if (folder.taskCount != 0) ReadPlainArray(reader, folder.taskCount, &folder.tasks);
  }
}

}  // namespace zel::admins
