// Tree objects in the object context: register, read, update, delete, read a group, collect a
// group's capabilities.
#include <cstring>
#include <memory>
#include <new>

#include "admintool/directory/capabilities.h"
#include "admintool/directory/entry_classes.h"
#include "admintool/trace/trace.h"
#include "zel/admintool/admin_records.h"
#include "zel/admintool/allocation.h"
#include "zel/admintool/zel_admintoolsal.h"
#include "zel/directory/codes.h"

using zel::directory::kCapabilities;
using zel::directory::kUInt32Code;
using zel::directory::kUInt32Type;

namespace zel::directory {

int32_t MergeCapabilityValues(uint32_t** storage, uint32_t* capacity, uint32_t* count,
                              const uint32_t* values, uint32_t valueCount) {
  const uint32_t present = *count;
  for (uint32_t i = 0; i < valueCount; ++i) {
    bool known = false;
    for (uint32_t j = 0; j < present && !known; ++j) known = (*storage)[j] == values[i];
    if (known) continue;
    if (*capacity <= *count) {
      const uint32_t grown = *capacity == 0 ? 1 : 2 * *capacity;
      uint32_t* larger = zel::sal::AllocatePlainArray<uint32_t>(grown);
      if (larger == nullptr) return ZEL_E_NO_EVENT;
      if (*count != 0) std::memcpy(larger, *storage, *count * sizeof(uint32_t));
      zel::sal::ReleasePlain(*storage);
      *storage = larger;
      *capacity = grown;
    }
    (*storage)[(*count)++] = values[i];
  }
  return 0;
}

}  // namespace zel::directory

int32_t ZEL_AdminToolSAL::bindObjects(bool traceFailure) {
  if (storeSal == nullptr) return ZEL_E_NO_EVENT;
  if (s_objCid != 0 || BindAdminToolObjectContext() == 0) return 0;
  if (traceFailure) ZEL_TRACE(kInfo, kObjectBindFailed, TraceNoData);
  return ZEL_E_FAIL;
}

int32_t ZEL_AdminToolSAL::RegisterObject(ZEL_AdminToolObject& object, bool notify) {
  if (const int32_t bound = bindObjects(true)) return bound;
  ZEL_ENTRY_ADMINTOOL_OBJECT entry(storeSal, ZELString(object.getDN()), s_objCid);
  entry.title = object.getTitle();
  entry.flags = static_cast<uint16_t>(object.getFlags());
  entry.subsystemID = object.getSSID();
  entry.iconUID = object.getIcon();
  entry.objectUID = object.getUID();
  int32_t answer = entry.Add();
  if (answer == zel::dir::kEntryExists) answer = entry.Update();
  if (answer != 0) {
    ZEL_TRACE(kInfo, kObjectRegisterFailed, TraceString, object.getDN());
    return answer;
  }
  if (notify) {
    ZELString parent(object.getParentDN());
    AddNode(parent, object);
  }
  return 0;
}

int32_t ZEL_AdminToolSAL::GetObjectW(ZEL_AdminToolObject& object) {
  if (const int32_t bound = bindObjects(true)) return bound;
  ZEL_ENTRY_ADMINTOOL_OBJECT entry(storeSal, ZELString(object.getDN()), s_objCid);
  if (entry.Sync() != 0) {
    ZEL_TRACE(kInfo, kObjectSyncFailed, TraceString, object.getDN());
    return ZEL_E_FAIL;
  }
  object.setTitle(entry.title.getName());
  object.setSSID(entry.subsystemID);
  object.setIcon(entry.iconUID);
  object.setFlags(static_cast<int16_t>(entry.flags));
  object.setUID(entry.objectUID);
  return 0;
}

int32_t ZEL_AdminToolSAL::DeleteObject(ZEL_AdminToolObject& object) {
  if (const int32_t bound = bindObjects(true)) return bound;
  ZEL_ENTRY_ADMINTOOL_OBJECT entry(storeSal, ZELString(object.getDN()), s_objCid);
  const int32_t answer = entry.DelEntry();
  if (answer != 0) {
    ZEL_TRACE(kInfo, kObjectDeleteFailed, TraceString, object.getDN());
    return answer;
  }
  ZELString parent(object.getParentDN());
  ZELString name(object.getName());
  DeleteNode(parent, name);  // always announced
  return 0;
}

int32_t ZEL_AdminToolSAL::UpdateObject(ZELString& dn, uint32_t count, uint32_t* values) {
  if (const int32_t bound = bindObjects(true)) return bound;
  ZEL_ENTRY_ADMINTOOL_OBJECT entry(storeSal, dn, s_objCid);
  if (const int32_t synced = entry.Sync()) return synced;
  if (count == 0) return 0;
  // One status through every step: the first directory failure is what the caller gets.
  uint32_t present = 0;
  int32_t status = entry.GetValueCount(kCapabilities, present);
  auto addAll = [&](const uint32_t* list, uint32_t n) {
    for (uint32_t i = 0; i < n && status == 0; ++i) {
      status = entry.AddValue(kCapabilities, kUInt32Type, kUInt32Code, list + i, 4);
    }
  };
  if (status == 0 && present == 0) {
    addAll(values, count);
  } else if (status == 0) {
    uint32_t capacity = present + count;
    uint32_t* storage = zel::sal::AllocatePlainArray<uint32_t>(capacity);
    if (storage == nullptr) return ZEL_E_NO_EVENT;  // the attribute is left as it was
    std::unique_ptr<uint32_t, void (*)(void*)> owned(storage, zel::sal::ReleasePlain);
    uint32_t held = 0, size = 4, type = 0;
    int32_t read = entry.GetFirstValue(kCapabilities, &storage[held], size, type);
    while (read == 0 && held < present) {
      ++held;
      size = 4;
      if (held < present) read = entry.GetNextValue(kCapabilities, &storage[held], size, type);
    }
    if (read != 0 && read != zel::dir::kNoMore) status = read;
    if (status == 0) {
      uint32_t* merged = owned.release();
      status = zel::directory::MergeCapabilityValues(&merged, &capacity, &held, values, count);
      owned.reset(merged);
      if (status < 0) {
        ZEL_TRACE(kInfo, kCapabilityMergeFailed, TraceUInt32, static_cast<uint32_t>(status));
        return status;
      }
    }
    if (status == 0) status = entry.DeleteAllValues(kCapabilities);
    addAll(owned.get(), held);
  }
  if (status == 0) status = entry.Update();
  return status;
}

int32_t ZEL_AdminToolSAL::ReadGroupFromDirectory(ZEL_AdminToolObject* group) {
  if (group == nullptr) return ZEL_E_FAIL;
  if (const int32_t bound = bindObjects(false)) return bound;
  ZEL_DIR_SearchHelper search(storeSal, ZEL_DIR_SearchHelper::kOneLevel, ZELString(group->getDN()),
                              s_objCid, ZELString(), ZELString(u"*"));
  uint32_t matches = 0;
  if (search.Search(matches) != 0) {
    ZEL_TRACE(kInfo, kGroupSearchFailed, TraceString, group->getDN());
    return ZEL_E_FAIL;
  }
  ZEL_ENTRY_ADMINTOOL_OBJECT entry(storeSal, ZELString(), s_objCid);
  ZELString name;
  for (int32_t walk = search.GetFirstEntry(name, entry); walk == 0;
       walk = search.GetNextEntry(name, entry)) {
    auto* child = new (std::nothrow) ZEL_AdminToolObject(group, name.getName());
    if (child == nullptr) return ZEL_E_NO_EVENT;  // the children made so far stay linked
    child->setTitle(entry.title.getName());
    child->setFlags(static_cast<int16_t>(entry.flags));
    child->setSSID(entry.subsystemID);
    child->setIcon(entry.iconUID);
    child->setUID(entry.objectUID);
  }
  return 0;  // the end of the walk is not an error
}

int32_t ZEL_AdminToolSAL::GetStaticGroupPermissionHelper(ZELString groupDN, uint32_t& count,
                                                         AdminObjectCapability** capabilities) {
  count = 0;
  if (const int32_t bound = bindObjects(false)) return bound;
  ZEL_DIR_SearchHelper search(storeSal, ZEL_DIR_SearchHelper::kOneLevel, groupDN, s_objCid,
                              ZELString(), ZELString(u"*"));
  uint32_t matches = 0;
  if (const int32_t searched = search.Search(matches)) return searched;
  if (matches == 0) return 0;
  auto* array = new (std::nothrow) AdminObjectCapability[matches];
  if (array == nullptr) return ZEL_E_NO_EVENT;
  *capabilities = array;
  ZEL_ENTRY_ADMINTOOL_OBJECT entry(storeSal, ZELString(), s_objCid);
  ZELString name;
  int32_t status = 0;
  int32_t walk = search.GetFirstEntry(name, entry);
  for (; walk == 0 && count < matches; walk = search.GetNextEntry(name, entry)) {
    uint32_t values = 0;
    status = entry.GetValueCount(kCapabilities, values);
    if (status != 0) break;
    AdminObjectCapability& capability = array[count];
    if (capability.Init(entry.objectUID, values) < 0) continue;  // the slot is reused
    for (uint32_t i = 0; status == 0 && i < values; ++i) {
      uint32_t size = 4, type = 0;
      status = i == 0 ? entry.GetFirstValue(kCapabilities, &capability.privileges[i], size, type)
                      : entry.GetNextValue(kCapabilities, &capability.privileges[i], size, type);
    }
    if (status != 0) break;
    ++count;
  }
  if (status == 0 && walk != 0 && walk != zel::dir::kNoMore) status = walk;
  if (status < 0) {
    delete[] array;  // a directory failure reaches the caller; the output stays empty
    *capabilities = nullptr;
    count = 0;
  }
  return status;
}
