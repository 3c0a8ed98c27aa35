// Sweeps over every reply decoder: every prefix of a valid reply, every allocation made to fail
// in turn, and hostile values in every count field. After each, the decoder answers its code,
// its outputs are as its operation promises, and nothing is left allocated.
#include <gtest/gtest.h>

#include <functional>

#include "test_support.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/alloc.h"

namespace {

using zel::rt::testing::Bytes;
using zel::sal::testing::SalTest;

struct Decoder {
  const char* name;
  Bytes reply;                                      // a valid reply, result 0
  std::vector<std::size_t> counts;                  // offsets of uint32 count fields in it
  int32_t shortCode;                                // what a reply that ends early gives
  std::function<int32_t(ZEL_AdminToolSAL6&)> call;  // runs it, checks outputs, releases them
};

Bytes Reply(const std::function<void(ZEL_BUF_BinBuffer&)>& body) {
  return zel::rt::testing::Write([&](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0};
    body(out);
  });
}

const uint32_t kValues[] = {1, 2};
uint32_t kStale = 0;  // where an output points before a call that must clear it

std::vector<Decoder> Decoders() {
  std::vector<Decoder> all;
  all.push_back({"Logon2",
                 Reply([](ZEL_BUF_BinBuffer& out) {
                   out << ZELString(u"n") << uint32_t{1} << uint32_t{2};  // count at 16
                   out.AppendBytes(kValues, 8);
                   out << uint32_t{1} << uint64_t{9};  // count at 28
                 }),
                 {16, 28},
                 ZEL_E_SHORT_REPLY,
                 [](ZEL_AdminToolSAL6& sal) {
                   ZELString name(u"x"), resolved;
                   uint32_t status, value, count, uidCount;
                   uint32_t* values = nullptr;
                   uint64_t* uids = nullptr;
                   const int32_t r = sal.Logon2(name, 0, nullptr, status, resolved, value, &count,
                                                &values, &uidCount, &uids, 0);
                   if (r < 0) {
                     EXPECT_TRUE(values == nullptr && uids == nullptr && count == 0);
                   }
                   sal.FreeMemory(values, 1);
                   sal.FreeMemory(uids, 1);
                   return r;
                 }});
  all.push_back({"GetPrivilege2",
                 Reply([](ZEL_BUF_BinBuffer& out) {
                   out << uint32_t{8} << uint32_t{9} << uint32_t{2};  // count at 12
                   out.AppendBytes(kValues, 8);
                 }),
                 {12},
                 ZEL_E_SHORT_REPLY,
                 [](ZEL_AdminToolSAL6& sal) {
                   uint32_t a1, a2, n;
                   uint32_t* privileges = &kStale;  // cleared on entry
                   const int32_t r = sal.GetPrivilege2(1, a1, a2, n, &privileges);
                   if (r < 0) {
                     EXPECT_EQ(privileges, nullptr);
                   }
                   if (privileges != &kStale) sal.FreeMemory(privileges, 1);
                   return r;
                 }});
  all.push_back({"GetStaticGroupPermission",
                 Reply([](ZEL_BUF_BinBuffer& out) {
                   out << ZELString(u"G") << uint32_t{1} << uint64_t{5} << uint32_t{2};
                   out.AppendBytes(kValues, 8);
                 }),
                 {12, 24},
                 ZEL_E_SHORT_REPLY,
                 [](ZEL_AdminToolSAL6& sal) {
                   ZELString group(u"G");
                   uint32_t count = 0;
                   AdminObjectCapability* caps = nullptr;
                   const int32_t r = sal.GetStaticGroupPermission(group, count, &caps);
                   if (r < 0) {
                     EXPECT_EQ(caps, nullptr);
                   }
                   sal.FreeCapabilities(caps);
                   return r;
                 }});
  all.push_back({"EnumerateKeldraAdmins",
                 Reply([](ZEL_BUF_BinBuffer& out) {
                   out << uint32_t{1} << ZELString(u"a") << ZELString(u"NT") << uint32_t{1}
                       << uint32_t{2} << uint32_t{2};  // counts at 4 and 34
                   out.AppendBytes(kValues, 8);
                 }),
                 {4, 34},
                 ZEL_E_SHORT_REPLY,
                 [](ZEL_AdminToolSAL6& sal) {
                   uint32_t count = 9;  // both cleared on entry
                   auto* records = reinterpret_cast<ZEL_ADMIN_USERINFO*>(&kStale);
                   const int32_t r = sal.EnumerateKeldraAdmins(count, &records, 0, 0);
                   if (r < 0) {
                     EXPECT_TRUE(records == nullptr && count == 0);
                   }
                   if (records != reinterpret_cast<ZEL_ADMIN_USERINFO*>(&kStale)) {
                     sal.FreeMemory(records, 2);
                   }
                   return r;
                 }});
  const auto folders = [](ZEL_BUF_BinBuffer& out) {
    out << uint32_t{1} << uint64_t{70} << uint32_t{2};
    out.AppendBytes(kValues, 8);
  };
  all.push_back({"GetPrivilege3",
                 Reply([&](ZEL_BUF_BinBuffer& out) {
                   out << uint32_t{1} << uint32_t{2} << uint32_t{2};  // privileges at 12
                   out.AppendBytes(kValues, 8);
                   folders(out);  // folders at 24, tasks at 36
                   out << ZELString(u"c1") << ZELString(u"c2") << ZELString(u"c3");
                 }),
                 {12, 24, 36},
                 ZEL_E_SHORT_REPLY,
                 [](ZEL_AdminToolSAL6& sal) {
                   ZEL_ADMIN_USERINFO2* info = nullptr;
                   ZEL_ADMIN_CONTACTINFO contact;
                   const int32_t r = sal.GetPrivilege3(1, info, contact);
                   if (r < 0) {
                     EXPECT_EQ(info, nullptr);
                   }
                   sal.FreeMemory(info, 3);
                   return r;
                 }});
  all.push_back({"EnumerateKeldraAdmins2",
                 Reply([&](ZEL_BUF_BinBuffer& out) {
                   out << uint32_t{1} << ZELString(u"a") << ZELString(u"NT") << uint32_t{1}
                       << uint32_t{2} << uint32_t{2};  // counts at 4 and 34
                   out.AppendBytes(kValues, 8);
                   out << uint64_t{3};
                   folders(out);  // folders at 54, tasks at 66
                   out << ZELString(u"c1") << ZELString(u"c2") << ZELString(u"c3");
                 }),
                 {4, 34, 54, 66},
                 ZEL_E_SHORT_REPLY,
                 [](ZEL_AdminToolSAL6& sal) {
                   uint32_t count = 0;
                   ZEL_ADMIN_USERINFO2* users = nullptr;
                   ZEL_ADMIN_CONTACTINFO* contacts = nullptr;
                   int32_t r;
                   try {
                     r = sal.EnumerateKeldraAdmins2(count, &users, contacts, 0, 0);
                   } catch (const bad_alloc&) {
                     r = ZEL_E_NO_EVENT;  // this one lets the library's bad_alloc through
                   }
                   if (r < 0) {
                     EXPECT_TRUE(users == nullptr && contacts == nullptr && count == 0);
                   }
                   sal.FreeKeldraAdminInfo(&users, contacts);
                   return r;
                 }});
  all.push_back({"GetPermissionsForCurrentUser",
                 Reply(folders),
                 {4, 16},
                 ZEL_E_SHORT_REPLY,
                 [](ZEL_AdminToolSAL6& sal) {
                   AllowedFolders* list = nullptr;
                   const int32_t r = sal.GetPermissionsForCurrentUser(list);
                   if (r < 0) {
                     EXPECT_EQ(list, nullptr);
                   }
                   delete list;
                   return r;
                 }});
  all.push_back({"GetPrivilegesByBlob",
                 Reply([](ZEL_BUF_BinBuffer& out) {
                   out << uint8_t{1} << uint32_t{2} << uint32_t{2};  // count at 9
                   out.AppendBytes(kValues, 8);
                 }),
                 {9},
                 ZEL_E_SHORT_REPLY,
                 [](ZEL_AdminToolSAL6& sal) {
                   UM_AcctIDBlobWriter blob(UM_AccountIdentity{});
                   uint8_t flag;
                   uint32_t attribute, count;
                   uint32_t* privileges = nullptr;
                   const int32_t r =
                       sal.GetPrivilegesByBlob(blob, flag, attribute, count, &privileges);
                   if (r < 0) {
                     EXPECT_EQ(privileges, nullptr);
                   }
                   sal.FreeMemory(privileges, 1);
                   return r;
                 }});
  all.push_back({"GetVoAdminAccountsForTicket",
                 Reply([](ZEL_BUF_BinBuffer& out) {
                   const uint64_t uids[] = {1, 2};
                   out << uint32_t{2};  // count at 4
                   out.AppendBytes(uids, 16);
                   out << uint32_t{1} << uint32_t{2} << uint32_t{3} << uint32_t{4};
                 }),
                 {4},
                 ZEL_E_FAIL,
                 [](ZEL_AdminToolSAL6& sal) {
                   uint8_t ticket[120] = {};
                   _VoAdminAccounts* accounts = nullptr;
                   const int32_t r = sal.GetVoAdminAccountsForTicket(ticket, accounts);
                   if (r != 0) {
                     EXPECT_EQ(accounts, nullptr);
                   }
                   if (accounts != nullptr) sal.FreeMemory(accounts->accountUIDs, 1);
                   sal.FreeMemory(accounts, 1);
                   return r;
                 }});
  return all;
}

class SweepTest : public SalTest {
 protected:
  SweepTest() { host_.SetHasPluginApis(false); }  // no local implementation: events only
  uint64_t Held() const { return zel::rt::GetAllocationStats().outstanding(); }
  ZEL_AdminToolSAL6 sal_{host_};
};

TEST_F(SweepTest, EveryPrefixOfAValidReplyIsShortAndLeavesNothing) {
  for (const Decoder& decoder : Decoders()) {
    host_.QueueReply(decoder.reply);
    ASSERT_EQ(decoder.call(sal_), 0) << decoder.name << " rejects its valid reply";
    const uint64_t held = Held();
    for (std::size_t cut = 4; cut < decoder.reply.size(); ++cut) {
      host_.QueueReply(
          Bytes(decoder.reply.begin(), decoder.reply.begin() + static_cast<std::ptrdiff_t>(cut)));
      EXPECT_EQ(decoder.call(sal_), decoder.shortCode) << decoder.name << " cut at " << cut;
      EXPECT_EQ(Held(), held) << decoder.name << " cut at " << cut;
    }
  }
}

TEST_F(SweepTest, ANegativeResultIsAnsweredAsItIsAndLeavesNothing) {
  for (const Decoder& decoder : Decoders()) {
    const uint64_t held = Held();
    host_.QueueReply(zel::rt::testing::Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{-5}; }));
    EXPECT_EQ(decoder.call(sal_), -5) << decoder.name;
    EXPECT_EQ(Held(), held) << decoder.name;
  }
}

TEST_F(SweepTest, EveryAllocationMadeToFailGivesACodeAndLeavesNothing) {
  for (const Decoder& decoder : Decoders()) {
    host_.SetResponder([&](const zel::rt::testing::RecordedEvent&, Bytes* out) {
      *out = decoder.reply;
      return int32_t{0};
    });
    const uint64_t held = Held();
    uint32_t nth = 1;
    for (;; ++nth) {
      zel::rt::FailNthAllocation(nth);
      const int32_t result = decoder.call(sal_);
      zel::rt::FailNthAllocation(0);
      EXPECT_EQ(Held(), held) << decoder.name << " allocation " << nth;
      if (result == 0) break;
      EXPECT_LT(result, 0) << decoder.name << " allocation " << nth;
      ASSERT_LT(nth, 50u) << decoder.name << " never succeeds";
    }
    EXPECT_GE(nth, 5u) << decoder.name;  // events and storage on both sides, then its own
  }
}

TEST_F(SweepTest, HostileCountsAreShortRepliesFoundBeforeAllocating) {
  for (const Decoder& decoder : Decoders()) {
    for (std::size_t offset : decoder.counts) {
      for (uint32_t hostile : {0xFFFFFFFFu, 0x40000000u}) {
        Bytes reply = decoder.reply;
        ASSERT_LE(offset + 4, reply.size()) << decoder.name;
        uint32_t original = 0;
        std::memcpy(&original, reply.data() + offset, 4);
        ASSERT_LE(original, 2u) << decoder.name << ": no count at " << offset;
        std::memcpy(reply.data() + offset, &hostile, 4);
        host_.QueueReply(reply);
        const uint64_t bytes = zel::rt::GetAllocationStats().bytes;
        EXPECT_EQ(decoder.call(sal_), decoder.shortCode) << decoder.name << " at " << offset;
        EXPECT_LT(zel::rt::GetAllocationStats().bytes - bytes, 4 * reply.size() + 1024)
            << decoder.name << " allocated for a count it could not fill";
      }
    }
  }
}

}  // namespace
