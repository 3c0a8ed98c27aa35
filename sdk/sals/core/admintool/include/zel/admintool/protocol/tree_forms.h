// The console tree on the wire: the node, the tree-operation notification (event 81, also the
// group enumeration reply), the container change notification (event 95) and the group
// enumeration request (event 82 carries credentials).
//
// Node:         ZELString name, ZELString title, int16 flags, uint16 ssid, uint64 icon,
//               uint64 uid, uint32 n, n x uint64 one by one, uint32 accessPriv (only when
//               flags has 0x20). Its leading fields (name to uid) are its "head".
// Event 81:     int32 status; int16 sections; per section: int16 op, parent DN, int16 items,
//               the items: op 0 and 1 nodes, op 2 names, op 3 pairs of old name and node.
//               A group reply with a nonzero result holds only the status.
// Event 95:     int32 0; int16 containers; int16 3; the container DNs.
// Event 82:     ZELString parent DN, node head, ZELString account ("domain\user" or "user"),
//               uint32 n (at most 256), n enciphered password bytes.
// Strings are ZELStrings or wide-string pointers; both take the same form on the wire.
#pragma once

#include <cstdint>

#include "zel/admintool/protocol/grammar.h"
#include "zel/admintool/zel_admintoolobject.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/reader.h"

namespace zel::admintool {

enum TreeOp : int16_t { kOpList = 0, kOpAdd = 1, kOpDelete = 2, kOpChange = 3 };
inline constexpr int16_t kContainerMarker = 3;
// Where notifications come from and go: host IDs are addresses, not result codes.
inline constexpr uint32_t kNotificationSourceHost = 0x80000001;
inline constexpr uint32_t kNotificationDestinationHost = 0x80000003;

// The node's head, as the group enumeration request carries it.
struct NodeHead {
  ZELString name;
  ZELString title;
  int16_t flags = 0;
  uint16_t ssid = 0;
  uint64_t icon = 0;
  uint64_t uid = 0;
};

template <typename V>
void HeadFields(V& v, ZELString& name, ZELString& title, int16_t& flags, uint16_t& ssid,
                uint64_t& icon, uint64_t& uid) {
  v.Text("name", name);
  v.Text("title", title);
  v.Value("flags", flags);
  v.Value("ssid", ssid);
  v.Value("icon", icon);
  v.Value("uid", uid);
}

template <>
struct Grammar<NodeHead> {
  template <typename V>
  static void Fields(V& v, NodeHead& h) {
    HeadFields(v, h.name, h.title, h.flags, h.ssid, h.icon, h.uid);
  }
};

template <>
struct Grammar<ZEL_AdminToolObject> {
  template <typename V>
  static void Fields(V& v, ZEL_AdminToolObject& n) {
    HeadFields(v, n.name, n.title, n.flags, n.ssid, n.icon, n.uid);
    v.List("uids", n.uidCount, n.uidList);
    if ((n.flags & ZEL_AdminToolObject::kAccessPrivFlag) != 0) v.Value("accessPriv", n.accessPriv);
  }
};

// The credentials of an event-82 request; the password stays enciphered here.
inline constexpr uint32_t kMaxPasswordBytes = 256;
struct GroupCredentials {
  ZELString account;
  uint32_t passwordLength = 0;
  uint8_t password[kMaxPasswordBytes] = {};
};
template <>
struct Grammar<GroupCredentials> {
  template <typename V>
  static void Fields(V& v, GroupCredentials& c) {
    v.Text("account", c.account);
    v.Bounded("password", c.passwordLength, c.password, kMaxPasswordBytes, kSecret);
  }
};

// --- Event 81 and 95 framing ------------------------------------------------------------------

inline void WriteTreeOperationHead(ZEL_BUF_EventBuffer& event, int32_t status, int16_t sections) {
  event << status << sections;
}
inline void ReadTreeOperationHead(ZEL_BUF_BufferReader& reader, int32_t& status,
                                  int16_t& sections) {
  reader >> status >> sections;
}

// The head of one section; its items follow.
template <typename Text>
void WriteSectionHead(ZEL_BUF_EventBuffer& event, TreeOp op, const Text& parentDN, int16_t items) {
  event << static_cast<int16_t>(op) << parentDN << items;
}
inline void ReadSectionHead(ZEL_BUF_BufferReader& reader, int16_t& op, ZELString& parentDN,
                            int16_t& items) {
  reader >> op >> parentDN >> items;
}

// Event 95 naming `first` (and `second`, when given).
inline void WriteContainerChange(ZEL_BUF_EventBuffer& event, const ZELString& first,
                                 const ZELString* second = nullptr) {
  event << int32_t{0} << static_cast<int16_t>(second != nullptr ? 2 : 1) << kContainerMarker
        << first;
  if (second != nullptr) event << *second;
}
inline void ReadContainerChangeHead(ZEL_BUF_BufferReader& reader, int32_t& status,
                                    int16_t& containers, int16_t& marker) {
  reader >> status >> containers >> marker;
}

}  // namespace zel::admintool
