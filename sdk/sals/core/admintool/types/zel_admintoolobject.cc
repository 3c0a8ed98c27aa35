#include "zel/admintool/zel_admintoolobject.h"

#include <cstring>
#include <new>

#include "zel/admintool/protocol/tree_forms.h"
#include "zel/admintool/result_codes.h"
#include "zel/admintool/zel_crc16.h"
#include "zel/runtime/alloc.h"

// --- ZEL_AdminToolObject -----------------------------------------------------------------------

ZEL_AdminToolObject::ZEL_AdminToolObject() { init(nullptr, nullptr, nullptr); }
ZEL_AdminToolObject::ZEL_AdminToolObject(ZEL_AdminToolObject* parentNode) {
  init(parentNode, nullptr, nullptr);
}
ZEL_AdminToolObject::ZEL_AdminToolObject(ZEL_AdminToolObject* parentNode,
                                         const char16_t* nameText) {
  init(parentNode, nullptr, nameText);
}
ZEL_AdminToolObject::ZEL_AdminToolObject(const char16_t* parentDNText, const char16_t* nameText) {
  init(nullptr, parentDNText, nameText);
}
ZEL_AdminToolObject::ZEL_AdminToolObject(const char16_t* nameText) {
  init(nullptr, nullptr, nameText);
}

ZEL_AdminToolObject::ZEL_AdminToolObject(const ZEL_AdminToolObject& other)
    : zel::rt::SeamAllocated(),
      name(other.name),
      title(other.title),
      flags(other.flags),
      ssid(other.ssid),
      icon(other.icon),
      uid(other.uid),
      uidCount(other.uidCount),
      uidList(other.uidList),
      accessPriv(other.accessPriv),
      dn(other.dn),
      parentDN(other.parentDN),
      parent(other.parent),
      sibling(other.sibling),
      child(other.child),
      numChildren(other.numChildren) {}

ZEL_AdminToolObject& ZEL_AdminToolObject::operator=(ZEL_AdminToolObject& other) {
  if (&other == this) return *this;
  uidList = other.uidList;  // first: the one step that can fail (it throws bad_alloc)
  name = other.name;
  title = other.title;
  flags = other.flags;
  ssid = other.ssid;
  icon = other.icon;
  uid = other.uid;
  uidCount = other.uidCount;
  accessPriv = other.accessPriv;
  dn = other.dn;
  parentDN = other.parentDN;
  parent = other.parent;
  sibling = other.sibling;
  child = other.child;
  numChildren = other.numChildren;
  return *this;
}

ZEL_AdminToolObject::~ZEL_AdminToolObject() {
  parent = nullptr;
  sibling = nullptr;
  child = nullptr;
  numChildren = 0;
}

ZEL_AdminToolObject* ZEL_AdminToolObject::getRootNode() {
  return new (std::nothrow) ZEL_AdminToolObject(u"");
}

void ZEL_AdminToolObject::init(ZEL_AdminToolObject* parentNode, const char16_t* parentDNText,
                               const char16_t* nameText) {
  sibling = nullptr;
  child = nullptr;
  numChildren = 0;
  parentDN = parentDNText;
  parent = parentNode;
  // Linked before it is named: a node made with a parent is always linked, whatever its name.
  if (parentNode != nullptr) {
    parentDN = parentNode->dn;
    parentNode->addChild(this);
  }
  name = nameText;
  recomputeDN();
  title = nameText;
  flags = 0;
  ssid = 0;
  icon = 0;
  uidCount = 0;
  uid = kNoUID;
}

void ZEL_AdminToolObject::recomputeDN() {
  if (parentDN.isEmpty()) {
    dn = name;
  } else {
    dn = parentDN;
    dn.appendDistinguishedName(name);
  }
}

void ZEL_AdminToolObject::setName(const char16_t* text) {
  name = text;
  recomputeDN();
}

bool ZEL_AdminToolObject::isMemberOfUIDList(uint64_t value) {
  for (uint32_t i = 0; i < uidCount; ++i) {
    if (uidList[i] == value) return true;
  }
  return false;
}

bool ZEL_AdminToolObject::resizeUIDList(uint32_t size) {
  if (uidList.Count() == size) return true;
  // Built aside, so that a failure leaves the list as it was.
  ZEL_SimpleArray<uint64_t> resized;
  if (resized.ChangeSize(size) != size) return false;
  for (uint32_t i = 0; i < uidCount && i < size; ++i) resized[i] = uidList[i];
  uidList.Swap(resized);
  return true;
}

void ZEL_AdminToolObject::removeFromUIDList(uint64_t value) {
  for (uint32_t i = 0; i < uidCount; ++i) {
    if (uidList[i] != value) continue;
    for (uint32_t j = i + 1; j < uidCount; ++j) uidList[j - 1] = uidList[j];
    --uidCount;
    return;
  }
}

void ZEL_AdminToolObject::setUID(uint64_t value) {
  if (value == uid) return;
  if (!isMemberOfUIDList(value)) {
    if (!resizeUIDList(uidCount + 1)) return;  // no storage: the node keeps its UID and list
    uidList[uidCount++] = value;
  }
  if (uid != kNoUID) removeFromUIDList(uid);
  uid = value;
}

void ZEL_AdminToolObject::addUIDs(const uint64_t* values, uint32_t count) {
  if (count == 0 || values == nullptr) return;
  if (!resizeUIDList(uidCount + count)) return;
  for (uint32_t i = 0; i < count; ++i) {
    if (!isMemberOfUIDList(values[i])) uidList[uidCount++] = values[i];
  }
}

int32_t ZEL_AdminToolObject::removeUID(uint64_t value) {
  if (value == uid) return ZEL_E_FAIL;  // a node's own UID cannot be removed
  if (value == kNoUID) return 0;
  removeFromUIDList(value);
  return 0;
}

void ZEL_AdminToolObject::addChild(ZEL_AdminToolObject* node) {
  if (child == nullptr) {
    child = node;
    numChildren = 1;
    return;
  }
  if (findChild(node)) return;  // a child of that name is already there
  node->sibling = child->sibling;
  child->sibling = node;
  ++numChildren;
}

void ZEL_AdminToolObject::addSibling(ZEL_AdminToolObject* node) {
  node->sibling = sibling;
  sibling = node;
}

void ZEL_AdminToolObject::setParent(ZEL_AdminToolObject* node) {
  parent = node;
  if (node == nullptr) return;
  parentDN = node->dn;
  node->addChild(this);
}

bool ZEL_AdminToolObject::findChild(ZEL_AdminToolObject* node) {
  if (node->name.isEmpty() || child == nullptr) return false;
  for (ZEL_AdminToolObject* at = child; at != nullptr; at = at->sibling) {
    if (!at->name.isEmpty() && at->name == node->name) return true;
  }
  return false;
}

void ZEL_AdminToolObject::deleteChildren() {
  ZEL_AdminToolObject* at = child;
  while (at != nullptr) {
    ZEL_AdminToolObject* next = at->sibling;
    delete at;
    at = next;
  }
  child = nullptr;
  numChildren = 0;
}

int32_t ZEL_AdminToolObject::objectSize() const {
  return static_cast<int32_t>(zel::admintool::WireSize(name) + zel::admintool::WireSize(title) +
                              24 + 8 * uidCount + ((flags & kAccessPrivFlag) != 0 ? 4 : 0));
}

int32_t ZEL_AdminToolObject::write(ZEL_BUF_EventBuffer& event) {
  zel::admintool::WriteMessage(event, *this);  // append failures pass to the caller
  return 0;
}

int32_t ZEL_AdminToolObject::read(ZEL_BUF_BufferReader& reader) {
  zel::admintool::NodeHead head;
  try {
    zel::admintool::ReadMessage(reader, head);
  } catch (const ZEL_BUF_ReadException&) {
    return ZEL_E_FAIL;
  }
  name = head.name;
  recomputeDN();
  title = head.title;
  flags = head.flags;
  ssid = head.ssid;
  icon = head.icon;
  setUID(head.uid);
  return uid == head.uid ? 0 : ZEL_E_NO_EVENT;  // no storage for the UID list
}

// --- ZEL_AdminToolIcon -------------------------------------------------------------------------

ZEL_AdminToolIcon::ZEL_AdminToolIcon(uint64_t iconUID)
    : uid(iconUID), flags(0), data(nullptr), ssid(0), size(0) {}

ZEL_AdminToolIcon::ZEL_AdminToolIcon(uint16_t iconSSID, const char16_t* iconName)
    : uid(0), flags(0), data(nullptr), name(iconName), ssid(iconSSID), size(0) {}

ZEL_AdminToolIcon::ZEL_AdminToolIcon(uint16_t iconSSID, const char16_t* iconName, int16_t iconFlags,
                                     int32_t bitsSize, uint8_t* bits)
    : uid(0), flags(0), data(nullptr), name(iconName), ssid(iconSSID), size(0) {
  setIconBits(iconFlags, bitsSize, bits);
}

ZEL_AdminToolIcon::ZEL_AdminToolIcon(const ZEL_AdminToolIcon& other)
    : uid(other.uid),
      flags(other.flags),
      data(nullptr),
      name(other.name),
      ssid(other.ssid),
      size(0) {
  copyFrom(other);
}

ZEL_AdminToolIcon& ZEL_AdminToolIcon::operator=(ZEL_AdminToolIcon& other) {
  if (&other == this) return *this;
  if (data != nullptr) ZEL_BUF_Free_Debug(data, kTag, __LINE__);
  data = nullptr;
  size = 0;
  uid = other.uid;
  flags = other.flags;
  name = other.name;
  ssid = other.ssid;
  copyFrom(other);
  return *this;
}

ZEL_AdminToolIcon::~ZEL_AdminToolIcon() {
  if (data != nullptr) ZEL_BUF_Free_Debug(data, kTag, __LINE__);
}

void ZEL_AdminToolIcon::copyFrom(const ZEL_AdminToolIcon& other) {
  if (other.data == nullptr || other.size != kBitsSize) return;
  void* bits = nullptr;
  if (ZEL_BUF_Allocate_Debug(kBitsSize, &bits, kTag, __LINE__) != 0) {
    flags = kNoBits;  // no storage for a copy of the bits: the copy has none
    return;
  }
  std::memcpy(bits, other.data, kBitsSize);
  data = static_cast<uint8_t*>(bits);
  size = kBitsSize;
}

void ZEL_AdminToolIcon::clearBits() {
  if (data != nullptr) ZEL_BUF_Free_Debug(data, kTag, __LINE__);
  data = nullptr;
  size = 0;
  flags = kNoBits;
}

int32_t ZEL_AdminToolIcon::setIconBits(int16_t newFlags, int32_t newSize, uint8_t* newData) {
  if (data != nullptr && data != newData) ZEL_BUF_Free_Debug(data, kTag, __LINE__);
  flags = newFlags;
  size = newSize;
  data = newData;
  if (newSize == kBitsSize && newData != nullptr) return 0;
  clearBits();
  return ZEL_E_FAIL;
}

uint16_t ZEL_AdminToolIcon::getCRC() const {
  uint16_t crc = 0;  // an icon without bits has no checksum; 0 stands for it
  ZEL_CRC16(data, data != nullptr ? static_cast<uint32_t>(size) : 0, &crc);
  return crc;
}

bool ZEL_AdminToolIcon::matches(const uint8_t* bits, int32_t bitsSize) const {
  if (bitsSize != size) return false;
  if (size <= 0) return true;
  return bits != nullptr && data != nullptr && std::memcmp(bits, data, size) == 0;
}

int32_t ZEL_AdminToolIcon::write(ZEL_BUF_EventBuffer& event) {
  // Nothing leaves the icon's writer: a failed append answers its code.
  try {
    event << uid << flags;
  } catch (const ZEL_BUF_AppendException& e) {
    return e.code();
  }
  if (flags == kNoBits) return 0;
  const int32_t appended = event.AppendData(data, static_cast<uint32_t>(size));
  return appended < 0 ? appended : 0;
}

int32_t ZEL_AdminToolIcon::read(ZEL_BUF_BufferReader& reader) {
  void* bits = nullptr;
  try {
    uint16_t readFlags = 0;
    reader >> uid >> readFlags;
    const auto newFlags = static_cast<int16_t>(readFlags);
    if (newFlags != kNoBits) {
      if (ZEL_BUF_Allocate_Debug(kBitsSize, &bits, kTag, __LINE__) != 0) {
        clearBits();
        return ZEL_E_NO_EVENT;  // no storage for the bits
      }
      reader.ReadData(bits, kBitsSize);
    }
    setIconBits(newFlags, bits != nullptr ? kBitsSize : 0, static_cast<uint8_t*>(bits));
  } catch (const ZEL_BUF_ReadException&) {
    ZEL_BUF_Free_Debug(bits, kTag, __LINE__);
    clearBits();
    return ZEL_E_FAIL;
  }
  return 0;
}
