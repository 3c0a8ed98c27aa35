// The group enumeration request without credentials: the fields of the group enumeration request
// that carries credentials (event 82), without the account and the password. The library's
// group parser reads it (it reads the credentials only under event 82), and the reply is the
// library's group reply, event 81 (ReplyEventID).
//
//   group enumeration request (event kEnumerateGroup)
//     = parentDN:text name:text title:text flags:i16 ssid:u16 icon:u64 uid:u64
#pragma once

#include <cstdint>

#include "zel/protocol/events.h"
#include "zel/protocol/grammar.h"

namespace zel::protocol {

struct EnumerateGroupRequest {
  static constexpr uint16_t kEventID = event::kEnumerateGroup;
  ZELString parentDN;
  // The group node's leading wire fields.
  ZELString name;
  ZELString title;
  int16_t flags = 0;
  uint16_t ssid = 0;
  uint64_t icon = 0;
  uint64_t uid = 0;

  template <class V>
  void Fields(V& v) {
    v.Text("parentDN", parentDN);
    v.Text("name", name);
    v.Text("title", title);
    v.I16("flags", flags);
    v.U16("ssid", ssid);
    v.UID("icon", icon);
    v.UID("uid", uid);
  }
};

}  // namespace zel::protocol
