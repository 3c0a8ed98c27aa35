// Directory entries and one-level searches.
//
// An entry is named by a DN within a data context, or by its 64-bit UID. Its attributes hold
// typed values, several per attribute, in order. Sync loads an entry into memory (then its
// DataMapHandler(0) maps the values into the subclass's fields); Add and Update first let
// DataMapHandler(1) map the fields into values, then write the entry whole, each in one
// transaction.
//
// Names: the DN syntax of ZELString, where a backslash escapes only '/' or '\' (any other
// backslash is kMalformedName). An entry added with an empty DN gets a DN made up by the
// directory ("@" and its UID in 16 hex digits), directly below its context; a DN of one
// component beginning with '@' is kept for those (Add answers kReservedName). UIDs are assigned
// by the directory: bits 32-47 hold 0x0121, bits 0-31 a sequence number of the store.
//
// An entry is found only in its context and with its class: by DN in the context it was made
// with, by UID in any context until a Sync has read it (then in that one). An entry of another
// class is kNoSuchEntry. Parents need not exist: an entry may be added below a DN where no entry
// is, and deleting an entry leaves the entries below it where they are.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "zel/directory/export.h"
#include "zel/directory/service.h"
#include "zel/directory/value.h"
#include "zel/runtime/strings.h"

class ZEL_DIRECTORY_API ZEL_DIR_Entry {
 public:
  // An entry named by `dn` in the context `contextID`, of object class `className` ("" for a
  // classless entry). `reserved` must be 0.
  ZEL_DIR_Entry(ZEL_DIR_ServiceInterface* service, const ZELString& dn, uint32_t contextID,
                const char16_t* className, uint8_t reserved);
  // An entry named by its UID.
  ZEL_DIR_Entry(ZEL_DIR_ServiceInterface* service, uint64_t uid, const char16_t* className);
  ZEL_DIR_Entry(const ZEL_DIR_Entry&) = delete;
  ZEL_DIR_Entry& operator=(const ZEL_DIR_Entry&) = delete;

  // Virtual operations in their fixed order.
  virtual ~ZEL_DIR_Entry();
  // Loads the entry; 0, or kNoSuchEntry / a store code (the entry is not read then). A Sync
  // also forgets a value refused since the last one.
  virtual int32_t Sync();
  // Rewrites the attributes of an existing entry that were changed (DeleteAllValues, AddValue)
  // since it was made or synchronised; the others keep their stored values. 0, or
  // kNoSuchEntry / a store code.
  virtual int32_t Update();
  // Creates the entry; 0, kEntryExists (5) when one is at that DN, or a store code.
  virtual int32_t Add();
  // Deletes the entry and every value; 0, kNoSuchEntry, or a store code.
  virtual int32_t DelEntry();
  // Storage for values handed out by MapVarySizeDataFromDir (from ZEL_BUF_Allocate_Debug, so
  // FreeUserMemory releases either kind); null when there is none.
  virtual void* AllocateUserMemory(uint32_t size);
  virtual void FreeUserMemory(void* block);
  // 1: the subclass's fields to values; 0: values to fields. The base maps nothing.
  virtual int32_t DataMapHandler(uint8_t direction);

  // --- Values ------------------------------------------------------------------------------
  // A "css" value with a NUL before its last unit is refused (kInvalidValue); Add and Update
  // then answer kInvalidValue and write nothing until the entry is synchronised again.
  int32_t AddValue(const char16_t* attribute, const char16_t* typeName, uint16_t typeCode,
                   const void* data, uint32_t size);
  int32_t DeleteAllValues(const char16_t* attribute);
  int32_t GetValueCount(const char16_t* attribute, uint32_t& count);
  // The first (next) value of the attribute into data: *size in, the value's size out, its type
  // code in typeCode. kNoMore after the last; kValueTooLarge (nothing copied) when it does not
  // fit.
  int32_t GetFirstValue(const char16_t* attribute, void* data, uint32_t& size, uint32_t& typeCode);
  int32_t GetNextValue(const char16_t* attribute, void* data, uint32_t& size, uint32_t& typeCode);

  // --- Mapping helpers for DataMapHandler(0) ------------------------------------------------
  // Copies the first value into `destination` (at most `size` bytes).
  int32_t MapFixSizeDataFromDir(const char16_t* attribute, void* destination, uint32_t size);
  // The first value as text (a value of "css" holds UTF-16 characters).
  int32_t MapStringDataFromDir(const char16_t* attribute, ZELString& text);
  // The first value in new storage from AllocateUserMemory: *data and *size (null, 0 when the
  // attribute has no value).
  int32_t MapVarySizeDataFromDir(const char16_t* attribute, void*& data, uint32_t& size);

  const ZELString& GetDN() const { return dn_; }
  uint64_t GetUID() const { return uid_; }
  uint32_t GetContextID() const { return contextID_; }

 protected:
  ZEL_DIR_ServiceInterface* service() const { return service_; }

 private:
  friend class ZEL_DIR_SearchHelper;
  using Value = zel::dir::StoredValue;
  using Values = std::map<std::u16string, std::vector<Value>>;

  // The stored entry this object names: by UID (in its context once a load has told it), or by
  // DN in its context; of its class either way. Anything else is kNoSuchEntry.
  int32_t locate(zel::dir::Store& store, uint64_t* uid);
  // Loads the stored entry `uid` into this object and maps it.
  int32_t loadStored(zel::dir::Store& store, uint64_t uid);
  // Takes a stored entry read already (by a search) and maps it.
  void fill(zel::dir::StoredEntry&& stored);
  const Value* nextValue(const char16_t* attribute, bool first);

  ZEL_DIR_ServiceInterface* service_;
  ZELString dn_;
  uint32_t contextID_ = 0;
  uint64_t uid_ = 0;
  bool byUID_ = false;
  std::u16string className_;
  Values values_;
  std::set<std::u16string> touched_;  // attributes changed since the last Sync
  int32_t refused_ = 0;               // a value refused since the last Sync: nothing is written
  std::u16string cursorAttribute_;
  std::size_t cursor_ = 0;
};

// A classless entry.
class ZEL_DIRECTORY_API ZEL_DIR_BaseEntry : public ZEL_DIR_Entry {
 public:
  ZEL_DIR_BaseEntry(ZEL_DIR_ServiceInterface* service, const ZELString& dn, uint32_t contextID);
  ~ZEL_DIR_BaseEntry() override;
};

// The entries directly below a base DN of a context (kOneLevel), or at any depth below it
// (kSubtree; an empty base then takes every entry of the context), optionally filtered by one
// attribute value ("ATTRIBUTE=value", compared with the value's text form; "" for none). The
// base entry itself is never a match; matches come in DN order.
class ZEL_DIRECTORY_API ZEL_DIR_SearchHelper {
 public:
  static constexpr uint8_t kOneLevel = 1;
  static constexpr uint8_t kSubtree = 2;

  ZEL_DIR_SearchHelper(ZEL_DIR_ServiceInterface* service, uint8_t scope, const ZELString& baseDN,
                       uint32_t contextID, const ZELString& filter, const ZELString& attributes);
  // Runs the search; 0 and the number of matches, or a negative code.
  int32_t Search(uint32_t& count);
  // Delivers the first (next) match into `entry` (its DataMapHandler(0) runs) and its name (the
  // last component of its DN); kNoMore after the last.
  int32_t GetFirstEntry(ZELString& name, ZEL_DIR_Entry& entry);
  int32_t GetNextEntry(ZELString& name, ZEL_DIR_Entry& entry);

 private:
  int32_t deliver(ZELString& name, ZEL_DIR_Entry& entry);

  ZEL_DIR_ServiceInterface* service_;
  uint8_t scope_;
  ZELString baseDN_;
  uint32_t contextID_;
  ZELString filter_;
  std::vector<zel::dir::StoredEntry> matches_;
  std::size_t next_ = 0;
  bool searched_ = false;
};
