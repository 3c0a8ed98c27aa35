// Administrator records: accounts and their privileges, contact data, capabilities on objects,
// and the folders an administrator may act on. Fields are public; each record owns the storage
// its pointer fields name, and copies never share storage. Storage comes through the library's
// allocation facility; where it cannot be had the records say so as their operations describe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "zel/admintool/export.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/strings.h"

class ZEL_ADMINSAL_API ZEL_ADMIN_USERINFO {
 public:
  ZEL_ADMIN_USERINFO() noexcept = default;
  ZEL_ADMIN_USERINFO(const ZEL_ADMIN_USERINFO& other);
  ZEL_ADMIN_USERINFO& operator=(const ZEL_ADMIN_USERINFO& other);
  ~ZEL_ADMIN_USERINFO();

  // Names the account, sets the attributes and obtains room for `count` privileges (left for
  // the caller to write). 0, or 0x80000002 without storage (then no privileges).
  int32_t Init(ZELString first, ZELString second, uint32_t attr1, uint32_t attr2, uint32_t count);
  // Replaces the privileges with `count` values, reusing the storage when they fit.
  int32_t ReplacePrivs(uint32_t count, const uint32_t* values);
  // Appends one privilege, growing by 100 slots and always keeping one free.
  int32_t AddOnePriv(uint32_t value);

  ZELString accountName;
  ZELString accountAuthority;
  uint32_t attribute1 = 0;
  uint32_t attribute2 = 0;
  uint32_t privilegeCount = 0;
  uint32_t* privileges = nullptr;
  uint32_t privilegeCapacity = 0;  // 0: treat the storage as full

 protected:
  void copyFrom(const ZEL_ADMIN_USERINFO& other);
  void releasePrivileges();
};

// The tasks allowed on one folder.
class ZEL_ADMINSAL_API FolderPermissions {
 public:
  FolderPermissions() noexcept = default;
  // Copies count tasks; without storage for them the record has none.
  FolderPermissions(uint32_t count, const uint32_t* taskValues, uint64_t folder);
  FolderPermissions(const FolderPermissions& other);
  FolderPermissions& operator=(const FolderPermissions& other);
  ~FolderPermissions();

  int32_t ReplaceTasks(uint32_t count, const uint32_t* taskValues);
  // Takes other's contents over, leaving it empty (moves records within a set).
  void TakeFrom(FolderPermissions& other) noexcept;

  uint32_t taskCount = 0;
  uint32_t* tasks = nullptr;
  uint64_t folderUID = 0;
};

// A set of FolderPermissions, at most one per folder when built with +=. One handed to a caller
// on its own (GetPermissionsForCurrentUser) is released with delete.
class ZEL_ADMINSAL_API AllowedFolders : public zel::rt::SeamAllocated {
 public:
  AllowedFolders() noexcept = default;
  // Adopts `list`, an array of `count` records from the library's array form.
  AllowedFolders(uint32_t count, FolderPermissions* list);
  AllowedFolders(const AllowedFolders& other);
  AllowedFolders& operator=(const AllowedFolders& other);
  ~AllowedFolders();

  // Adds the record, or replaces the record of its folder whole.
  AllowedFolders& operator+=(const FolderPermissions* record);
  // Adds a folder without tasks, unless it is there already.
  AllowedFolders& operator+=(uint64_t folder);
  AllowedFolders& operator-=(const FolderPermissions* record);
  AllowedFolders& operator-=(uint64_t folder);
  // 1 when the folder is in the set (and *out points at its record), else 0.
  uint8_t InList(uint64_t folder, FolderPermissions** out);
  uint8_t InList(const FolderPermissions* record);

  FolderPermissions* folders = nullptr;
  uint32_t folderCount = 0;

 private:
  int32_t indexOf(uint64_t folder) const;
  // A new array of one more record, the existing ones moved into it; false without storage.
  bool growByOne();
  void release();
};

class ZEL_ADMINSAL_API ZEL_ADMIN_USERINFO2 : public ZEL_ADMIN_USERINFO {
 public:
  ZEL_ADMIN_USERINFO2() noexcept = default;
  ZEL_ADMIN_USERINFO2(const ZEL_ADMIN_USERINFO2& other);
  ZEL_ADMIN_USERINFO2& operator=(const ZEL_ADMIN_USERINFO2& other);
  ~ZEL_ADMIN_USERINFO2();

  AllowedFolders allowedFolders;
  uint64_t adminUID = 0;
};

class ZEL_ADMINSAL_API ZEL_ADMIN_CONTACTINFO {
 public:
  ZEL_ADMIN_CONTACTINFO() noexcept = default;
  ZEL_ADMIN_CONTACTINFO(const ZEL_ADMIN_CONTACTINFO& other) = default;
  ZEL_ADMIN_CONTACTINFO& operator=(ZEL_ADMIN_CONTACTINFO& other) {
    contact1 = other.contact1;
    contact2 = other.contact2;
    contact3 = other.contact3;
    return *this;
  }
  ~ZEL_ADMIN_CONTACTINFO() = default;

  ZELString contact1;
  ZELString contact2;
  ZELString contact3;
};

// The administrator accounts of a logon ticket: a plain structure from the library's plain
// allocation, released (its UID array first) with FreeMemory kind 1.
struct _VoAdminAccounts {
  uint32_t accountCount;
  uint64_t* accountUIDs;
  uint32_t value1;
  uint32_t value2;
  uint32_t value3;
  uint32_t value4;
};

// The privileges held on one object. Arrays of them are made with new[] and released with
// delete[] (the class's own array forms take the storage through the allocation seam), so a
// caller that was handed an array releases it with delete[]; FreeCapabilities does the same.
class ZEL_ADMINSAL_API AdminObjectCapability {
 public:
  static void* operator new[](std::size_t size);
  static void* operator new[](std::size_t size, const std::nothrow_t&) noexcept;
  static void operator delete[](void* block) noexcept;
  static void operator delete[](void* block, const std::nothrow_t&) noexcept;

  AdminObjectCapability() noexcept = default;
  AdminObjectCapability(const AdminObjectCapability&) = delete;
  AdminObjectCapability& operator=(const AdminObjectCapability& other);
  ~AdminObjectCapability();

  // Sets the object and obtains room for `count` privileges (left for the caller to write).
  int32_t Init(uint64_t object, uint32_t count);

  uint64_t objectUID = 0;
  uint32_t privilegeCount = 0;
  uint32_t* privileges = nullptr;
};
