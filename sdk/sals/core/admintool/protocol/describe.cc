#include "zel/admintool/protocol/describe.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <type_traits>

#include "zel/admintool/protocol/messages.h"
#include "zel/admintool/protocol/tree_forms.h"
#include "zel/protocol/events.h"
#include "zel/protocol/grammar.h"

namespace zel::admintool {
namespace {

using zel::protocol::Direction;
using zel::protocol::EventDescription;
using zel::protocol::Field;
namespace ev = zel::protocol::event;

bool IsUIDName(std::string_view name) {
  return name.find("UID") != std::string_view::npos || name.find("uid") != std::string_view::npos;
}

// Reads like FieldReader and turns every field into a named Field. Where a field starts is kept,
// so that a payload that stops inside one says where; when given `secrets`, where the contents
// of each secret field lie is added there (what blanking zeroes).
class FieldDescriber {
 public:
  FieldDescriber(ZEL_BUF_BufferReader& in, std::vector<Field>& out,
                 std::vector<zel::protocol::ByteRange>* secrets = nullptr)
      : reader_(in), out_(out), secrets_(secrets) {}

  uint32_t fieldStart() const { return fieldStart_; }
  int32_t status() const { return reader_.status(); }
  ZEL_BUF_BufferReader& in() { return reader_.reader(); }

  template <typename T>
  void Value(const char* name, T& value) {
    Begin();
    reader_.Value(name, value);
    if constexpr (std::is_signed_v<T>) {
      Add(name, zel::protocol::ShowSigned(value));
    } else {
      Add(name,
          IsUIDName(name) ? zel::protocol::ShowUID(value) : zel::protocol::ShowUnsigned(value));
    }
  }
  void Text(const char* name, ZELString& text) {
    Begin();
    reader_.Text(name, text);
    Add(name, zel::protocol::ShowText(text));
  }
  void Wide(const char* name, char16_t*& text) {
    Begin();
    reader_.Wide(name, text);
    Add(name, text == nullptr ? "null" : zel::protocol::ShowText(ZELString(text)));
  }
  void Texts(const char* name, ZELMultiString& list) {
    Begin();
    reader_.Texts(name, list);
    std::string shown = "[";
    for (const ZELString& item : list.items()) {
      shown += (shown.size() > 1 ? ", " : "") + zel::protocol::ShowText(item);
    }
    Add(name, shown + "]");
  }
  template <typename T>
  void Block(const char* name, uint32_t& count, T*& values) {
    Begin();
    reader_.Block(name, count, values);
    AddList(name, count, values);
  }
  template <typename T>
  void List(const char* name, uint32_t& count, T*& values) {
    Block(name, count, values);
  }
  template <typename T>
  void List(const char* name, uint32_t& count, ZEL_SimpleArray<T>& values) {
    Begin();
    reader_.List(name, count, values);
    std::string shown = "[";
    for (uint32_t i = 0; i < count; ++i) {
      shown += (i != 0 ? ", " : "") + zel::protocol::ShowUID(values[i]);
    }
    Add(name, shown + "]");
  }
  void Bytes(const char* name, uint32_t& length, uint8_t*& bytes, Secrecy secret) {
    Begin();
    reader_.Bytes(name, length, bytes, secret);
    AddBytes(name, bytes, length, secret);
  }
  void Bounded(const char* name, uint32_t& length, uint8_t* bytes, uint32_t capacity,
               Secrecy secret) {
    Begin();
    reader_.Bounded(name, length, bytes, capacity, secret);
    AddBytes(name, bytes, length, secret);
  }
  void Fixed(const char* name, uint8_t*& bytes, uint32_t length, Secrecy secret) {
    Begin();
    reader_.Fixed(name, bytes, length, secret);
    AddBytes(name, bytes, length, secret);
  }
  template <typename T>
  void Records(const char* name, uint32_t& count, T*& items, uint64_t minEach) {
    Begin();
    if (reader_.status() != 0) return;
    uint32_t n = 0;
    in() >> n;
    Add(name, zel::protocol::ShowUnsigned(n) + " items");
    count = 0;
    if (n == 0) return;
    EnsureRoom(in(), n, minEach);
    items = NewRecords<T>(n);
    if (items == nullptr) return Stop();
    count = n;
    for (uint32_t i = 0; i < n && reader_.status() == 0; ++i) Nested(name, i, items[i]);
  }
  template <typename A, typename B>
  void Pairs(const char* name, uint32_t& count, A*& as, B*& bs, uint64_t minEach) {
    Begin();
    if (reader_.status() != 0) return;
    in() >> count;
    Add(name, zel::protocol::ShowUnsigned(count) + " items");
    if (count == 0) return;
    EnsureRoom(in(), count, minEach);
    as = zel::sal::NewArray<A>(count);
    bs = as != nullptr ? zel::sal::NewArray<B>(count) : nullptr;
    if (bs == nullptr) return Stop();
    for (uint32_t i = 0; i < count && reader_.status() == 0; ++i) {
      Nested(name, i, as[i]);
      Nested(name, i, bs[i]);
    }
  }
  template <typename T>
  void Record(const char* name, T& item) {
    const std::string outer = prefix_;
    prefix_ += std::string(name) + ".";
    Walk(*this, item);
    prefix_ = outer;
  }
  void Blob(const char* name, UM_AcctIDBlobWriter*, UM_AccountIdentity& identity) {
    Begin();
    reader_.Blob(name, nullptr, identity);
    const std::string at = std::string(name) + ".";
    Add((at + "authority").c_str(), zel::protocol::ShowText(identity.authority));
    Add((at + "domain").c_str(), zel::protocol::ShowText(identity.domain));
    Add((at + "accountName").c_str(), zel::protocol::ShowText(identity.accountName));
    Add((at + "accountID").c_str(),
        zel::protocol::ShowBytes(identity.accountID.data(),
                                 static_cast<uint32_t>(identity.accountID.size())));
  }

  // A field read by hand (the tree framing).
  void Begin() { fieldStart_ = in().GetOffset(); }
  void Add(const char* name, std::string value) {
    out_.push_back(Field{prefix_ + name, std::move(value), false});
  }
  void Enter(const std::string& prefix) { prefix_ = prefix; }

 private:
  template <typename T>
  void Nested(const char* name, uint32_t index, T& item) {
    const std::string outer = prefix_;
    prefix_ += std::string(name) + "[" + std::to_string(index) + "].";
    Walk(*this, item);
    prefix_ = outer;
  }
  template <typename T>
  void AddList(const char* name, uint32_t count, const T* values) {
    std::string shown = "[";
    for (uint32_t i = 0; values != nullptr && i < count; ++i) {
      shown += (i != 0 ? ", " : "") + (IsUIDName(name) ? zel::protocol::ShowUID(values[i])
                                                       : zel::protocol::ShowUnsigned(values[i]));
    }
    Add(name, shown + "]");
  }
  void AddBytes(const char* name, const uint8_t* bytes, uint32_t length, Secrecy secret) {
    if (secret == kSecret) {
      out_.push_back(Field{prefix_ + name, std::string(), true});  // never copied in
      // The `length` bytes just read, when they were: a reader out of storage reads nothing.
      const uint32_t end = in().GetOffset();
      if (secrets_ != nullptr && reader_.status() == 0 && length <= end) {
        secrets_->push_back(zel::protocol::ByteRange{end - length, end});
      }
    } else {
      Add(name, zel::protocol::ShowBytes(bytes, length));
    }
  }
  // No storage to describe with: stop like a payload that ends.
  void Stop() { throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kNoMemory); }

  FieldReader reader_;
  std::vector<Field>& out_;
  std::vector<zel::protocol::ByteRange>* secrets_;
  std::string prefix_;
  uint32_t fieldStart_ = 0;
};

// Walks a message and releases what reading it allocated, however the walk ends.
template <typename M>
void Describe(FieldDescriber& d, M& message) {
  struct Release {
    M& message;
    ~Release() { ReleaseMessage(message); }
  } release{message};
  Walk(d, message);
}

// One node's fields under `prefix`.
void DescribeNode(FieldDescriber& d, const std::string& prefix) {
  d.Enter(prefix);
  ZEL_AdminToolObject node(u"");
  Walk(d, node);
}

// Event 81: the framing, then each section's items by their op.
void DescribeTreeOperation(FieldDescriber& d, Direction direction) {
  int32_t status = 0;
  int16_t sections = 0;
  d.Begin();
  d.in() >> status;
  d.Add("status", zel::protocol::ShowSigned(status));
  if (direction == Direction::kReply && status != 0) return;  // a failed group reply
  d.Begin();
  d.in() >> sections;
  d.Add("sections", zel::protocol::ShowSigned(sections));
  for (int16_t s = 0; s < sections; ++s) {
    const std::string at = "sections[" + std::to_string(s) + "].";
    d.Enter(at);
    int16_t op = 0;
    int16_t items = 0;
    ZELString parentDN;
    d.Begin();
    ReadSectionHead(d.in(), op, parentDN, items);
    d.Add("op", zel::protocol::ShowSigned(op));
    d.Add("parentDN", zel::protocol::ShowText(parentDN));
    d.Add("items", zel::protocol::ShowSigned(items));
    for (int16_t i = 0; i < items; ++i) {
      const std::string item = at + "items[" + std::to_string(i) + "].";
      if (op == kOpDelete || op == kOpChange) {
        d.Enter(item);
        ZELString name;
        d.Text("name", name);
      }
      if (op != kOpDelete) DescribeNode(d, item + (op == kOpChange ? "node." : ""));
    }
  }
  d.Enter("");
}

// Event 95: the framing and the container DNs.
void DescribeContainerChange(FieldDescriber& d) {
  int32_t status = 0;
  int16_t containers = 0;
  int16_t marker = 0;
  d.Begin();
  ReadContainerChangeHead(d.in(), status, containers, marker);
  d.Add("status", zel::protocol::ShowSigned(status));
  d.Add("containers", zel::protocol::ShowSigned(containers));
  d.Add("marker", zel::protocol::ShowSigned(marker));
  for (int16_t i = 0; i < containers; ++i) {
    ZELString dn;
    d.Text(("containerDNs[" + std::to_string(i) + "]").c_str(), dn);
  }
}

// Event 82: the parent DN, the group node's head and the credentials.
void DescribeGroupRequest(FieldDescriber& d) {
  ZELString parentDN;
  d.Text("parentDN", parentDN);
  NodeHead head;
  d.Record("group", head);
  GroupCredentials credentials;
  d.Record("credentials", credentials);
}

// The request of `eventID`; false when the library has none.
bool DescribeRequest(FieldDescriber& d, uint16_t eventID) {
  ZELString first, second;
  switch (eventID) {
    case ev::kDeleteUser: {
      DeleteUserRequest m;
      Describe(d, m);
      return true;
    }
    case ev::kGetUsersDNs:
    case ev::kGetPermissionsForCurrentUser:
    case ev::kDeleteCapabilityObjectsInDB:
      return true;  // empty
    case ev::kAddDefaultUser: {
      AddDefaultUserRequest m{first, second};
      Describe(d, m);
      return true;
    }
    case ev::kIsUserKeldraAdmin: {
      IsUserKeldraAdminRequest m;
      Describe(d, m);
      return true;
    }
    case ev::kLogon2: {
      Logon2Request m{first};
      Describe(d, m);
      return true;
    }
    case ev::kAddUsers2: {
      AddUsers2Request m;
      Describe(d, m);
      return true;
    }
    case ev::kSetPrivilege2: {
      SetPrivilege2Request m;
      Describe(d, m);
      return true;
    }
    case ev::kGetPrivilege2: {
      GetPrivilege2Request m;
      Describe(d, m);
      return true;
    }
    case ev::kGetStaticGroupPermission: {
      GetStaticGroupPermissionRequest m{first};
      Describe(d, m);
      return true;
    }
    case ev::kEnumerateKeldraAdmins: {
      EnumerateKeldraAdminsRequest m;
      Describe(d, m);
      return true;
    }
    case ev::kEnumerateGroupWithCredentials:
      DescribeGroupRequest(d);
      return true;
    case ev::kAddDefaultUser2: {
      AddDefaultUser2Request m{first, second};
      Describe(d, m);
      return true;
    }
    case ev::kGetVoAdminAccountsForTicket: {
      GetVoAdminAccountsForTicketRequest m;
      Describe(d, m);
      return true;
    }
    case ev::kAddUsers3: {
      AllowedFolders folders;
      AddUsers3Request m{0, nullptr, nullptr, folders};
      Describe(d, m);
      return true;
    }
    case ev::kSetPrivilege3: {
      ZEL_ADMIN_USERINFO2 info;
      ZEL_ADMIN_CONTACTINFO contact;
      SetPrivilege3Request m{info, contact};
      Describe(d, m);
      return true;
    }
    case ev::kGetPrivilege3: {
      GetPrivilege3Request m;
      Describe(d, m);
      return true;
    }
    case ev::kEnumerateKeldraAdmins2: {
      EnumerateKeldraAdmins2Request m;
      Describe(d, m);
      return true;
    }
    case ev::kGetAdminUIDByName: {
      GetAdminUIDByNameRequest m;
      Describe(d, m);
      return true;
    }
    case ev::kGetAdminNameByUID: {
      GetAdminNameByUIDRequest m;
      Describe(d, m);
      return true;
    }
    case ev::kGetPrivilegesByBlob: {
      GetPrivilegesByBlobRequest m;
      Describe(d, m);
      return true;
    }
    default:
      return false;
  }
}

// The fields of the reply of `eventID` after its result; false when the library has none.
bool DescribeReplyFields(FieldDescriber& d, uint16_t eventID, int32_t result) {
  uint32_t a = 0, b = 0, n = 0, m2 = 0;
  uint32_t* values = nullptr;
  uint64_t* uids = nullptr;
  ZELString text;
  switch (eventID) {
    case ev::kDeleteUser:
    case ev::kAddDefaultUser:
    case ev::kAddUsers2:
    case ev::kSetPrivilege2:
    case ev::kAddDefaultUser2:
    case ev::kAddUsers3:
    case ev::kSetPrivilege3:
    case ev::kDeleteCapabilityObjectsInDB:
      return true;  // the result only
    case ev::kGetUsersDNs: {
      ZELMultiString dns;
      GetUsersDNsReply m{dns};
      if (result == 0) Describe(d, m);  // the names come with 0 only
      return true;
    }
    case ev::kIsUserKeldraAdmin: {
      IsUserKeldraAdminReply m;
      Describe(d, m);
      return true;
    }
    case ev::kLogon2: {
      Logon2Reply m{text, a, n, values, m2, uids};
      Describe(d, m);
      return true;
    }
    case ev::kGetPrivilege2: {
      GetPrivilege2Reply m{a, b, n, values};
      Describe(d, m);
      return true;
    }
    case ev::kGetStaticGroupPermission: {
      AdminObjectCapability* caps = nullptr;
      GetStaticGroupPermissionReply m{text, n, caps};
      Describe(d, m);
      return true;
    }
    case ev::kEnumerateKeldraAdmins: {
      ZEL_ADMIN_USERINFO* records = nullptr;
      EnumerateKeldraAdminsReply m{n, records};
      Describe(d, m);
      return true;
    }
    case ev::kGetVoAdminAccountsForTicket: {
      _VoAdminAccounts accounts{};
      GetVoAdminAccountsForTicketReply m{accounts};
      if (result == 0) Describe(d, m);  // other results carry nothing
      return true;
    }
    case ev::kGetPrivilege3: {
      ZEL_ADMIN_USERINFO2 info;
      ZEL_ADMIN_CONTACTINFO contact;
      GetPrivilege3Reply m{info, contact};
      Describe(d, m);
      return true;
    }
    case ev::kEnumerateKeldraAdmins2: {
      ZEL_ADMIN_USERINFO2* records = nullptr;
      ZEL_ADMIN_CONTACTINFO* contacts = nullptr;
      EnumerateKeldraAdmins2Reply m{n, records, contacts};
      Describe(d, m);
      return true;
    }
    case ev::kGetPermissionsForCurrentUser: {
      AllowedFolders folders;
      GetPermissionsForCurrentUserReply m{folders};
      Describe(d, m);
      return true;
    }
    case ev::kGetAdminUIDByName: {
      uint64_t uid = 0;
      GetAdminUIDByNameReply m{uid};
      Describe(d, m);
      return true;
    }
    case ev::kGetAdminNameByUID: {
      char16_t* first = nullptr;
      char16_t* second = nullptr;
      GetAdminNameByUIDReply m{first, second};
      Describe(d, m);
      return true;
    }
    case ev::kGetPrivilegesByBlob: {
      uint8_t flag = 0;
      GetPrivilegesByBlobReply m{flag, a, n, values};
      Describe(d, m);
      return true;
    }
    default:
      return false;
  }
}

// Walks the payload; false when the library has no message for the event that way.
bool DescribePayload(FieldDescriber& d, uint16_t eventID, Direction direction) {
  if (eventID == ev::kTreeOperation && direction != Direction::kRequest) {
    DescribeTreeOperation(d, direction);
    return true;
  }
  if (eventID == ev::kContainerChange && direction == Direction::kNotification) {
    DescribeContainerChange(d);
    return true;
  }
  if (eventID == ev::kPostAdminNameUnResolved && direction == Direction::kNotification) {
    AdminNameUnresolvedNotification m;
    Describe(d, m);
    return true;
  }
  if (direction == Direction::kRequest) return DescribeRequest(d, eventID);
  if (direction != Direction::kReply) return false;
  int32_t result = 0;
  d.Value("result", result);
  return result < 0 || DescribeReplyFields(d, eventID, result);
}

}  // namespace

uint32_t BlankSecrets(uint16_t eventID, Direction direction, uint8_t* payload, uint32_t size) {
  zel::protocol::SecretMap map;
  if (eventID < ev::kFirstOfOurs ||
      !zel::protocol::MapSecretsOfOurs(eventID, direction, payload, size, map)) {
    std::vector<Field> fields;
    ZEL_BUF_BufferReader in(payload, size);
    FieldDescriber describer(in, fields, &map.secrets);
    try {
      // An event without a message that way keeps nothing.
      map.kept = DescribePayload(describer, eventID, direction) ? in.GetOffset() : 0;
    } catch (const ZEL_BUF_ReadException&) {
      map.kept = describer.fieldStart();
    }
  }
  zel::protocol::ZeroUnkept(map, payload, size);
  return std::min(map.kept, size);
}

EventDescription DescribeEvent(uint16_t eventID, Direction direction, const uint8_t* payload,
                               uint32_t size) {
  EventDescription out;
  if (eventID >= ev::kFirstOfOurs &&
      zel::protocol::DescribeEventOfOurs(eventID, direction, payload, size, out)) {
    return out;
  }
  out.eventID = eventID;
  const zel::protocol::EventInfo* info = zel::protocol::FindEvent(eventID);
  out.eventName = info != nullptr ? info->name : "event " + std::to_string(eventID);
  out.direction = zel::protocol::DirectionName(direction);
  ZEL_BUF_BufferReader in(payload, size);
  FieldDescriber describer(in, out.fields);
  try {
    out.parsed = DescribePayload(describer, eventID, direction);
    out.trailing = out.parsed ? in.GetRemaining() : 0;
  } catch (const ZEL_BUF_ReadException&) {
    out.parsed = false;
    out.stoppedAt = describer.fieldStart();
  }
  return out;
}

}  // namespace zel::admintool
