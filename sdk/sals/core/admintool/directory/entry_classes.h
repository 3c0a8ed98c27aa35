// The AdminTool subsystem's entry classes: tree objects, icons and plug-in records mapped to
// directory attributes. Inner to the library.
#pragma once

#include <cstdint>

#include "zel/directory/entry.h"
#include "zel/runtime/strings.h"

namespace zel::directory {

inline constexpr const char16_t* kCapabilities = u"ATTRIBUTE-AdminGroupCapabilities";
inline constexpr const char16_t* kUInt32Type = u"uint32";
inline constexpr uint16_t kUInt32Code = 12;

}  // namespace zel::directory

class ZEL_ENTRY_ADMINTOOL_OBJECT : public ZEL_DIR_Entry {
 public:
  ZEL_ENTRY_ADMINTOOL_OBJECT(ZEL_DIR_ServiceInterface* service, const ZELString& dn,
                             uint32_t contextID);
  ~ZEL_ENTRY_ADMINTOOL_OBJECT() override;
  int32_t DataMapHandler(uint8_t direction) override;

  ZELString title;
  uint16_t flags = 0;
  uint16_t subsystemID = 0;
  uint64_t iconUID = 0;
  uint64_t objectUID = 0;
};

class ZEL_ENTRY_ADMINTOOL_ICON : public ZEL_DIR_Entry {
 public:
  ZEL_ENTRY_ADMINTOOL_ICON(ZEL_DIR_ServiceInterface* service, const ZELString& dn,
                           uint32_t contextID);
  ZEL_ENTRY_ADMINTOOL_ICON(ZEL_DIR_ServiceInterface* service, uint64_t uid);
  // Releases the bits (user memory of the directory, or the runtime's debug storage).
  ~ZEL_ENTRY_ADMINTOOL_ICON() override;
  int32_t DataMapHandler(uint8_t direction) override;

  int16_t flags = 0;
  uint32_t bitsSize = 0;
  uint8_t* bits = nullptr;  // owned
  uint16_t crc = 0;
};

class ZEL_ENTRY_ADMINTOOL_PLUGIN : public ZEL_DIR_Entry {
 public:
  ZEL_ENTRY_ADMINTOOL_PLUGIN(ZEL_DIR_ServiceInterface* service, const ZELString& dn,
                             uint32_t contextID);
  ~ZEL_ENTRY_ADMINTOOL_PLUGIN() override;
  int32_t DataMapHandler(uint8_t direction) override;

  ZELString name;
};
