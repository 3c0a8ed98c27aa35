// Every reply decoder, driven through the scripted host: the input is the reply. After any
// outcome the outputs are as their operation promises, and once the caller releases what it was
// handed nothing is left behind. The operations whose reply is their result alone answer exactly
// the reply's first int32, or a short reply when it holds fewer than four bytes.
#include <cstring>

#include "fuzz_support.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/testing/scripted_host.h"

namespace {

struct Baseline {
  uint64_t allocations = zel::rt::GetAllocationStats().outstanding();
  uint64_t events = zel::rt::LiveEventCount();
  uint64_t blocks = zel::rt::OutstandingDebugBlocks();
  bool Same() const {
    return allocations == zel::rt::GetAllocationStats().outstanding() &&
           events == zel::rt::LiveEventCount() && blocks == zel::rt::OutstandingDebugBlocks();
  }
};

// What a result-only operation must answer for `reply`, read without the library's reader.
int32_t ExpectedResult(const std::vector<uint8_t>& reply) {
  if (reply.size() < 4) return ZEL_E_SHORT_REPLY;
  const uint32_t bits = uint32_t{reply[0]} | uint32_t{reply[1]} << 8 | uint32_t{reply[2]} << 16 |
                        uint32_t{reply[3]} << 24;
  int32_t result;
  std::memcpy(&result, &bits, 4);
  return result;
}

// The operations whose reply carries only their result, one per selector value from 14.
int32_t ExerciseResultOnly(uint8_t which, ZEL_AdminToolSAL6& sal) {
  ZEL_ADMIN_USERINFO users[1];
  users[0].accountName = u"jane";
  users[0].accountAuthority = u"NT";
  users[0].AddOnePriv(5);
  ZEL_ADMIN_CONTACTINFO contacts[1];
  contacts[0].contact1 = u"mail";
  uint32_t privileges[] = {1, 2};
  uint64_t uids[] = {3, 4};
  switch (which) {
    case 0:
      return sal.AddUsers2(1, users);
    case 1:
      return sal.SetPrivilege2(7, 1, 2, 2, privileges);
    case 2:
      return sal.DeleteUser(2, uids);
    case 3: {
      AllowedFolders folders;
      folders += uint64_t{70};
      return sal.AddUsers3(1, users, &folders, contacts);
    }
    case 4: {
      ZEL_ADMIN_USERINFO2* info = sal.CreateUserInfo2();
      ZEL_FUZZ_CHECK(info != nullptr);
      info->adminUID = 0x77;
      const int32_t result = sal.SetPrivilege3(info, contacts[0]);
      sal.FreeMemory(info, ZEL_AdminToolSAL3::kFreeUserInfo2);
      return result;
    }
    default:
      return sal.DeleteCapabilityObjectsInDB();
  }
}

void Exercise(uint8_t selector, const std::vector<uint8_t>& reply, ZEL_AdminToolSAL6& sal) {
  uint32_t a = 0, b = 0, count = 0;
  uint8_t flag = 0;
  if (selector % 20 >= 14) {
    ZEL_FUZZ_CHECK(ExerciseResultOnly(static_cast<uint8_t>(selector % 20 - 14), sal) ==
                   ExpectedResult(reply));
    return;
  }
  switch (selector % 20) {
    case 0: {
      UM_AcctIDBlobWriter account(UM_AccountIdentity{ZELString(u"NT"), {}, ZELString(u"x"), {}});
      uint32_t answer = 0xFEED;
      if (sal.IsUserKeldraAdmin(account, &answer) < 0) ZEL_FUZZ_CHECK(answer == 0xFEED);
      break;
    }
    case 1: {
      ZELString name(u"x"), resolved;
      uint8_t credentials[4] = {};
      uint32_t* values = nullptr;
      uint64_t* uids = nullptr;
      const int32_t result =
          sal.Logon2(name, 4, credentials, a, resolved, b, &count, &values, &b, &uids, 0);
      if (result < 0) ZEL_FUZZ_CHECK(values == nullptr && uids == nullptr && count == 0);
      sal.FreeMemory(values, 1);
      sal.FreeMemory(uids, 1);
      break;
    }
    case 2: {
      uint32_t* privileges = nullptr;
      if (sal.GetPrivilege2(1, a, b, count, &privileges) < 0) ZEL_FUZZ_CHECK(privileges == nullptr);
      sal.FreeMemory(privileges, 1);
      break;
    }
    case 3: {
      ZELString group(u"G");
      AdminObjectCapability* caps = nullptr;
      if (sal.GetStaticGroupPermission(group, count, &caps) < 0) ZEL_FUZZ_CHECK(caps == nullptr);
      sal.FreeCapabilities(caps);
      break;
    }
    case 4: {
      ZEL_ADMIN_USERINFO* records = nullptr;
      if (sal.EnumerateKeldraAdmins(count, &records, 0, 0) < 0) {
        ZEL_FUZZ_CHECK(records == nullptr && count == 0);
      }
      sal.FreeMemory(records, 2);
      break;
    }
    case 5: {
      ZEL_ADMIN_USERINFO2* info = nullptr;
      ZEL_ADMIN_CONTACTINFO contact;
      if (sal.GetPrivilege3(1, info, contact) < 0) ZEL_FUZZ_CHECK(info == nullptr);
      sal.FreeMemory(info, 3);
      break;
    }
    case 6: {
      ZEL_ADMIN_USERINFO2* users = nullptr;
      ZEL_ADMIN_CONTACTINFO* contacts = nullptr;
      if (sal.EnumerateKeldraAdmins2(count, &users, contacts, 0, 0) < 0) {
        ZEL_FUZZ_CHECK(users == nullptr && contacts == nullptr && count == 0);
      }
      sal.FreeKeldraAdminInfo(&users, contacts);
      break;
    }
    case 7: {
      uint64_t uid = 5;
      const int32_t result = sal.GetAdminUIDByName(u"a", u"b", uid);
      if (result < 0 && result != static_cast<int32_t>(0x80060008)) ZEL_FUZZ_CHECK(uid == 0);
      break;
    }
    case 8: {
      char16_t *first = nullptr, *second = nullptr;
      sal.GetAdminNameByUID(1, first, second);
      sal.FreeAdminName(first, second);
      break;
    }
    case 9: {
      AllowedFolders* folders = nullptr;
      if (sal.GetPermissionsForCurrentUser(folders) < 0) ZEL_FUZZ_CHECK(folders == nullptr);
      delete folders;
      break;
    }
    case 10: {
      UM_AcctIDBlobWriter blob(UM_AccountIdentity{});
      uint32_t* privileges = nullptr;
      sal.GetPrivilegesByBlob(blob, flag, a, count, &privileges);
      sal.FreeMemory(privileges, 1);
      break;
    }
    case 11: {
      uint8_t ticket[120] = {};
      _VoAdminAccounts* accounts = nullptr;
      if (sal.GetVoAdminAccountsForTicket(ticket, accounts) != 0) {
        ZEL_FUZZ_CHECK(accounts == nullptr);
      } else {
        sal.FreeMemory(accounts->accountUIDs, 1);
        sal.FreeMemory(accounts, 1);
      }
      break;
    }
    case 12: {
      ZELMultiString dns;
      sal.GetUsersDNs(dns);
      break;
    }
    default: {
      ZELString first(u"a"), second(u"b");
      sal.AddDefaultUser(first, second);
      sal.AddDefaultUser2(first, second, 1);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zel::fuzz::Input input(data, size);
  zel::rt::testing::ScriptedHost host;
  host.SetHasPluginApis(false);  // no local implementation: every operation sends
  host.SetResponder([&](const zel::rt::testing::RecordedEvent&, zel::rt::testing::Bytes* reply) {
    *reply = input.bytes;
    return int32_t{0};
  });
  ZEL_AdminToolSAL6 sal(host);
  const Baseline before;
  Exercise(input.selector, input.bytes, sal);
  ZEL_FUZZ_CHECK(before.Same());
  return 0;
}
