// Console tree nodes, icons and plug-in records.
#pragma once

#include <cstdint>

#include "zel/admintool/export.h"
#include "zel/admintool/zel_simplearray.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/reader.h"
#include "zel/runtime/strings.h"

namespace zel::admintool {
template <typename T>
struct Grammar;
}  // namespace zel::admintool

// One node of the console tree. Its links to parent, sibling and children are not owned; only
// deleteChildren frees children. Nodes on the heap take their storage through the allocation
// seam (getRootNode answers null when there is none).
class ZEL_ADMINSAL_API ZEL_AdminToolObject : public zel::rt::SeamAllocated {
 public:
  static constexpr uint64_t kNoUID = 0xFFFFFFFFFFFFFFFFull;
  static constexpr int16_t kAccessPrivFlag = 0x20;

  ZEL_AdminToolObject();
  explicit ZEL_AdminToolObject(ZEL_AdminToolObject* parent);
  ZEL_AdminToolObject(ZEL_AdminToolObject* parent, const char16_t* name);
  ZEL_AdminToolObject(const char16_t* parentDN, const char16_t* name);
  explicit ZEL_AdminToolObject(const char16_t* name);
  // Copies every field; the copy has the same links as its source but is not linked into them.
  ZEL_AdminToolObject(const ZEL_AdminToolObject& other);
  ZEL_AdminToolObject& operator=(ZEL_AdminToolObject& other);
  ~ZEL_AdminToolObject();

  // A new parentless node with an empty name, the caller's to delete; null without storage.
  static ZEL_AdminToolObject* getRootNode();

  const char16_t* getName() const { return name.getName(); }
  const char16_t* getTitle() const { return title.getName(); }
  const char16_t* getDN() const { return dn.getName(); }
  const char16_t* getParentDN() const { return parentDN.getName(); }
  int16_t getFlags() const { return flags; }
  uint16_t getSSID() const { return ssid; }
  uint64_t getIcon() const { return icon; }
  uint64_t getUID() const { return uid; }
  ZEL_AdminToolObject* getParent() const { return parent; }
  ZEL_AdminToolObject* getChild() const { return child; }
  ZEL_AdminToolObject* getSibling() const { return sibling; }
  int32_t getNumChildren() const { return numChildren; }
  // The UIDs the node stands for (the first uidCount entries of its list).
  uint32_t getUIDCount() const { return uidCount; }
  uint64_t getUIDAt(uint32_t index) { return uidList[index]; }
  uint32_t getAccessPriv() const { return accessPriv; }

  void setName(const char16_t* text);
  void setTitle(const char16_t* text) { title = text; }
  void setParentDN(const char16_t* text) { parentDN = text; }
  void setFlags(int16_t value) { flags = value; }
  void setSSID(uint16_t value) { ssid = value; }
  void setIcon(uint64_t value) { icon = value; }
  void setAccessPriv(uint32_t value) { accessPriv = value; }
  // Makes value the node's UID and a member of its list (replacing the old UID there).
  void setUID(uint64_t value);

  void addUIDs(const uint64_t* values, uint32_t count);
  int32_t removeUID(uint64_t value);

  void addChild(ZEL_AdminToolObject* node);
  void addSibling(ZEL_AdminToolObject* node);
  void setParent(ZEL_AdminToolObject* node);
  bool findChild(ZEL_AdminToolObject* node);
  void deleteChildren();
  void nullifyChildren() {
    child = nullptr;
    numChildren = 0;
  }

  // The size of the wire form, for size hints.
  int32_t objectSize() const;
  // Nine fields; a failed append passes to the caller as ZEL_BUF_AppendException.
  int32_t write(ZEL_BUF_EventBuffer& event);
  // The six leading fields; 0, or 0x80000001 when the reader runs short.
  int32_t read(ZEL_BUF_BufferReader& reader);

 private:
  friend struct zel::admintool::Grammar<ZEL_AdminToolObject>;  // the wire form's one home

  void init(ZEL_AdminToolObject* parentNode, const char16_t* parentDNText,
            const char16_t* nameText);
  bool isMemberOfUIDList(uint64_t value);
  // Makes the list hold exactly `size` entries, keeping those in use; false (and the list
  // unchanged) without storage.
  bool resizeUIDList(uint32_t size);
  void removeFromUIDList(uint64_t value);
  void recomputeDN();

  ZELString name;
  ZELString title;
  int16_t flags;
  uint16_t ssid;
  uint64_t icon;
  uint64_t uid;
  uint32_t uidCount;
  ZEL_SimpleArray<uint64_t> uidList;
  uint32_t accessPriv = 0;
  ZELString dn;
  ZELString parentDN;
  ZEL_AdminToolObject* parent;
  ZEL_AdminToolObject* sibling;
  ZEL_AdminToolObject* child;
  int32_t numChildren;
};

// An icon: a UID, a subsystem ID, a name, flags and exactly 640 bytes of bits (or none, with
// flags 255). The bits come from the runtime's debug allocator.
class ZEL_ADMINSAL_API ZEL_AdminToolIcon {
 public:
  static constexpr int32_t kBitsSize = 640;
  static constexpr int16_t kNoBits = 255;
  static constexpr const char* kTag = "zel_admintoolobject";

  explicit ZEL_AdminToolIcon(uint64_t uid);
  ZEL_AdminToolIcon(uint16_t ssid, const char16_t* name);
  // Takes data over in every case (it must come from ZEL_BUF_Allocate_Debug).
  ZEL_AdminToolIcon(uint16_t ssid, const char16_t* name, int16_t flags, int32_t size,
                    uint8_t* data);
  // The copy gets its own bits; without storage for them it has none (flags 255).
  ZEL_AdminToolIcon(const ZEL_AdminToolIcon& other);
  ZEL_AdminToolIcon& operator=(ZEL_AdminToolIcon& other);
  ~ZEL_AdminToolIcon();

  uint64_t getUID() const { return uid; }
  uint16_t getSSID() const { return ssid; }
  const char16_t* getName() const { return name.getName(); }
  int16_t getFlags() const { return flags; }
  int32_t getSize() const { return size; }
  uint8_t* getData() const { return data; }
  void setUID(uint64_t value) { uid = value; }
  void setSSID(uint16_t value) { ssid = value; }
  void setName(const char16_t* text) { name = text; }
  void setFlags(int16_t value) { flags = value; }

  // Replaces the bits with data (taken over); 0 for 640 bytes, else 0x80000001 and no bits.
  int32_t setIconBits(int16_t newFlags, int32_t newSize, uint8_t* newData);
  uint16_t getCRC() const;
  bool matches(const uint8_t* bits, int32_t bitsSize) const;

  int32_t objectSize() const { return size + 10; }
  // UID, flags and (unless flags is 255) the bits; 0, or the runtime's negative append code
  // (kEventTooLarge, kNoMemory) when an append fails. Nothing is thrown; the fields appended
  // before the failure stay in the event.
  int32_t write(ZEL_BUF_EventBuffer& event);
  // 0; 0x80000001 when the reader runs short; 0x80000002 when no storage for the bits.
  int32_t read(ZEL_BUF_BufferReader& reader);

 private:
  void copyFrom(const ZEL_AdminToolIcon& other);
  void clearBits();

  uint64_t uid;
  int16_t flags;
  uint8_t* data;
  ZELString name;
  uint16_t ssid;
  int32_t size;
};

// A console plug-in record: a name. It has no wire form.
class ZEL_ADMINSAL_API ZEL_AdminToolPlugin {
 public:
  ZEL_AdminToolPlugin() = default;
  ZEL_AdminToolPlugin(const ZEL_AdminToolPlugin& other) = default;
  ZEL_AdminToolPlugin& operator=(ZEL_AdminToolPlugin& other) {
    name = other.name;
    return *this;
  }
  ~ZEL_AdminToolPlugin() = default;

  const char16_t* getName() const { return name.getName(); }
  void setName(const char16_t* text) { name = text; }
  int32_t objectSize() const { return 0; }
  int32_t read(ZEL_BUF_BufferReader&) { return 0; }
  int32_t write(ZEL_BUF_EventBuffer&) { return 0; }

 private:
  ZELString name;
};
