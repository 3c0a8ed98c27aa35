#include "zel/admintool/admin_records.h"

#include <cstring>
#include <utility>

#include "zel/admintool/allocation.h"
#include "zel/admintool/result_codes.h"

namespace {

using zel::sal::AllocatePlainArray;
using zel::sal::ReleasePlain;

// A new copy of `count` values, or null when there are none or no storage.
uint32_t* CopyOf(const uint32_t* values, uint32_t count) {
  if (count == 0 || values == nullptr) return nullptr;
  uint32_t* copy = AllocatePlainArray<uint32_t>(count);
  if (copy != nullptr) std::memcpy(copy, values, count * sizeof(uint32_t));
  return copy;
}

constexpr uint32_t kPrivilegeGrowth = 100;

}  // namespace

// --- ZEL_ADMIN_USERINFO ------------------------------------------------------------------------

ZEL_ADMIN_USERINFO::ZEL_ADMIN_USERINFO(const ZEL_ADMIN_USERINFO& other) { copyFrom(other); }

ZEL_ADMIN_USERINFO& ZEL_ADMIN_USERINFO::operator=(const ZEL_ADMIN_USERINFO& other) {
  if (&other != this) copyFrom(other);
  return *this;
}

ZEL_ADMIN_USERINFO::~ZEL_ADMIN_USERINFO() { releasePrivileges(); }

void ZEL_ADMIN_USERINFO::releasePrivileges() {
  ReleasePlain(privileges);
  privileges = nullptr;
  privilegeCapacity = 0;
}

void ZEL_ADMIN_USERINFO::copyFrom(const ZEL_ADMIN_USERINFO& other) {
  accountName = other.accountName;
  accountAuthority = other.accountAuthority;
  attribute1 = other.attribute1;
  attribute2 = other.attribute2;
  releasePrivileges();
  privileges = CopyOf(other.privileges, other.privilegeCount);
  privilegeCount = privileges != nullptr ? other.privilegeCount : 0;
  privilegeCapacity = privilegeCount;
}

int32_t ZEL_ADMIN_USERINFO::Init(ZELString first, ZELString second, uint32_t attr1, uint32_t attr2,
                                 uint32_t count) {
  accountName = first;
  accountAuthority = second;
  attribute1 = attr1;
  attribute2 = attr2;
  privilegeCount = count;
  if (count == 0) return 0;
  privileges = AllocatePlainArray<uint32_t>(count);
  if (privileges == nullptr) {
    privilegeCount = 0;
    return ZEL_E_NO_EVENT;
  }
  privilegeCapacity = count;
  return 0;
}

int32_t ZEL_ADMIN_USERINFO::ReplacePrivs(uint32_t count, const uint32_t* values) {
  if (count > privilegeCapacity) {
    releasePrivileges();
    privileges = AllocatePlainArray<uint32_t>(count);
    if (privileges == nullptr) {
      privilegeCount = 0;
      return ZEL_E_NO_EVENT;
    }
    privilegeCapacity = count;
  }
  privilegeCount = count;
  if (count != 0 && privileges != nullptr && values != nullptr) {
    std::memcpy(privileges, values, count * sizeof(uint32_t));
  }
  return 0;
}

int32_t ZEL_ADMIN_USERINFO::AddOnePriv(uint32_t value) {
  if (privilegeCount + 1 >= privilegeCapacity) {
    const uint32_t capacity = privilegeCount + kPrivilegeGrowth;
    uint32_t* grown = AllocatePlainArray<uint32_t>(capacity);
    if (grown == nullptr) return ZEL_E_NO_EVENT;  // the record is unchanged
    if (privilegeCount != 0) std::memcpy(grown, privileges, privilegeCount * sizeof(uint32_t));
    ReleasePlain(privileges);
    privileges = grown;
    privilegeCapacity = capacity;
  }
  privileges[privilegeCount++] = value;
  return 0;
}

// --- ZEL_ADMIN_USERINFO2 -----------------------------------------------------------------------

ZEL_ADMIN_USERINFO2::ZEL_ADMIN_USERINFO2(const ZEL_ADMIN_USERINFO2& other)
    : ZEL_ADMIN_USERINFO(other), allowedFolders(other.allowedFolders), adminUID(other.adminUID) {}

ZEL_ADMIN_USERINFO2& ZEL_ADMIN_USERINFO2::operator=(const ZEL_ADMIN_USERINFO2& other) {
  if (&other == this) return *this;
  ZEL_ADMIN_USERINFO::operator=(other);
  allowedFolders = other.allowedFolders;
  adminUID = other.adminUID;
  return *this;
}

ZEL_ADMIN_USERINFO2::~ZEL_ADMIN_USERINFO2() = default;

// --- AdminObjectCapability ---------------------------------------------------------------------

AdminObjectCapability& AdminObjectCapability::operator=(const AdminObjectCapability& other) {
  if (&other == this) return *this;
  ReleasePlain(privileges);
  objectUID = other.objectUID;
  privileges = CopyOf(other.privileges, other.privilegeCount);
  privilegeCount = privileges != nullptr ? other.privilegeCount : 0;
  return *this;
}

AdminObjectCapability::~AdminObjectCapability() { ReleasePlain(privileges); }

void* AdminObjectCapability::operator new[](std::size_t size) {
  void* block = zel::rt::Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* AdminObjectCapability::operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return zel::rt::Allocate(size);
}

void AdminObjectCapability::operator delete[](void* block) noexcept { zel::rt::Free(block); }

void AdminObjectCapability::operator delete[](void* block, const std::nothrow_t&) noexcept {
  zel::rt::Free(block);
}

int32_t AdminObjectCapability::Init(uint64_t object, uint32_t count) {
  objectUID = object;
  privilegeCount = count;
  if (count == 0) return 0;
  privileges = AllocatePlainArray<uint32_t>(count);
  if (privileges != nullptr) return 0;
  privilegeCount = 0;
  return ZEL_E_NO_EVENT;
}

// --- FolderPermissions -------------------------------------------------------------------------

FolderPermissions::FolderPermissions(uint32_t count, const uint32_t* taskValues, uint64_t folder)
    : tasks(CopyOf(taskValues, count)), folderUID(folder) {
  taskCount = tasks != nullptr ? count : 0;
}

FolderPermissions::FolderPermissions(const FolderPermissions& other)
    : tasks(CopyOf(other.tasks, other.taskCount)), folderUID(other.folderUID) {
  taskCount = tasks != nullptr ? other.taskCount : 0;
}

FolderPermissions& FolderPermissions::operator=(const FolderPermissions& other) {
  if (&other == this) return *this;
  ReleasePlain(tasks);
  folderUID = other.folderUID;
  tasks = CopyOf(other.tasks, other.taskCount);
  taskCount = tasks != nullptr ? other.taskCount : 0;
  return *this;
}

FolderPermissions::~FolderPermissions() {
  ReleasePlain(tasks);
  tasks = nullptr;
  taskCount = 0;
  folderUID = 0;
}

int32_t FolderPermissions::ReplaceTasks(uint32_t count, const uint32_t* taskValues) {
  ReleasePlain(tasks);
  tasks = nullptr;
  taskCount = 0;
  if (count == 0) return 0;
  tasks = CopyOf(taskValues, count);
  if (tasks == nullptr) return ZEL_E_NO_EVENT;
  taskCount = count;
  return 0;
}

void FolderPermissions::TakeFrom(FolderPermissions& other) noexcept {
  ReleasePlain(tasks);
  tasks = std::exchange(other.tasks, nullptr);
  taskCount = std::exchange(other.taskCount, 0);
  folderUID = std::exchange(other.folderUID, 0);
}

// --- AllowedFolders ----------------------------------------------------------------------------

AllowedFolders::AllowedFolders(uint32_t count, FolderPermissions* list)
    : folders(list), folderCount(count) {}

AllowedFolders::AllowedFolders(const AllowedFolders& other) : zel::rt::SeamAllocated() {
  *this = other;
}

AllowedFolders& AllowedFolders::operator=(const AllowedFolders& other) {
  if (&other == this) return *this;
  release();
  if (other.folderCount == 0) return *this;
  folders = zel::sal::NewArray<FolderPermissions>(other.folderCount);
  if (folders == nullptr) return *this;  // no storage: the set is empty
  folderCount = other.folderCount;
  for (uint32_t i = 0; i < folderCount; ++i) folders[i] = other.folders[i];
  return *this;
}

AllowedFolders::~AllowedFolders() { release(); }

void AllowedFolders::release() {
  zel::sal::DeleteArray(folders);
  folders = nullptr;
  folderCount = 0;
}

int32_t AllowedFolders::indexOf(uint64_t folder) const {
  for (uint32_t i = 0; i < folderCount; ++i) {
    if (folders[i].folderUID == folder) return static_cast<int32_t>(i);
  }
  return -1;
}

bool AllowedFolders::growByOne() {
  FolderPermissions* grown = zel::sal::NewArray<FolderPermissions>(folderCount + 1);
  if (grown == nullptr) return false;
  // The records move over: no task is copied, so growing cannot lose any.
  for (uint32_t i = 0; i < folderCount; ++i) grown[i].TakeFrom(folders[i]);
  zel::sal::DeleteArray(folders);
  folders = grown;
  ++folderCount;
  return true;
}

AllowedFolders& AllowedFolders::operator+=(const FolderPermissions* record) {
  if (record == nullptr) return *this;
  const int32_t at = indexOf(record->folderUID);
  if (at >= 0) {
    folders[at] = *record;
  } else if (growByOne()) {
    folders[folderCount - 1] = *record;
  }
  return *this;
}

AllowedFolders& AllowedFolders::operator+=(uint64_t folder) {
  if (folder == 0 || indexOf(folder) >= 0) return *this;
  if (growByOne()) folders[folderCount - 1].folderUID = folder;
  return *this;
}

AllowedFolders& AllowedFolders::operator-=(const FolderPermissions* record) {
  if (record == nullptr) return *this;
  return *this -= record->folderUID;
}

AllowedFolders& AllowedFolders::operator-=(uint64_t folder) {
  if (folder == 0) return *this;
  const int32_t at = indexOf(folder);
  if (at < 0) return *this;
  for (uint32_t i = static_cast<uint32_t>(at); i + 1 < folderCount; ++i) {
    folders[i].TakeFrom(folders[i + 1]);
  }
  --folderCount;
  folders[folderCount].ReplaceTasks(0, nullptr);  // the vacated slot: empty
  folders[folderCount].folderUID = 0;
  return *this;
}

uint8_t AllowedFolders::InList(uint64_t folder, FolderPermissions** out) {
  const int32_t at = indexOf(folder);
  if (at < 0) return 0;
  if (out != nullptr) *out = &folders[at];
  return 1;
}

uint8_t AllowedFolders::InList(const FolderPermissions* record) {
  return record != nullptr && indexOf(record->folderUID) >= 0 ? 1 : 0;
}
