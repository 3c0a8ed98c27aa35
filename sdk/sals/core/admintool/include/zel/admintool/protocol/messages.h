// The requests and replies of the library's events, each with its fields listed once (see
// grammar.h). A reply's int32 result travels first and is not part of its message: the fields
// follow only when it is not negative. Requests name their event, interface level and size-hint
// rule. Replies refer to where their fields go, so that an operation reads straight into its
// outputs and the receiving side into its own variables.
//
// Records shared by several events:
//   account record      ZELString name, ZELString authority, uint32 attribute1,
//                       uint32 attribute2, privilege block
//   privilege block     uint32 n, n x uint32 raw (absent when 0)
//   capability record   uint64 objectUID, privilege block
//   folder entry        uint64 folderUID, uint32 n, n x uint32 tasks raw
//   folder list         uint32 n, n folder entries
//   contact record      three ZELStrings
//   administrator (3rd) account record, uint64 adminUID, folder list
#pragma once

#include <cstdint>
#include <string>

#include "zel/admintool/admin_records.h"
#include "zel/admintool/protocol/grammar.h"
#include "zel/protocol/events.h"

namespace zel::admintool {

namespace ev = zel::protocol::event;

// The least each record takes on the wire: what a count is checked against before allocating.
inline constexpr uint64_t kMinAccountRecord = 4 + 4 + 4 + 4 + 4;
inline constexpr uint64_t kMinCapabilityRecord = 8 + 4;
inline constexpr uint64_t kMinFolderEntry = 8 + 4;
inline constexpr uint64_t kMinAdministrator2 = kMinAccountRecord + 8 + 4 + 3 * 4;
inline constexpr uint64_t kMinAccountAndContact = kMinAccountRecord + 3 * 4;

}  // namespace zel::admintool

// --- Records ---------------------------------------------------------------------------------

template <>
struct zel::admintool::Grammar<ZEL_ADMIN_USERINFO> {
  template <typename V>
  static void Fields(V& v, ZEL_ADMIN_USERINFO& u) {
    v.Text("accountName", u.accountName);
    v.Text("accountAuthority", u.accountAuthority);
    v.Value("attribute1", u.attribute1);
    v.Value("attribute2", u.attribute2);
    v.Block("privileges", u.privilegeCount, u.privileges);
  }
};

template <>
struct zel::admintool::Grammar<ZEL_ADMIN_USERINFO2> {
  template <typename V>
  static void Fields(V& v, ZEL_ADMIN_USERINFO2& u) {
    Grammar<ZEL_ADMIN_USERINFO>::Fields(v, u);
    v.Value("adminUID", u.adminUID);
    v.Record("allowedFolders", u.allowedFolders);
  }
};

template <>
struct zel::admintool::Grammar<AdminObjectCapability> {
  template <typename V>
  static void Fields(V& v, AdminObjectCapability& c) {
    v.Value("objectUID", c.objectUID);
    v.Block("privileges", c.privilegeCount, c.privileges);
  }
};

template <>
struct zel::admintool::Grammar<FolderPermissions> {
  template <typename V>
  static void Fields(V& v, FolderPermissions& f) {
    v.Value("folderUID", f.folderUID);
    v.Block("tasks", f.taskCount, f.tasks);
  }
};

template <>
struct zel::admintool::Grammar<AllowedFolders> {
  template <typename V>
  static void Fields(V& v, AllowedFolders& list) {
    v.Records("folders", list.folderCount, list.folders, kMinFolderEntry);
  }
};

template <>
struct zel::admintool::Grammar<ZEL_ADMIN_CONTACTINFO> {
  template <typename V>
  static void Fields(V& v, ZEL_ADMIN_CONTACTINFO& c) {
    v.Text("contact1", c.contact1);
    v.Text("contact2", c.contact2);
    v.Text("contact3", c.contact3);
  }
};

namespace zel::admintool {

// Lists a message's fields through its Fields member.
#define ZEL_MESSAGE_GRAMMAR(Message)       \
  template <>                              \
  struct Grammar<Message> {                \
    template <typename V>                  \
    static void Fields(V& v, Message& m) { \
      m.Fields(v);                         \
    }                                      \
  }

// --- Event 27, level 3: uint32 n, n x uint64 one by one -----------------------------------------
struct DeleteUserRequest {
  static constexpr uint16_t kEvent = ev::kDeleteUser;
  static constexpr uint8_t kLevel = 3;
  uint32_t count = 0;
  uint64_t* uids = nullptr;
  uint32_t SizeHint() const { return 8 * count + 4; }
  template <typename V>
  void Fields(V& v) {
    v.List("uids", count, uids);
  }
};
ZEL_MESSAGE_GRAMMAR(DeleteUserRequest);

// --- Event 30, first generation: empty; reply (result 0 only): ZELMultiString -----------------
struct GetUsersDNsRequest {
  static constexpr uint16_t kEvent = ev::kGetUsersDNs;
  static constexpr uint8_t kLevel = 0;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V&) {}
};
ZEL_MESSAGE_GRAMMAR(GetUsersDNsRequest);
struct GetUsersDNsReply {
  ZELMultiString& dns;
  template <typename V>
  void Fields(V& v) {
    v.Texts("dns", dns);
  }
};
ZEL_MESSAGE_GRAMMAR(GetUsersDNsReply);

// --- Event 31, first generation: two ZELStrings ------------------------------------------------
struct AddDefaultUserRequest {
  static constexpr uint16_t kEvent = ev::kAddDefaultUser;
  static constexpr uint8_t kLevel = 0;
  ZELString& first;
  ZELString& second;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V& v) {
    v.Text("first", first);
    v.Text("second", second);
  }
};
ZEL_MESSAGE_GRAMMAR(AddDefaultUserRequest);

// --- Event 48, level 1: account-ID blob; reply: uint32 answer ---------------------------------
struct IsUserKeldraAdminRequest {
  static constexpr uint16_t kEvent = ev::kIsUserKeldraAdmin;
  static constexpr uint8_t kLevel = 1;
  UM_AcctIDBlobWriter* writer = nullptr;  // what is sent
  UM_AccountIdentity identity;            // what is read
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V& v) {
    v.Blob("account", writer, identity);
  }
};
ZEL_MESSAGE_GRAMMAR(IsUserKeldraAdminRequest);
struct IsUserKeldraAdminReply {
  uint32_t answer = 0;
  template <typename V>
  void Fields(V& v) {
    v.Value("answer", answer);
  }
};
ZEL_MESSAGE_GRAMMAR(IsUserKeldraAdminReply);

// --- Event 65, level 2: ZELString name, uint32 n, n bytes (enciphered credentials) ------------
// Reply: ZELString resolvedName, uint32 logonValue, uint32 n, n x uint32 raw, uint32 m,
// m x uint64 raw.
struct Logon2Request {
  static constexpr uint16_t kEvent = ev::kLogon2;
  static constexpr uint8_t kLevel = 2;
  ZELString& logonName;
  uint32_t credentialLength = 0;
  uint8_t* credentials = nullptr;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V& v) {
    v.Text("logonName", logonName);
    v.Bytes("credentials", credentialLength, credentials, kSecret);
  }
};
ZEL_MESSAGE_GRAMMAR(Logon2Request);
struct Logon2Reply {
  ZELString& resolvedName;
  uint32_t& logonValue;
  uint32_t& valueCount;
  uint32_t*& values;
  uint32_t& uidCount;
  uint64_t*& uids;
  template <typename V>
  void Fields(V& v) {
    v.Text("resolvedName", resolvedName);
    v.Value("logonValue", logonValue);
    v.Block("values", valueCount, values);
    v.Block("uids", uidCount, uids);
  }
};
ZEL_MESSAGE_GRAMMAR(Logon2Reply);

// --- Event 67, level 2: uint32 n, n account records -------------------------------------------
struct AddUsers2Request {
  static constexpr uint16_t kEvent = ev::kAddUsers2;
  static constexpr uint8_t kLevel = 2;
  uint32_t count = 0;
  ZEL_ADMIN_USERINFO* users = nullptr;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V& v) {
    v.Records("users", count, users, kMinAccountRecord);
  }
};
ZEL_MESSAGE_GRAMMAR(AddUsers2Request);

// --- Event 69, level 2: uint64 adminUID, uint32 attribute1, uint32 attribute2, privilege block -
struct SetPrivilege2Request {
  static constexpr uint16_t kEvent = ev::kSetPrivilege2;
  static constexpr uint8_t kLevel = 2;
  uint64_t adminUID = 0;
  uint32_t attribute1 = 0;
  uint32_t attribute2 = 0;
  uint32_t privilegeCount = 0;
  uint32_t* privileges = nullptr;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V& v) {
    v.Value("adminUID", adminUID);
    v.Value("attribute1", attribute1);
    v.Value("attribute2", attribute2);
    v.Block("privileges", privilegeCount, privileges);
  }
};
ZEL_MESSAGE_GRAMMAR(SetPrivilege2Request);

// --- Event 71, level 2: uint64 adminUID; reply: uint32 attribute1, uint32 attribute2, block ----
struct GetPrivilege2Request {
  static constexpr uint16_t kEvent = ev::kGetPrivilege2;
  static constexpr uint8_t kLevel = 2;
  uint64_t adminUID = 0;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V& v) {
    v.Value("adminUID", adminUID);
  }
};
ZEL_MESSAGE_GRAMMAR(GetPrivilege2Request);
struct GetPrivilege2Reply {
  uint32_t& attribute1;
  uint32_t& attribute2;
  uint32_t& privilegeCount;
  uint32_t*& privileges;
  template <typename V>
  void Fields(V& v) {
    v.Value("attribute1", attribute1);
    v.Value("attribute2", attribute2);
    v.Block("privileges", privilegeCount, privileges);
  }
};
ZEL_MESSAGE_GRAMMAR(GetPrivilege2Reply);

// --- Event 73, level 2: ZELString group; reply: ZELString group, uint32 n, n capability records
struct GetStaticGroupPermissionRequest {
  static constexpr uint16_t kEvent = ev::kGetStaticGroupPermission;
  static constexpr uint8_t kLevel = 2;
  ZELString& group;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V& v) {
    v.Text("group", group);
  }
};
ZEL_MESSAGE_GRAMMAR(GetStaticGroupPermissionRequest);
struct GetStaticGroupPermissionReply {
  ZELString& group;
  uint32_t& count;
  AdminObjectCapability*& capabilities;
  template <typename V>
  void Fields(V& v) {
    v.Text("group", group);
    v.Records("capabilities", count, capabilities, kMinCapabilityRecord);
  }
};
ZEL_MESSAGE_GRAMMAR(GetStaticGroupPermissionReply);

// --- Event 75, level 2: uint8 selectorA, uint8 selectorB; reply: uint32 n, n account records ---
struct EnumerateKeldraAdminsRequest {
  static constexpr uint16_t kEvent = ev::kEnumerateKeldraAdmins;
  static constexpr uint8_t kLevel = 2;
  uint8_t selectorA = 0;
  uint8_t selectorB = 0;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V& v) {
    v.Value("selectorA", selectorA);
    v.Value("selectorB", selectorB);
  }
};
ZEL_MESSAGE_GRAMMAR(EnumerateKeldraAdminsRequest);
struct EnumerateKeldraAdminsReply {
  uint32_t& count;
  ZEL_ADMIN_USERINFO*& records;
  template <typename V>
  void Fields(V& v) {
    v.Records("records", count, records, kMinAccountRecord);
  }
};
ZEL_MESSAGE_GRAMMAR(EnumerateKeldraAdminsReply);

// --- Event 83, level 3: ZELString first, ZELString second, uint8 option; exact hint -----------
struct AddDefaultUser2Request {
  static constexpr uint16_t kEvent = ev::kAddDefaultUser2;
  static constexpr uint8_t kLevel = 3;
  ZELString& first;
  ZELString& second;
  uint8_t option = 0;
  uint32_t SizeHint() const { return WireSize(first) + WireSize(second) + 1; }
  template <typename V>
  void Fields(V& v) {
    v.Text("first", first);
    v.Text("second", second);
    v.Value("option", option);
  }
};
ZEL_MESSAGE_GRAMMAR(AddDefaultUser2Request);

// --- Event 86, level 4: 120 ticket bytes; reply (result 0 only): uint32 n, n x uint64 raw,
// four uint32 values --------------------------------------------------------------------------
inline constexpr uint32_t kTicketBytes = 120;
struct GetVoAdminAccountsForTicketRequest {
  static constexpr uint16_t kEvent = ev::kGetVoAdminAccountsForTicket;
  static constexpr uint8_t kLevel = 4;
  uint8_t* ticket = nullptr;
  uint32_t SizeHint() const { return kTicketBytes; }
  template <typename V>
  void Fields(V& v) {
    v.Fixed("ticket", ticket, kTicketBytes, kSecret);
  }
};
ZEL_MESSAGE_GRAMMAR(GetVoAdminAccountsForTicketRequest);
struct GetVoAdminAccountsForTicketReply {
  _VoAdminAccounts& accounts;
  template <typename V>
  void Fields(V& v) {
    v.Block("accountUIDs", accounts.accountCount, accounts.accountUIDs);
    v.Value("value1", accounts.value1);
    v.Value("value2", accounts.value2);
    v.Value("value3", accounts.value3);
    v.Value("value4", accounts.value4);
  }
};
ZEL_MESSAGE_GRAMMAR(GetVoAdminAccountsForTicketReply);

// --- Event 87, level 4: uint32 n, n x (account record, contact record), folder list -----------
struct AddUsers3Request {
  static constexpr uint16_t kEvent = ev::kAddUsers3;
  static constexpr uint8_t kLevel = 4;
  uint32_t count = 0;
  ZEL_ADMIN_USERINFO* users = nullptr;
  ZEL_ADMIN_CONTACTINFO* contacts = nullptr;
  AllowedFolders& folders;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V& v) {
    v.Pairs("accounts", count, users, contacts, kMinAccountAndContact);
    v.Record("allowedFolders", folders);
  }
};
ZEL_MESSAGE_GRAMMAR(AddUsers3Request);

// --- Event 88, level 4: uint64 adminUID, uint32 attribute1, uint32 attribute2, privilege block,
// folder list, contact record (the names are not sent) ------------------------------------------
struct SetPrivilege3Request {
  static constexpr uint16_t kEvent = ev::kSetPrivilege3;
  static constexpr uint8_t kLevel = 4;
  ZEL_ADMIN_USERINFO2& info;
  ZEL_ADMIN_CONTACTINFO& contact;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V& v) {
    v.Value("adminUID", info.adminUID);
    v.Value("attribute1", info.attribute1);
    v.Value("attribute2", info.attribute2);
    v.Block("privileges", info.privilegeCount, info.privileges);
    v.Record("allowedFolders", info.allowedFolders);
    v.Record("contact", contact);
  }
};
ZEL_MESSAGE_GRAMMAR(SetPrivilege3Request);

// --- Event 89, level 4: uint64 adminUID; reply: uint32 attribute1, uint32 attribute2, privilege
// block, folder list, contact record -----------------------------------------------------------
struct GetPrivilege3Request {
  static constexpr uint16_t kEvent = ev::kGetPrivilege3;
  static constexpr uint8_t kLevel = 4;
  uint64_t adminUID = 0;
  uint32_t SizeHint() const { return 8; }
  template <typename V>
  void Fields(V& v) {
    v.Value("adminUID", adminUID);
  }
};
ZEL_MESSAGE_GRAMMAR(GetPrivilege3Request);
struct GetPrivilege3Reply {
  ZEL_ADMIN_USERINFO2& info;
  ZEL_ADMIN_CONTACTINFO& contact;
  template <typename V>
  void Fields(V& v) {
    v.Value("attribute1", info.attribute1);
    v.Value("attribute2", info.attribute2);
    v.Block("privileges", info.privilegeCount, info.privileges);
    v.Record("allowedFolders", info.allowedFolders);
    v.Record("contact", contact);
  }
};
ZEL_MESSAGE_GRAMMAR(GetPrivilege3Reply);

// --- Event 90, level 4: uint8 selectorA, uint8 selectorB; reply: uint32 n,
// n x (administrator, contact record) ------------------------------------------------------------
struct EnumerateKeldraAdmins2Request {
  static constexpr uint16_t kEvent = ev::kEnumerateKeldraAdmins2;
  static constexpr uint8_t kLevel = 4;
  uint8_t selectorA = 0;
  uint8_t selectorB = 0;
  uint32_t SizeHint() const { return 2; }
  template <typename V>
  void Fields(V& v) {
    v.Value("selectorA", selectorA);
    v.Value("selectorB", selectorB);
  }
};
ZEL_MESSAGE_GRAMMAR(EnumerateKeldraAdmins2Request);
struct EnumerateKeldraAdmins2Reply {
  uint32_t& count;
  ZEL_ADMIN_USERINFO2*& records;
  ZEL_ADMIN_CONTACTINFO*& contacts;
  template <typename V>
  void Fields(V& v) {
    v.Pairs("administrators", count, records, contacts, kMinAdministrator2);
  }
};
ZEL_MESSAGE_GRAMMAR(EnumerateKeldraAdmins2Reply);

// --- Event 91, level 4: empty; reply: folder list ---------------------------------------------
struct GetPermissionsForCurrentUserRequest {
  static constexpr uint16_t kEvent = ev::kGetPermissionsForCurrentUser;
  static constexpr uint8_t kLevel = 4;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V&) {}
};
ZEL_MESSAGE_GRAMMAR(GetPermissionsForCurrentUserRequest);
struct GetPermissionsForCurrentUserReply {
  AllowedFolders& folders;
  template <typename V>
  void Fields(V& v) {
    v.Record("allowedFolders", folders);
  }
};
ZEL_MESSAGE_GRAMMAR(GetPermissionsForCurrentUserReply);

// --- Event 92, level 4: empty -----------------------------------------------------------------
struct DeleteCapabilityObjectsInDBRequest {
  static constexpr uint16_t kEvent = ev::kDeleteCapabilityObjectsInDB;
  static constexpr uint8_t kLevel = 4;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V&) {}
};
ZEL_MESSAGE_GRAMMAR(DeleteCapabilityObjectsInDBRequest);

// --- Event 93, level 4: two wide strings; hint: their lengths in characters; reply: uint64 uid --
struct GetAdminUIDByNameRequest {
  static constexpr uint16_t kEvent = ev::kGetAdminUIDByName;
  static constexpr uint8_t kLevel = 4;
  char16_t* firstName = nullptr;
  char16_t* secondName = nullptr;
  uint32_t SizeHint() const {
    return static_cast<uint32_t>(std::char_traits<char16_t>::length(firstName) +
                                 std::char_traits<char16_t>::length(secondName));
  }
  template <typename V>
  void Fields(V& v) {
    v.Wide("firstName", firstName);
    v.Wide("secondName", secondName);
  }
};
ZEL_MESSAGE_GRAMMAR(GetAdminUIDByNameRequest);
struct GetAdminUIDByNameReply {
  uint64_t& uid;
  template <typename V>
  void Fields(V& v) {
    v.Value("uid", uid);
  }
};
ZEL_MESSAGE_GRAMMAR(GetAdminUIDByNameReply);

// --- Event 94, level 4: uint64 uid; reply: two wide strings -----------------------------------
struct GetAdminNameByUIDRequest {
  static constexpr uint16_t kEvent = ev::kGetAdminNameByUID;
  static constexpr uint8_t kLevel = 4;
  uint64_t uid = 0;
  uint32_t SizeHint() const { return 8; }
  template <typename V>
  void Fields(V& v) {
    v.Value("uid", uid);
  }
};
ZEL_MESSAGE_GRAMMAR(GetAdminNameByUIDRequest);
struct GetAdminNameByUIDReply {
  char16_t*& firstName;
  char16_t*& secondName;
  template <typename V>
  void Fields(V& v) {
    v.Wide("firstName", firstName);
    v.Wide("secondName", secondName);
  }
};
ZEL_MESSAGE_GRAMMAR(GetAdminNameByUIDReply);

// --- Event 96, level 4: account-ID blob; reply: uint8 flag, uint32 attribute, uint32 n,
// n x uint32 raw ----------------------------------------------------------------------------------
struct GetPrivilegesByBlobRequest {
  static constexpr uint16_t kEvent = ev::kGetPrivilegesByBlob;
  static constexpr uint8_t kLevel = 4;
  UM_AcctIDBlobWriter* writer = nullptr;
  UM_AccountIdentity identity;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V& v) {
    v.Blob("account", writer, identity);
  }
};
ZEL_MESSAGE_GRAMMAR(GetPrivilegesByBlobRequest);
struct GetPrivilegesByBlobReply {
  uint8_t& flag;
  uint32_t& attribute;
  uint32_t& count;
  uint32_t*& privileges;
  template <typename V>
  void Fields(V& v) {
    v.Value("flag", flag);
    v.Value("attribute", attribute);
    v.Block("privileges", count, privileges);
  }
};
ZEL_MESSAGE_GRAMMAR(GetPrivilegesByBlobReply);

// --- Event 97, one-way: uint32 value, uint32 n, n x uint64 one by one -------------------------
struct AdminNameUnresolvedNotification {
  static constexpr uint16_t kEvent = ev::kPostAdminNameUnResolved;
  static constexpr uint8_t kLevel = 0;
  uint32_t value = 0;
  uint32_t count = 0;
  uint64_t* uids = nullptr;
  uint32_t SizeHint() const { return 0; }
  template <typename V>
  void Fields(V& v) {
    v.Value("value", value);
    v.List("uids", count, uids);
  }
};
ZEL_MESSAGE_GRAMMAR(AdminNameUnresolvedNotification);

}  // namespace zel::admintool

#undef ZEL_MESSAGE_GRAMMAR
