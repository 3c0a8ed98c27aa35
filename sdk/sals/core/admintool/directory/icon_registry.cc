// Icons and plug-in records in their contexts. One icon entry holds each distinct set of bits,
// found again by its CRC; each (SSID, name) that uses it is a name entry below it.
#include <cstdio>
#include <cstring>

#include "admintool/directory/entry_classes.h"
#include "admintool/trace/trace.h"
#include "zel/admintool/zel_admintoolsal.h"
#include "zel/directory/codes.h"
#include "zel/runtime/alloc.h"

namespace {

constexpr const char* kBitsTag = "zel_admintoolsal";
constexpr uint64_t kSSIDBits = 0xFFFFull << 32;
constexpr uint64_t kDirectoryUIDTag = 0x0121ull << 32;

ZELString Hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return ZELString::FromUtf8(text);
}

// The name entry's component: the SSID as four lower-case hex digits, then the name.
ZELString NameComponent(const ZEL_AdminToolIcon& icon) {
  ZELString component = Hex4(icon.getSSID());
  component += icon.getName();
  return component;
}

ZELString Below(const ZELString& dn, const ZELString& component) {
  ZELString below = dn;
  below.appendDistinguishedName(component);
  return below;
}

// A copy of the entry's bits from the runtime's debug allocator; 0 or the allocator's answer.
int32_t CopyBits(const ZEL_ENTRY_ADMINTOOL_ICON& entry, uint8_t** copy) {
  void* block = nullptr;
  const int32_t allocated = ZEL_BUF_Allocate_Debug(entry.bitsSize, &block, kBitsTag, __LINE__);
  if (allocated != 0) return allocated;
  if (entry.bitsSize != 0) std::memcpy(block, entry.bits, entry.bitsSize);
  *copy = static_cast<uint8_t*>(block);
  return 0;
}

void TraceIconRead(const ZEL_AdminToolIcon& icon, uint64_t uid) {
  const auto high = static_cast<uint32_t>(uid >> 32);
  ZEL_TRACE(kInfo, kIconRead, TraceStringAndFive, icon.getName(), high >> 16, high & 0xFFFF,
            static_cast<uint32_t>(uid),
            static_cast<uint32_t>(static_cast<uint16_t>(icon.getFlags())),
            static_cast<uint32_t>(icon.getSize()));
}

}  // namespace

int32_t ZEL_AdminToolSAL::bindIcons() {
  if (storeSal == nullptr) return ZEL_E_NO_EVENT;
  if (s_iconCid != 0 || BindAdminToolIconContext() == 0) return 0;
  ZEL_TRACE(kInfo, kIconBindFailed, TraceNoData);
  return ZEL_E_FAIL;
}

int32_t ZEL_AdminToolSAL::RegisterIcon(ZEL_AdminToolIcon& icon) {
  if (const int32_t bound = bindIcons()) return bound;
  const uint16_t crc = icon.getCRC();
  const ZELString component = NameComponent(icon);
  ZELString filter(u"ATTRIBUTE-AdminIconCRC=");
  filter += Hex4(crc);
  ZEL_DIR_SearchHelper search(storeSal, ZEL_DIR_SearchHelper::kOneLevel, ZELString(), s_iconCid,
                              filter, ZELString(u"*"));
  uint32_t matches = 0;
  if (search.Search(matches) == 0) {
    ZEL_ENTRY_ADMINTOOL_ICON entry(storeSal, ZELString(), s_iconCid);
    ZELString name;
    for (int32_t walk = search.GetFirstEntry(name, entry); walk == 0;
         walk = search.GetNextEntry(name, entry)) {
      if (!icon.matches(entry.bits, static_cast<int32_t>(entry.bitsSize))) continue;
      ZEL_DIR_BaseEntry nameEntry(storeSal, Below(entry.GetDN(), component), s_iconCid);
      const int32_t added = nameEntry.Add();
      if (added == 0 || added == zel::dir::kEntryExists) {
        icon.setUID(entry.GetUID());
        ZEL_TRACE(kInfo, kIconMatched, TraceString, icon.getName());
        return 0;
      }
    }
  }
  // No icon entry holds these bits yet: a new one.
  ZEL_ENTRY_ADMINTOOL_ICON fresh(storeSal, ZELString(), s_iconCid);
  fresh.flags = icon.getFlags();
  fresh.bitsSize = static_cast<uint32_t>(icon.getSize());
  void* bits = nullptr;
  const int32_t allocated = ZEL_BUF_Allocate_Debug(fresh.bitsSize, &bits, kBitsTag, __LINE__);
  if (allocated != 0) {
    ZEL_TRACE(kError, kIconStorageFailed, TraceUInt32, static_cast<uint32_t>(allocated));
    return allocated;
  }
  fresh.bits = static_cast<uint8_t*>(bits);
  if (fresh.bitsSize != 0) std::memcpy(fresh.bits, icon.getData(), fresh.bitsSize);
  fresh.crc = crc;
  if (const int32_t added = fresh.Add()) return added;
  icon.setUID(fresh.GetUID());
  ZEL_DIR_BaseEntry nameEntry(storeSal, Below(fresh.GetDN(), component), s_iconCid);
  const int32_t named = nameEntry.Add();
  if (named == 0) ZEL_TRACE(kInfo, kIconRegistered, TraceString, icon.getName());
  return named;
}

int32_t ZEL_AdminToolSAL::GetIconByUID(ZEL_AdminToolIcon& icon) {
  const uint64_t uid = icon.getUID();
  icon.setSSID(static_cast<uint16_t>(uid >> 32));
  const uint64_t directoryUID = (uid & ~kSSIDBits) | kDirectoryUIDTag;
  if (const int32_t bound = bindIcons()) return bound;
  ZEL_ENTRY_ADMINTOOL_ICON entry(storeSal, directoryUID);
  if (entry.Sync() != 0) {
    ZEL_TRACE(kInfo, kIconNotFound, TraceUInt64, directoryUID);
    icon.setIconBits(ZEL_AdminToolIcon::kNoBits, 0, nullptr);
    icon.setName(u"");
    return ZEL_E_FAIL;
  }
  icon.setName(entry.GetDN().getName());
  uint8_t* copy = nullptr;
  if (const int32_t allocated = CopyBits(entry, &copy)) {
    ZEL_TRACE(kError, kIconStorageFailed, TraceUInt32, static_cast<uint32_t>(allocated));
    return allocated;
  }
  icon.setIconBits(entry.flags, static_cast<int32_t>(entry.bitsSize), copy);
  TraceIconRead(icon, directoryUID);
  return 0;
}

int32_t ZEL_AdminToolSAL::GetIconByName(ZEL_AdminToolIcon& icon) {
  if (const int32_t bound = bindIcons()) return bound;
  ZEL_ENTRY_ADMINTOOL_ICON entry(storeSal, ZELString(icon.getName()), s_iconCid);
  if (entry.Sync() != 0) {
    ZEL_TRACE(kInfo, kIconNotFound, TraceString, icon.getName());
    icon.setIconBits(ZEL_AdminToolIcon::kNoBits, 0, nullptr);
    icon.setUID(0);
    return ZEL_E_FAIL;
  }
  uint8_t* copy = nullptr;
  if (const int32_t allocated = CopyBits(entry, &copy)) {
    ZEL_TRACE(kError, kIconStorageFailed, TraceUInt32, static_cast<uint32_t>(allocated));
    return allocated;
  }
  icon.setIconBits(entry.flags, static_cast<int32_t>(entry.bitsSize), copy);
  icon.setUID((entry.GetUID() & ~kSSIDBits) | (static_cast<uint64_t>(icon.getSSID()) << 32));
  TraceIconRead(icon, entry.GetUID());
  return 0;
}

int32_t ZEL_AdminToolSAL::DeleteIcon(ZEL_AdminToolIcon& icon) {
  if (storeSal == nullptr) return ZEL_E_NO_EVENT;
  const ZELString component = NameComponent(icon);
  ZEL_ENTRY_ADMINTOOL_ICON entry(storeSal, icon.getUID());
  entry.Sync();  // not checked: a missing entry shows in the deletions below
  ZEL_DIR_BaseEntry nameEntry(storeSal, Below(entry.GetDN(), component), s_iconCid);
  if (const int32_t removed = nameEntry.DelEntry()) {
    ZEL_TRACE(kInfo, kIconNameEntryDeleteFailed, TraceUInt32, static_cast<uint32_t>(removed));
  }
  const int32_t answer = entry.DelEntry();
  if (answer == zel::dir::kNoSuchEntry) ZEL_TRACE(kInfo, kIconEntryMissing, TraceNoData);
  return answer;
}

int32_t ZEL_AdminToolSAL::RegisterPlugin(ZEL_AdminToolPlugin& plugin) {
  if (storeSal == nullptr) return ZEL_E_NO_EVENT;
  if (s_pluginCid == 0 && BindAdminToolPluginContext() != 0) {
    ZEL_TRACE(kInfo, kPluginBindFailed, TraceNoData);
    return ZEL_E_FAIL;
  }
  ZEL_ENTRY_ADMINTOOL_PLUGIN entry(storeSal, ZELString(plugin.getName()), s_pluginCid);
  entry.name = plugin.getName();
  int32_t answer = entry.Add();
  if (answer == zel::dir::kEntryExists) answer = entry.Update();
  if (answer != 0) ZEL_TRACE(kInfo, kPluginRegisterFailed, TraceString, plugin.getName());
  return answer;
}

int32_t ZEL_AdminToolSAL::GetPlugin(ZEL_AdminToolPlugin& plugin) {
  if (storeSal == nullptr) return ZEL_E_NO_EVENT;
  if (s_pluginCid == 0 && BindAdminToolPluginContext() != 0) {
    ZEL_TRACE(kError, kPluginGetBindFailed, TraceNoData);
    return ZEL_E_FAIL;
  }
  ZEL_ENTRY_ADMINTOOL_PLUGIN entry(storeSal, ZELString(plugin.getName()), s_pluginCid);
  if (entry.Sync() != 0) {
    ZEL_TRACE(kError, kPluginNotFound, TraceString, plugin.getName());
    return ZEL_E_FAIL;
  }
  plugin.setName(entry.name.getName());
  return 0;
}

int32_t ZEL_AdminToolSAL::DeletePlugin(ZEL_AdminToolPlugin&) { return 0; }
