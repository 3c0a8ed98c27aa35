// An administrator as a directory entry, and the binary forms of its list attributes.
//
//   privileges = n x uint32                               (the value's size is 4n)
//   folders    = count:uint32, count x folder
//   folder     = uid:uint64 taskCount:uint32 taskCount x task:uint32
//
// little-endian. Text attributes are "css" values (UTF-16 with a terminator); attribute1 and
// attribute2 are "uint32" values, so the directory's filters see them as 8 hex digits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zel/directory/entry.h"
#include "zel/subsystem/admin_store.h"

namespace zel::subsystem {

inline constexpr const char16_t* kAdministratorClass = u"zelAdministrator";
inline constexpr const char16_t* kDefaultUserClass = u"zelDefaultUser";
inline constexpr const char16_t* kAccountNameAttribute = u"accountName";

std::vector<uint8_t> EncodePrivileges(const std::vector<uint32_t>& privileges);
// None when the size is not a multiple of 4.
std::optional<std::vector<uint32_t>> DecodePrivileges(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> EncodeFolders(const std::vector<FolderGrant>& folders);
// None for bytes that are short, hold counts they cannot, or go on after the last folder.
std::optional<std::vector<FolderGrant>> DecodeFolders(const std::vector<uint8_t>& bytes);

// The DN of an administrator's entry within the context: its account's text form, one
// component.
ZELString AdministratorDN(const Account& account);

class AdministratorEntry : public ZEL_DIR_Entry {
 public:
  AdministratorEntry(ZEL_DIR_ServiceInterface* service, const Account& account, uint32_t context)
      : ZEL_DIR_Entry(service, AdministratorDN(account), context, kAdministratorClass, 0) {}
  AdministratorEntry(ZEL_DIR_ServiceInterface* service, uint64_t uid)
      : ZEL_DIR_Entry(service, uid, kAdministratorClass) {}
  // For search results.
  AdministratorEntry(ZEL_DIR_ServiceInterface* service, uint32_t context)
      : ZEL_DIR_Entry(service, ZELString(), context, kAdministratorClass, 0) {}

  int32_t DataMapHandler(uint8_t direction) override;

  Administrator admin;
  // A stored list attribute that did not decode (set by a load).
  bool damaged = false;
};

class DefaultUserEntry : public ZEL_DIR_Entry {
 public:
  DefaultUserEntry(ZEL_DIR_ServiceInterface* service, uint32_t context);
  int32_t DataMapHandler(uint8_t direction) override;

  DefaultUser user;
};

}  // namespace zel::subsystem
