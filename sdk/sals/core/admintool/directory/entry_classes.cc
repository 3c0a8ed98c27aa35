#include "admintool/directory/entry_classes.h"

namespace {

constexpr const char16_t* kTitle = u"ATTRIBUTE-AdminTitle";
constexpr const char16_t* kSubsystemID = u"ATTRIBUTE-AdminSubsystemID";
constexpr const char16_t* kIconID = u"ATTRIBUTE-AdminIconID";
constexpr const char16_t* kObjectUID = u"ATTRIBUTE-AdminObjectUID";
constexpr const char16_t* kFlags = u"ATTRIBUTE-AdminFlags";
constexpr const char16_t* kBits = u"ATTRIBUTE-AdminBits";
constexpr const char16_t* kIconCRC = u"ATTRIBUTE-AdminIconCRC";
constexpr const char16_t* kObjectName = u"ATTRIBUTE-objectNameCSS";

// Direction 1: replaces the attribute's values with this one.
void Put(ZEL_DIR_Entry& entry, const char16_t* attribute, const char16_t* type, uint16_t code,
         const void* data, uint32_t size) {
  entry.DeleteAllValues(attribute);
  entry.AddValue(attribute, type, code, data, size);
}

void PutString(ZEL_DIR_Entry& entry, const char16_t* attribute, const ZELString& text) {
  Put(entry, attribute, u"css", 7, text.getName(), text.getLength());
}

}  // namespace

ZEL_ENTRY_ADMINTOOL_OBJECT::ZEL_ENTRY_ADMINTOOL_OBJECT(ZEL_DIR_ServiceInterface* service,
                                                       const ZELString& dn, uint32_t contextID)
    : ZEL_DIR_Entry(service, dn, contextID, u"CLASS-AdminToolObjectClass2", 0) {}

ZEL_ENTRY_ADMINTOOL_OBJECT::~ZEL_ENTRY_ADMINTOOL_OBJECT() = default;

int32_t ZEL_ENTRY_ADMINTOOL_OBJECT::DataMapHandler(uint8_t direction) {
  ZEL_DIR_Entry::DataMapHandler(direction);
  if (direction == 1) {
    PutString(*this, kTitle, title);
    Put(*this, kSubsystemID, u"ssid", 18, &subsystemID, 2);
    Put(*this, kIconID, u"uidvalue", 16, &iconUID, 8);
    Put(*this, kObjectUID, u"uidvalue", 16, &objectUID, 8);
    Put(*this, kFlags, u"uint16", 11, &flags, 2);
  } else {
    MapStringDataFromDir(kTitle, title);
    MapFixSizeDataFromDir(kSubsystemID, &subsystemID, 2);
    MapFixSizeDataFromDir(kIconID, &iconUID, 8);
    MapFixSizeDataFromDir(kObjectUID, &objectUID, 8);
    MapFixSizeDataFromDir(kFlags, &flags, 2);
  }
  return 0;  // whatever the directory answered
}

ZEL_ENTRY_ADMINTOOL_ICON::ZEL_ENTRY_ADMINTOOL_ICON(ZEL_DIR_ServiceInterface* service,
                                                   const ZELString& dn, uint32_t contextID)
    : ZEL_DIR_Entry(service, dn, contextID, u"CLASS-AdminToolIconClass", 0) {}

ZEL_ENTRY_ADMINTOOL_ICON::ZEL_ENTRY_ADMINTOOL_ICON(ZEL_DIR_ServiceInterface* service, uint64_t uid)
    : ZEL_DIR_Entry(service, uid, u"CLASS-AdminToolIconClass") {}

ZEL_ENTRY_ADMINTOOL_ICON::~ZEL_ENTRY_ADMINTOOL_ICON() {
  if (bits != nullptr) FreeUserMemory(bits);
}

int32_t ZEL_ENTRY_ADMINTOOL_ICON::DataMapHandler(uint8_t direction) {
  ZEL_DIR_Entry::DataMapHandler(direction);
  if (direction == 1) {
    Put(*this, kFlags, u"int16", 14, &flags, 2);
    Put(*this, kBits, u"bin", 9, bits, bitsSize);
    Put(*this, kIconCRC, u"uint16", 11, &crc, 2);
  } else {
    MapFixSizeDataFromDir(kFlags, &flags, 2);
    // The entry may be read again (a search walks into one entry): its old bits go first.
    if (bits != nullptr) FreeUserMemory(bits);
    void* read = nullptr;
    MapVarySizeDataFromDir(kBits, read, bitsSize);
    bits = static_cast<uint8_t*>(read);
    MapFixSizeDataFromDir(kIconCRC, &crc, 2);
  }
  return 0;
}

ZEL_ENTRY_ADMINTOOL_PLUGIN::ZEL_ENTRY_ADMINTOOL_PLUGIN(ZEL_DIR_ServiceInterface* service,
                                                       const ZELString& dn, uint32_t contextID)
    : ZEL_DIR_Entry(service, dn, contextID, u"CLASS-AdminToolPluginClass", 0) {}

ZEL_ENTRY_ADMINTOOL_PLUGIN::~ZEL_ENTRY_ADMINTOOL_PLUGIN() = default;

int32_t ZEL_ENTRY_ADMINTOOL_PLUGIN::DataMapHandler(uint8_t direction) {
  ZEL_DIR_Entry::DataMapHandler(direction);
  if (direction == 1) {
    PutString(*this, kObjectName, name);
  } else {
    MapStringDataFromDir(kObjectName, name);
  }
  return 0;
}
