// The replies of the administrator operations, one row per notable reply: what each leaves in
// the outputs (operations_test.cc), and for one valid reply of each decoder, where its count
// fields lie (the sweeps, sweeps_test.cc).
#pragma once

#include <functional>
#include <vector>

#include "operation_io.h"

namespace zel::sal::testing {

using zel::rt::testing::Bytes;
using zel::rt::testing::Write;

inline Bytes AccountRecord(const char16_t* name, const std::vector<uint32_t>& privileges) {
  return Write([&](ZEL_BUF_BinBuffer& out) {
    out << ZELString(name) << ZELString(u"NT") << uint32_t{1} << uint32_t{2}
        << static_cast<uint32_t>(privileges.size());
    if (!privileges.empty()) out.AppendBytes(privileges.data(), 4 * privileges.size());
  });
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

template <typename... T>
Bytes Reply(int32_t result, T... values) {
  return Write([&](ZEL_BUF_BinBuffer& out) { (out << result << ... << values); });
}

struct ReplyRow {
  const char* what;
  Bytes reply;
  int32_t sendAnswer;  // what the host's send answers
  std::function<int32_t(Sal&, Io&)> call;
  int32_t code;
  std::function<void(Sal&, Io&)> check;
  // For the sweeps: the offsets of the reply's uint32 count fields (none: not swept), what a
  // reply that ends early gives, and whether a failure also leaves the count `n` at 0.
  std::vector<std::size_t> counts = {};
  int32_t shortCode = ZEL_E_SHORT_REPLY;
  bool clearsCount = false;
};
inline ReplyRow Reads(const char* what, int32_t sendAnswer, int32_t code, Bytes reply,
                      std::function<int32_t(Sal&, Io&)> call,
                      std::function<void(Sal&, Io&)> check) {
  return {what, std::move(reply), sendAnswer, std::move(call), code, std::move(check)};
}
// `row`, which the sweeps also run.
inline ReplyRow Swept(std::vector<std::size_t> counts, ReplyRow row, bool clearsCount = false,
                      int32_t shortCode = ZEL_E_SHORT_REPLY) {
  row.counts = std::move(counts);
  row.clearsCount = clearsCount;
  row.shortCode = shortCode;
  return row;
}

inline constexpr int32_t kLeftStale = 0x5A5A;

// Runs `call` with `*output` pointing at a stale address first: the operation must clear it on
// entry. One that leaves it there answers kLeftStale (and the address is dropped unfreed).
template <typename T, typename Call>
int32_t FromStale(T*& output, Call call) {
  static T stale[1];
  output = stale;
  const int32_t result = call();
  if (output != stale) return result;
  output = nullptr;
  return kLeftStale;
}

inline std::vector<ReplyRow> Replies() {
  const auto isAdmin = [](Sal& s, Io& o) { return s.IsUserKeldraAdmin(o.account, &o.u32); };
  const auto logon = [](Sal&, Io& o) { return o.Logon2(); };
  const auto group = [](Sal& s, Io& o) {
    return s.GetStaticGroupPermission(o.group, o.n, &o.caps);
  };
  const auto privilege3 = [](Sal& s, Io& o) { return s.GetPrivilege3(0x55, o.record2, o.contact); };
  const auto enumerate2 = [](Sal& s, Io& o) {
    try {
      return s.EnumerateKeldraAdmins2(o.n, &o.records2, o.contacts2, 3, 4);
    } catch (const bad_alloc&) {
      return ZEL_E_NO_EVENT;  // this one lets the library's bad_alloc through
    }
  };
  const auto permissions = [](Sal& s, Io& o) {
    return s.GetPermissionsForCurrentUser(o.permitted);
  };
  const auto byBlob = [](Sal& s, Io& o) {
    return s.GetPrivilegesByBlob(o.account, o.flag, o.a1, o.n, &o.array);
  };
  const auto ticket = [](Sal& s, Io& o) {
    return s.GetVoAdminAccountsForTicket(Ticket(), o.accounts);
  };
  const auto byName = [](Sal& s, Io& o) { return s.GetAdminUIDByName(u"jane", nullptr, o.uid); };
  const auto byUID = [](Sal& s, Io& o) {
    return s.GetAdminNameByUID(0x12, o.firstName, o.secondName);
  };
  const auto dns = [](Sal& s, Io& o) { return s.GetUsersDNs(o.dns); };
  const uint32_t u0 = 0, u1 = 1, u2 = 2, u3 = 3, u4 = 4, u5 = 5;
  const Bytes ticketReply = Write([](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0} << uint32_t{2} << uint64_t{0x10} << uint64_t{0x20} << uint32_t{1}
        << uint32_t{2} << uint32_t{3} << uint32_t{4};
  });
  return {
      Reads("IsUserKeldraAdmin reads one answer", 2, 2, Reply(2, u1), isAdmin,
            [](Sal&, Io& o) { EXPECT_EQ(o.u32, 1u); }),
      Reads("IsUserKeldraAdmin: a short answer leaves it too", 0, ZEL_E_SHORT_REPLY,
            Reply(0, uint16_t{1}), isAdmin, [](Sal&, Io& o) { EXPECT_EQ(o.u32, 0xDEADu); }),
      Swept({30, 42},
            Reads("Logon2: the raw reads decide the result", 1, 0,
                  Reply(1, ZELString(u"Jane Doe"), uint32_t{77}, u2, uint32_t{10}, uint32_t{20}, u3,
                        uint64_t{1}, uint64_t{2}, ~uint64_t{0}),
                  logon,
                  [](Sal&, Io& o) {
                    EXPECT_EQ(o.u32, 1u);
                    EXPECT_EQ(o.resolved, ZELString(u"Jane Doe"));
                    EXPECT_EQ(o.a1, 77u);
                    ASSERT_TRUE(o.n == 2 && o.m == 3);
                    EXPECT_EQ(o.values[1], 20u);
                    EXPECT_EQ(o.uids[2], ~uint64_t{0});
                  }),
            true),
      Reads("Logon2 without arrays keeps its result", 1, 1, Reply(1, ZELString(), u0, u0, u0),
            logon,
            [](Sal&, Io& o) {
              EXPECT_TRUE(o.values == nullptr && o.uids == nullptr && o.n == 0 && o.m == 0);
            }),
      Swept({12},
            Reads(
                "GetPrivilege2 reads its array whatever the positive result", 1, 1,
                Reply(1, uint32_t{8}, uint32_t{9}, u3, uint32_t{10}, uint32_t{20}, uint32_t{30}),
                [](Sal& s, Io& o) {
                  return FromStale(
                      o.array, [&] { return s.GetPrivilege2(0x44, o.a1, o.a2, o.n, &o.array); });
                },
                [](Sal&, Io& o) {
                  ASSERT_EQ(o.n, 3u);
                  EXPECT_EQ(o.array[2], 30u);
                })),
      Swept(
          {26, 38, 50},
          Reads("GetStaticGroupPermission replaces the group and builds capabilities", 0, 0,
                Reply(0, ZELString(u"Resolved"), u2, uint64_t{100}, u0, uint64_t{200}, u2, u4, u5),
                group,
                [](Sal&, Io& o) {
                  EXPECT_EQ(o.group, ZELString(u"Resolved"));
                  ASSERT_EQ(o.n, 2u);
                  EXPECT_EQ(o.caps[0].privileges, nullptr);  // none for it: nothing read
                  EXPECT_EQ(o.caps[1].objectUID, 200u);
                  EXPECT_EQ(o.caps[1].privileges[1], 5u);
                })),
      Reads("GetStaticGroupPermission: a failure leaves group and count", 0, -3, Reply(-3), group,
            [](Sal&, Io& o) {
              EXPECT_EQ(o.n, 77u);
              EXPECT_EQ(o.group, ZELString(u"G"));
            }),
      Swept({4, 40, 86},
            Reads(
                "EnumerateKeldraAdmins: records without spare capacity", 0, 0,
                Join({Reply(0, u2), AccountRecord(u"jane", {1, 2, 3}), AccountRecord(u"joe", {})}),
                [](Sal& s, Io& o) {
                  return FromStale(o.records,
                                   [&] { return s.EnumerateKeldraAdmins(o.n, &o.records, 1, 2); });
                },
                [](Sal&, Io& o) {
                  ASSERT_EQ(o.n, 2u);
                  EXPECT_EQ(o.records[0].accountName, ZELString(u"jane"));
                  EXPECT_EQ(o.records[0].privilegeCount, 3u);
                  EXPECT_EQ(o.records[0].privilegeCapacity, 0u);
                  EXPECT_EQ(o.records[1].privileges, nullptr);
                  o.records[0].AddOnePriv(
                      4);  // a record read from a reply grows on its first change
                  EXPECT_EQ(o.records[0].privilegeCapacity, 103u);
                }),
            true),
      Swept({12, 24, 36}, Reads("GetPrivilege3 builds one record", 0, 0,
                                Join({Reply(0, uint32_t{8}, uint32_t{9}, u2, u1, u2),
                                      Write([](ZEL_BUF_BinBuffer& out) {
                                        FolderList(out, {{70, {3}}});
                                        Contact(out, u"mail");
                                      })}),
                                privilege3,
                                [](Sal&, Io& o) {
                                  ASSERT_NE(o.record2, nullptr);
                                  EXPECT_EQ(o.record2->adminUID,
                                            0x55u);  // the reply does not repeat it
                                  EXPECT_TRUE(o.record2->accountName.isEmpty());
                                  EXPECT_EQ(o.record2->attribute2, 9u);
                                  EXPECT_EQ(o.record2->privilegeCapacity, 0u);
                                  ASSERT_EQ(o.record2->allowedFolders.folderCount, 1u);
                                  EXPECT_EQ(o.record2->allowedFolders.folders[0].tasks[0], 3u);
                                  EXPECT_EQ(o.contact.contact1, ZELString(u"mail"));
                                })),
      Reads("GetPrivilege3: a positive result without lists", 1, 1,
            Join({Reply(1, u0, u0, u0, u0),
                  Write([](ZEL_BUF_BinBuffer& out) { Contact(out, u"x"); })}),
            privilege3,
            [](Sal&, Io& o) {
              EXPECT_EQ(o.record2->privileges, nullptr);
              EXPECT_EQ(o.record2->allowedFolders.folders, nullptr);
            }),
      Swept({4, 42, 58, 70},
            Reads("EnumerateKeldraAdmins2 fills two arrays", 0, 0,
                  zel::sal::testing::kEnumerate2Reply, enumerate2,
                  [](Sal& s, Io& o) {
                    ASSERT_EQ(o.n, 2u);
                    EXPECT_EQ(o.records2[1].adminUID, 102u);
                    EXPECT_EQ(o.records2[1].allowedFolders.folders[0].folderUID, 1102u);
                    EXPECT_EQ(o.records2[0].privileges[0], 7u);
                    EXPECT_EQ(o.contacts2[1].contact1, ZELString(u"phone"));
                    s.FreeKeldraAdminInfo(&o.records2, o.contacts2);
                    EXPECT_TRUE(o.records2 == nullptr && o.contacts2 == nullptr);
                  }),
            true),
      Reads("EnumerateKeldraAdmins2 of none", 0, 0, Reply(0, u0), enumerate2,
            [](Sal&, Io& o) { EXPECT_EQ(o.records2, nullptr); }),
      Reads("GetPermissionsForCurrentUser of none: an empty list, not none", 0, 0, Reply(0, u0),
            permissions,
            [](Sal&, Io& o) {
              ASSERT_NE(o.permitted, nullptr);
              EXPECT_EQ(o.permitted->folderCount, 0u);
            }),
      Swept({4, 16, 28}, Reads("GetPermissionsForCurrentUser", 0, 0,
                               Join({Reply(0), Write([](ZEL_BUF_BinBuffer& out) {
                                       FolderList(out, {{5, {}}, {6, {1, 2}}});
                                     })}),
                               permissions,
                               [](Sal&, Io& o) {
                                 EXPECT_EQ(o.permitted->folders[0].tasks, nullptr);
                                 EXPECT_EQ(o.permitted->folders[1].tasks[1], 2u);
                               })),
      Swept({9}, Reads("GetPrivilegesByBlob", 0, 0, Reply(0, uint8_t{1}, u2, u2, u4, u5), byBlob,
                       [](Sal&, Io& o) {
                         EXPECT_EQ(o.flag, 1);
                         ASSERT_EQ(o.n, 2u);
                         EXPECT_EQ(o.array[1], 5u);
                       })),
      Reads(
          "GetPrivilegesByBlob: a count of 0 leaves the pointer as it was", 0, 0,
          Reply(0, uint8_t{1}, u2, u0),
          [&](Sal& s, Io& o) {
            o.array = &o.u32;
            return byBlob(s, o);
          },
          [](Sal&, Io& o) {
            EXPECT_EQ(o.array, &o.u32);
            o.array = nullptr;
          }),
      Swept({4},
            Reads("ticket accounts", 0, 0, ticketReply, ticket,
                  [](Sal&, Io& o) {
                    ASSERT_NE(o.accounts, nullptr);
                    EXPECT_EQ(o.accounts->accountUIDs[1], 0x20u);
                    EXPECT_EQ(o.accounts->value4, 4u);
                  }),
            false, ZEL_E_FAIL),
      Reads("ticket accounts without UIDs", 0, 0, Reply(0, u0, u1, u2, u3, u4), ticket,
            [](Sal&, Io& o) { EXPECT_EQ(o.accounts->accountUIDs, nullptr); }),
      Reads("ticket: a positive result gives no accounts", 0, 1, Reply(1), ticket,
            [](Sal&, Io& o) { EXPECT_EQ(o.accounts, nullptr); }),
      Reads("ticket: a positive send answer releases the reply", 2, 2, ticketReply, ticket,
            [](Sal&, Io& o) { EXPECT_EQ(o.accounts, nullptr); }),
      Reads("GetAdminUIDByName", 0, 0, Reply(0, uint64_t{0x12}), byName,
            [](Sal&, Io& o) { EXPECT_EQ(o.uid, 0x12u); }),
      Reads("GetAdminUIDByName: a UID not read in full is 0", 0, ZEL_E_SHORT_REPLY, Reply(0, u1),
            byName, [](Sal&, Io& o) { EXPECT_EQ(o.uid, 0u); }),
      Reads("GetAdminNameByUID", 0, 0, Reply(0, u"Jane", u"NT"), byUID,
            [](Sal& s, Io& o) {
              EXPECT_EQ(std::u16string(o.firstName), u"Jane");
              EXPECT_EQ(std::u16string(o.secondName), u"NT");
              s.FreeAdminName(o.firstName, o.secondName);
              EXPECT_EQ(o.firstName, nullptr);
            }),
      Reads("GetAdminNameByUID: a name read before the reply ran short is the caller's", 0,
            ZEL_E_SHORT_REPLY, Reply(0, u"Jane"), byUID,
            [](Sal&, Io& o) {
              EXPECT_NE(o.firstName, nullptr);
              EXPECT_EQ(o.secondName, nullptr);
            }),
      Reads("GetUsersDNs: a nonzero result reads no list", 0, 2, Reply(2), dns,
            [](Sal&, Io& o) { EXPECT_EQ(o.dns.count(), 0u); }),
      Reads("GetUsersDNs", 0, 0, Write([](ZEL_BUF_BinBuffer& out) {
              ZELMultiString list;
              list.add(ZELString(u"CN=a"));
              list.add(ZELString(u"CN=b"));
              out << int32_t{0} << list;
            }),
            dns, [](Sal&, Io& o) { EXPECT_EQ(o.dns.count(), 2u); }),
      Reads("GetUsersDNs: a short list", 0, ZEL_E_SHORT_REPLY, Reply(0, u5), dns, [](Sal&, Io&) {}),
      Reads("GetUsersDNs: any nonzero send answer ends it", 3, 3, Reply(0), dns, [](Sal&, Io&) {}),
  };
}

}  // namespace zel::sal::testing
