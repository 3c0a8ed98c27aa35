// Credentials end to end, consoles against the subsystem on a real store: who may set a
// password, logons right, wrong, slowed and unlocked, the acting identity until logout,
// tickets, export and import, and no secret in the audit. The library is the console where it
// has the operation (Logon2, GetVoAdminAccountsForTicket); the events of ours go as their
// protocol messages.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "secrets/password_hash.h"
#include "subsystem_farm.h"
#include "zel/protocol/audit.h"
#include "zel/protocol/credentials.h"
#include "zel/protocol/result_reply.h"
#include "zel/runtime/secure.h"
#include "zel/subsystem/codes.h"
#include "zel/subsystem/credentials.h"
#include "zel/tracedev/testing/capture_device.h"

// The library exports it from an inner header; its declaration, for this test program.
namespace zel::trace {
void InstallTraceDevice(TraceDevice* device);
}  // namespace zel::trace

namespace zel::subsystem {
namespace {

// Every SAL object of this program traces into this device, installed before the first one is
// made. Its control block stays zero (every site off) but while a test turns it on.
zel::trace::testing::CaptureDevice& Traces() {
  static zel::trace::testing::CaptureDevice device;
  return device;
}
const bool kTracesInstalled = [] {
  zel::trace::InstallTraceDevice(&Traces());
  return true;
}();

namespace ev = zel::protocol::event;
using zel::protocol::SecretBytes;

// Consoles (subsystem UIDs) and the peers they act as.
constexpr uint16_t kOwner = 5;    // the farm's owner
constexpr uint16_t kAlice = 6;    // unix:alice, administrator with read-farm
constexpr uint16_t kBob = 7;      // unix:bob, administrator with manage-administrators
constexpr uint16_t kMallory = 8;  // unix:mallory, no administrator
constexpr uint16_t kNobody = 9;   // no peer identity
constexpr uint16_t kDave = 10;    // unix:dave, administrator without a password
constexpr uint16_t kProbe = 11;   // unix:probe, no administrator: checks passwords

class CredentialsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    farm_.Owner();
    farm_.Console(kAlice, "unix:alice");
    farm_.Console(kBob, "unix:bob");
    farm_.Console(kMallory, "unix:mallory");
    farm_.Console(kNobody, "");
    farm_.Console(kDave, "unix:dave");
    farm_.Console(kProbe, "unix:probe");
    alice_ = AddAdmin("unix:alice", {1});
    bob_ = AddAdmin("unix:bob", {2});
    carol_ = AddAdmin("NT:NORTH\\carol", {1, 6});
    dave_ = AddAdmin("unix:dave", {1});
  }

  // Straight into the store, as the administrator handlers would.
  uint64_t AddAdmin(const std::string& account, std::vector<uint32_t> privileges) {
    ZEL_PS_LDAPSAL directory(farm_.Host());
    AdministratorStore store(directory);
    Administrator admin;
    admin.account = Account::FromText(account);
    admin.displayName = u"Display " + admin.account.name;
    admin.privileges = std::move(privileges);
    EXPECT_EQ(store.Put(&admin), 0) << account;
    return admin.uid;
  }
  void StoreCredential(uint64_t uid, const std::string& hash) {
    ZEL_PS_LDAPSAL directory(farm_.Host());
    AdministratorStore store(directory);
    ASSERT_EQ(store.SetCredential(uid, hash), 0);
  }
  void RemoveAdmin(uint64_t uid) {
    ZEL_PS_LDAPSAL directory(farm_.Host());
    AdministratorStore store(directory);
    ASSERT_EQ(store.Remove(uid), 0);
  }

  // A request of ours from console `uid`; the reply's fields read into *reply when the result
  // is not negative.
  template <class Request, class Reply>
  int32_t Ours(uint16_t uid, Request request, Reply* reply) {
    ZEL_BUF_BinBuffer payload;
    zel::protocol::Encode(request, payload);
    std::unique_ptr<ZEL_BUF_EventBuffer> answer;
    const int32_t result = farm_.Raw(
        uid, Request::kEventID,
        std::vector<uint8_t>(payload.GetData(), payload.GetData() + payload.GetSize()), &answer);
    if (result >= 0 && reply != nullptr) {
      ZEL_BUF_BufferReader in(answer->GetData(), answer->GetSize());
      zel::protocol::Decode(in, *reply);
      EXPECT_EQ(in.GetRemaining(), 0u);
    }
    return result;
  }
  template <class Request>
  int32_t Ours(uint16_t uid, Request request) {
    return Ours(uid, std::move(request), static_cast<zel::protocol::ResultReply*>(nullptr));
  }

  int32_t SetPassword(uint16_t uid, uint64_t admin, const std::string& old,
                      const std::string& password) {
    zel::protocol::SetCredentialRequest request;
    request.admin = admin;
    request.oldPassword = SecretBytes(std::string_view(old));
    request.newPassword = SecretBytes(std::string_view(password));
    return Ours(uid, request);
  }

  struct Logon {
    int32_t result = 0;
    std::string resolved;
    std::vector<uint32_t> values;
    std::vector<uint64_t> uids;
  };
  // Logon2 through the library on console `uid`.
  Logon LogOn(uint16_t uid, const std::string& name, const std::string& password) {
    ZEL_AdminToolSAL6& sal = farm_.Console(uid, "");
    ZELString logonName = ZELString::FromUtf8(name);
    std::vector<uint8_t> bytes(password.begin(), password.end());
    uint32_t status = 0, value = 0, valueCount = 0, uidCount = 0;
    uint32_t* values = nullptr;
    uint64_t* uids = nullptr;
    ZELString resolved;
    Logon out;
    out.result = sal.Logon2(logonName, static_cast<uint32_t>(bytes.size()), bytes.data(), status,
                            resolved, value, &valueCount, &values, &uidCount, &uids, 0);
    out.resolved = resolved.toUtf8();
    out.values.assign(values, values + valueCount);
    out.uids.assign(uids, uids + uidCount);
    if (values != nullptr) sal.FreeMemory(values, ZEL_AdminToolSAL3::kFreePlainArray);
    if (uids != nullptr) sal.FreeMemory(uids, ZEL_AdminToolSAL3::kFreePlainArray);
    return out;
  }
  int32_t Check(uint16_t uid, const std::string& name, const std::string& password) {
    return LogOn(uid, name, password).result;
  }

  int32_t Issue(uint16_t uid, uint32_t seconds, zel::protocol::Ticket* ticket) {
    zel::protocol::IssueTicketRequest request;
    request.lifetimeSeconds = seconds;
    zel::protocol::IssueTicketReply reply;
    const int32_t result = Ours(uid, request, &reply);
    if (result >= 0) *ticket = reply.ticket;
    return result;
  }

  // GetVoAdminAccountsForTicket through the library.
  int32_t Accounts(uint16_t uid, zel::protocol::Ticket ticket, std::vector<uint64_t>* uids,
                   uint32_t values[4]) {
    ZEL_AdminToolSAL6& sal = farm_.Console(uid, "");
    _VoAdminAccounts* accounts = nullptr;
    const int32_t result = sal.GetVoAdminAccountsForTicket(ticket.data(), accounts);
    if (accounts != nullptr) {
      uids->assign(accounts->accountUIDs, accounts->accountUIDs + accounts->accountCount);
      values[0] = accounts->value1, values[1] = accounts->value2;
      values[2] = accounts->value3, values[3] = accounts->value4;
      if (accounts->accountUIDs != nullptr) {
        sal.FreeMemory(accounts->accountUIDs, ZEL_AdminToolSAL3::kFreePlainArray);
      }
      sal.FreeMemory(accounts, ZEL_AdminToolSAL3::kFreePlainArray);
    }
    return result;
  }

  std::vector<zel::protocol::AuditRecord> Audit() {
    zel::protocol::AuditQueryRequest query;
    zel::protocol::AuditQueryReply reply;
    EXPECT_EQ(Ours(kOwner, query, &reply), 0);
    return reply.records;
  }

  testing::SubsystemFarm farm_;
  uint64_t alice_ = 0, bob_ = 0, carol_ = 0, dave_ = 0;
};

TEST_F(CredentialsTest, WhoMaySetAPassword) {
  struct Row {
    const char* what;
    uint16_t by;
    uint64_t target;
    const char* old;
    const char* password;
    int32_t result;
    const char* works;  // the target's password afterwards
  };
  const uint64_t alice = alice_;
  const Row rows[] = {
      {"the owner", kOwner, alice, "", "a1", kOk, "a1"},
      {"a manager, no old password", kBob, alice, "", "a2", kOk, "a2"},
      {"herself with the old one", kAlice, alice, "a2", "a3", kOk, "a3"},
      {"herself, old one wrong", kAlice, alice, "a2", "a4", kLogonRefused, "a3"},
      {"herself, old one left out", kAlice, alice, "", "a4", kLogonRefused, "a3"},
      {"a manager, empty password", kBob, alice, "", "", kInvalidRequest, "a3"},
      {"an administrator, for another", kAlice, bob_, "", "b1", kAccessDenied, nullptr},
      {"no administrator", kMallory, alice, "a3", "m1", kAccessDenied, "a3"},
      {"nobody", kNobody, alice, "a3", "n1", kAccessDenied, "a3"},
      {"his first, acting as his peer", kDave, dave_, "", "d1", kOk, "d1"},
      {"his second needs the first", kDave, dave_, "", "d2", kLogonRefused, "d1"},
  };
  const std::map<uint64_t, std::string> names = {{alice_, "unix:alice"}, {dave_, "unix:dave"}};
  for (const Row& row : rows) {
    const uint64_t target = row.target;
    EXPECT_EQ(SetPassword(row.by, target, row.old, row.password), row.result) << row.what;
    if (row.works == nullptr) continue;
    farm_.now += 60 * 60 * 1000;  // no delay left from the failures of the row
    EXPECT_EQ(Check(kProbe, names.at(target), row.works), kOk) << row.what;
    if (std::strcmp(row.password, row.works) != 0 && row.password[0] != '\0') {
      EXPECT_EQ(Check(kProbe, names.at(target), row.password), kLogonRefused) << row.what;
    }
  }
  EXPECT_EQ(SetPassword(kBob, 0x0121000000009999, "", "x"), kNoSuchAdministrator);
}

TEST_F(CredentialsTest, LogonRightWrongSlowedAndUnlocked) {
  ASSERT_EQ(SetPassword(kOwner, carol_, "", "c-pw"), kOk);
  ASSERT_EQ(SetPassword(kOwner, alice_, "", "a-pw"), kOk);
  struct Row {
    const char* what;
    uint16_t console;
    const char* name;
    const char* password;
    uint64_t advanceMs;  // before the attempt
    int32_t result;
  };
  const char* carol = "NT:NORTH\\carol";
  const Row rows[] = {
      {"right", kMallory, carol, "c-pw", 0, kOk},
      {"without authority: the one of that name", kMallory, "NORTH\\carol", "c-pw", 0, kOk},
      {"without domain: nobody's", kMallory, "NT:carol", "c-pw", 0, kLogonRefused},
      {"wrong", kMallory, carol, "c-PW", 0, kLogonRefused},
      {"nobody's name: the same answer", kMallory, "NT:NORTH\\nobody", "c-pw", 0, kLogonRefused},
      {"empty", kMallory, carol, "", 0, kLogonRefused},
      {"third failure in a row", kMallory, carol, "wrong", 0, kLogonRefused},
      {"slowed: not even checked", kMallory, carol, "c-pw", 0, kLogonSlowed},
      {"still slowed", kMallory, carol, "c-pw", 999, kLogonSlowed},
      {"another peer is not", kProbe, carol, "c-pw", 0, kOk},
      {"the owner never is", kOwner, carol, "c-pw", 0, kOk},
      {"after the delay", kMallory, carol, "c-pw", 1, kOk},
      {"a success started over", kMallory, carol, "x", 0, kLogonRefused},
      {"nobody's name is slowed alike", kMallory, "NT:NORTH\\nobody", "x", 0, kLogonRefused},
      {"", kMallory, "NT:NORTH\\nobody", "x", 0, kLogonRefused},
      {"", kMallory, "NT:NORTH\\nobody", "c-pw", 0, kLogonSlowed},
  };
  for (const Row& row : rows) {
    farm_.now += row.advanceMs;
    const Logon logon = LogOn(row.console, row.name, row.password);
    EXPECT_EQ(logon.result, row.result) << row.what;
    if (logon.result == kOk) {
      EXPECT_EQ(logon.uids, std::vector<uint64_t>{carol_}) << row.what;
      EXPECT_EQ(logon.values, (std::vector<uint32_t>{1, 6})) << row.what;
      EXPECT_EQ(logon.resolved, "Display NORTH\\carol") << row.what;
    }
  }

  // Three failures for alice from mallory; unlocking needs the privilege and a real UID.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Check(kMallory, "unix:alice", "no"), kLogonRefused);
  EXPECT_EQ(Check(kMallory, "unix:alice", "a-pw"), kLogonSlowed);
  EXPECT_EQ(Check(kMallory, "alice", "a-pw"), kOk) << "each form of a name counts alone";
  zel::protocol::UnlockRequest unlock;
  unlock.admin = alice_;
  EXPECT_EQ(Ours(kAlice, unlock), kAccessDenied);
  EXPECT_EQ(Ours(kMallory, unlock), kAccessDenied);
  EXPECT_EQ(Check(kMallory, "unix:alice", "a-pw"), kLogonSlowed);
  EXPECT_EQ(Ours(kBob, unlock), kOk);
  EXPECT_EQ(Check(kMallory, "unix:alice", "a-pw"), kOk);
  unlock.admin = 0x0121000000009999;
  EXPECT_EQ(Ours(kBob, unlock), kNoSuchAdministrator);
  EXPECT_EQ(Ours(kOwner, unlock), kNoSuchAdministrator);
}

TEST_F(CredentialsTest, ALogonActsUntilLogoutForItsConsoleOnly) {
  ASSERT_EQ(SetPassword(kOwner, carol_, "", "c-pw"), kOk);
  farm_.Console(12, "unix:mallory");  // a second console of the same peer
  zel::protocol::Ticket ticket;
  struct Row {
    const char* what;
    uint16_t console;
    int32_t result;
  };
  auto check = [&](const char* step, std::initializer_list<Row> rows) {
    for (const Row& row : rows) {
      EXPECT_EQ(Issue(row.console, 0, &ticket), row.result) << step << ": " << row.what;
    }
  };
  check("before",
        {{"mallory", kMallory, kNotAdministrator}, {"nobody", kNobody, kNotAdministrator}});
  ASSERT_EQ(Check(kMallory, "NT:NORTH\\carol", "c-pw"), kOk);
  check("logged on", {{"mallory", kMallory, kOk}, {"her other console", 12, kNotAdministrator}});
  std::vector<uint64_t> uids;
  uint32_t values[4];
  EXPECT_EQ(Accounts(kMallory, ticket, &uids, values), kOk);
  EXPECT_EQ(uids, std::vector<uint64_t>{carol_});
  // A failed logon leaves the acting identity as it was.
  EXPECT_EQ(Check(kMallory, "NT:NORTH\\carol", "wrong"), kLogonRefused);
  check("after a failed logon", {{"mallory", kMallory, kOk}});
  EXPECT_EQ(Ours(kMallory, zel::protocol::LogoutRequest{}), kOk);
  check("logged out", {{"mallory", kMallory, kNotAdministrator}});
  EXPECT_EQ(Ours(kMallory, zel::protocol::LogoutRequest{}), kOk) << "again: nothing to end";

  // Passwords live in the store; logons do not outlive the subsystem.
  ASSERT_EQ(Check(kMallory, "NT:NORTH\\carol", "c-pw"), kOk);
  farm_.Restart();
  check("restarted", {{"mallory", kMallory, kNotAdministrator}});
  EXPECT_EQ(Check(kMallory, "NT:NORTH\\carol", "c-pw"), kOk);
}

TEST_F(CredentialsTest, TicketsEndToEnd) {
  const uint64_t issued = farm_.now;
  zel::protocol::Ticket ticket;
  ASSERT_EQ(Issue(kAlice, 600, &ticket), kOk);
  struct Row {
    const char* what;
    int flip;            // byte flipped (-1: none; -2: all zero)
    uint64_t advanceMs;  // before the check
    int32_t result;
  };
  const Row rows[] = {
      {"valid", -1, 0, kOk},
      {"another administrator's UID", 8, 0, kTicketInvalid},
      {"a later expiry", 25, 0, kTicketInvalid},
      {"its MAC", 100, 0, kTicketInvalid},
      {"a version of none", 0, 0, kTicketInvalid},
      {"made up", -2, 0, kTicketInvalid},
      {"one second left", -1, 599'000, kOk},
      {"expired", -1, 1'000, kTicketInvalid},
  };
  for (const Row& row : rows) {
    farm_.now += row.advanceMs;
    zel::protocol::Ticket presented = ticket;
    if (row.flip >= 0) presented[row.flip] ^= 1;
    if (row.flip == -2) presented.fill(0);
    std::vector<uint64_t> uids;
    uint32_t values[4] = {};
    EXPECT_EQ(Accounts(kMallory, presented, &uids, values), row.result) << row.what;
    if (row.result != kOk) continue;
    EXPECT_EQ(uids, std::vector<uint64_t>{alice_}) << row.what;
    EXPECT_EQ(values[0], (issued + 600'000 - farm_.now) / 1000) << row.what;  // seconds left
    EXPECT_EQ(values[1], issued / 1000) << row.what;
    EXPECT_EQ(values[2], issued / 1000 + 600) << row.what;
    EXPECT_EQ(values[3], 1u) << row.what;
  }

  // The default lifetime, the longest, and an administrator deleted since.
  std::vector<uint64_t> uids;
  uint32_t values[4] = {};
  ASSERT_EQ(Issue(kBob, 0, &ticket), kOk);
  EXPECT_EQ(Accounts(kMallory, ticket, &uids, values), kOk);
  EXPECT_EQ(values[0], 8u * 60 * 60);
  EXPECT_EQ(Issue(kBob, 7 * 24 * 60 * 60, &ticket), kOk);
  EXPECT_EQ(Issue(kBob, 7 * 24 * 60 * 60 + 1, &ticket), kInvalidRequest);
  ASSERT_EQ(Issue(kDave, 60, &ticket), kOk);
  RemoveAdmin(dave_);
  EXPECT_EQ(Accounts(kMallory, ticket, &uids, values), kTicketInvalid);
}

TEST_F(CredentialsTest, ExportAndImportAreTheOwnersAndRoundTrip) {
  ASSERT_EQ(SetPassword(kOwner, alice_, "", "a-pw"), kOk);
  ASSERT_EQ(SetPassword(kOwner, carol_, "", "c-pw"), kOk);
  zel::protocol::ExportCredentialsReply exported;
  EXPECT_EQ(Ours(kBob, zel::protocol::ExportCredentialsRequest{}, &exported), kAccessDenied);
  ASSERT_EQ(Ours(kOwner, zel::protocol::ExportCredentialsRequest{}, &exported), kOk);
  ASSERT_EQ(exported.credentials.size(), 2u);
  EXPECT_EQ(exported.credentials[0].admin, alice_);
  EXPECT_EQ(exported.credentials[1].admin, carol_);
  for (const auto& c : exported.credentials) EXPECT_TRUE(secrets::IsStoredHash(c.hash.view()));

  StoreCredential(alice_, "");
  StoreCredential(carol_, "");
  EXPECT_EQ(Check(kProbe, "unix:alice", "a-pw"), kLogonRefused) << "no password: refused";

  zel::protocol::ImportCredentialsRequest import;
  import.credentials = exported.credentials;
  struct Row {
    const char* what;
    uint16_t by;
    std::vector<zel::protocol::StoredCredential> credentials;
    int32_t result;
  };
  auto with = [&](uint64_t admin, std::string_view hash) {
    std::vector<zel::protocol::StoredCredential> list = exported.credentials;
    list.push_back({admin, SecretBytes(hash)});
    return list;
  };
  const Row refused[] = {
      {"a manager", kBob, exported.credentials, kAccessDenied},
      {"an unknown administrator", kOwner,
       with(0x0121000000009999, exported.credentials[0].hash.view()), kNoSuchAdministrator},
      {"a hash that is none", kOwner, with(bob_, "$argon2id$v=19$m=8,t=1,p=1$c2FsdA$"),
       kInvalidRequest},
      {"a clear password", kOwner, with(bob_, "hunter2"), kInvalidRequest},
      {"one administrator twice", kOwner, with(alice_, exported.credentials[1].hash.view()),
       kInvalidRequest},
  };
  for (const Row& row : refused) {
    import.credentials = row.credentials;
    EXPECT_EQ(Ours(row.by, import), row.result) << row.what;
    farm_.now += 60 * 60 * 1000;  // no delay left from the checks before
    EXPECT_EQ(Check(kProbe, "unix:alice", "a-pw"), kLogonRefused) << row.what << ": nothing set";
  }
  import.credentials = exported.credentials;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(Ours(kOwner, import), kOk) << round;
    EXPECT_EQ(Check(kProbe, "unix:alice", "a-pw"), kOk) << round;
    EXPECT_EQ(Check(kProbe, "NT:NORTH\\carol", "c-pw"), kOk) << round;
  }
  const auto records = Audit();
  std::vector<std::string> imports;
  for (const auto& r : records) {
    if (r.eventID == ev::kImportCredentials && r.result == kOk) imports.push_back(r.what.toUtf8());
  }
  EXPECT_EQ(imports, (std::vector<std::string>{"import 2 password hashes, 2 changed",
                                               "import 2 password hashes, 0 changed"}));
}

TEST_F(CredentialsTest, EveryChangeIsAuditedAndNoSecretIs) {
  ASSERT_EQ(SetPassword(kOwner, alice_, "", "Secret-Alice-1"), kOk);
  ASSERT_EQ(SetPassword(kAlice, alice_, "Secret-Alice-1", "Secret-Alice-2"), kOk);
  EXPECT_EQ(Check(kMallory, "unix:alice", "Secret-Guess-3"), kLogonRefused);
  ASSERT_EQ(Check(kMallory, "unix:alice", "Secret-Alice-2"), kOk);
  zel::protocol::Ticket ticket;
  ASSERT_EQ(Issue(kMallory, 0, &ticket), kOk);
  std::vector<uint64_t> uids;
  uint32_t values[4];
  ASSERT_EQ(Accounts(kProbe, ticket, &uids, values), kOk);
  ticket[9] ^= 1;
  EXPECT_EQ(Accounts(kProbe, ticket, &uids, values), kTicketInvalid);
  zel::protocol::UnlockRequest unlock;
  unlock.admin = alice_;
  ASSERT_EQ(Ours(kBob, unlock), kOk);
  zel::protocol::ExportCredentialsReply exported;
  ASSERT_EQ(Ours(kOwner, zel::protocol::ExportCredentialsRequest{}, &exported), kOk);
  zel::protocol::ImportCredentialsRequest import;
  import.credentials = exported.credentials;
  ASSERT_EQ(Ours(kOwner, import), kOk);
  ASSERT_EQ(Ours(kMallory, zel::protocol::LogoutRequest{}), kOk);

  struct Row {
    uint16_t eventID;
    int32_t result;
    const char* actor;
    const char* what;  // the start of it
  };
  const std::string alice = zel::protocol::ShowUID(alice_);
  const Row rows[] = {
      {ev::kSetCredential, kOk, "unix:root", "set the password of "},
      {ev::kSetCredential, kOk, "unix:alice", "set the password of "},
      {ev::kLogon2, kLogonRefused, "unix:mallory", "logon as unix:alice"},
      {ev::kLogon2, kOk, "unix:alice", "logon as unix:alice ("},
      {ev::kIssueTicket, kOk, "unix:alice", "issue a ticket for "},
      {ev::kGetVoAdminAccountsForTicket, kOk, "unix:probe", "check a ticket of "},
      {ev::kGetVoAdminAccountsForTicket, kTicketInvalid, "unix:probe", "check a ticket: altered"},
      {ev::kUnlock, kOk, "unix:bob", "unlock "},
      {ev::kExportCredentials, kOk, "unix:root", "export the password hashes of 1 "},
      {ev::kImportCredentials, kOk, "unix:root", "import 1 password hashes, 0 changed"},
      {ev::kLogout, kOk, "unix:mallory", "logout of "},
  };
  const auto records = Audit();
  ASSERT_EQ(records.size(), std::size(rows));
  std::string everything;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto& r = records[i];
    const Row& row = rows[i];
    EXPECT_EQ(r.eventID, row.eventID) << i;
    EXPECT_EQ(r.result, row.result) << i;
    EXPECT_EQ(r.actor.toUtf8(), row.actor) << i;
    EXPECT_EQ(r.what.toUtf8().rfind(row.what, 0), 0u) << i << ": " << r.what.toUtf8();
    everything += r.actor.toUtf8() + r.peer.toUtf8() + r.what.toUtf8() + "\n";
  }
  EXPECT_EQ(everything.find("Secret-"), std::string::npos) << everything;
  EXPECT_EQ(everything.find("argon2"), std::string::npos) << everything;
  EXPECT_EQ(everything.find(std::string(exported.credentials[0].hash.view()).substr(30)),
            std::string::npos);
}

// Event 82 as the tree handlers receive it: ParseEnumerateGroupEvent deciphers the password
// with the transport key, CheckGroupCredentials checks it. A handler of the test's own stands
// in for the tree handler and answers the administrator's UID.
TEST_F(CredentialsTest, EventEightyTwosCredentialsAreCheckedLikeALogon) {
  ASSERT_EQ(SetPassword(kOwner, carol_, "", "c-pw"), kOk);
  ASSERT_EQ(SetPassword(kOwner, alice_, "", "p\xc3\xa4ss"), kOk);
  farm_.Subsystem().Table().Add(
      ev::kEnumerateGroupWithCredentials, Effect::kReads, [](Context& ctx, Call& call) {
        ZEL_AdminToolSAL sal(ctx.host);
        ZEL_AdminToolObject* group = nullptr;
        UM_Credentials* credentials = nullptr;
        const int32_t parsed = sal.ParseEnumerateGroupEvent(
            const_cast<ZEL_BUF_EventBuffer*>(&call.request), &group, &credentials);
        delete group;
        std::unique_ptr<UM_Credentials> owned(credentials);
        if (parsed != 0) return parsed;
        Administrator admin;
        const int32_t checked = CheckGroupCredentials(ctx, call.caller, *owned, &admin);
        if (checked == kOk) call.out << admin.uid;
        return checked;
      });
  auto text = [](std::u16string_view value, std::vector<uint8_t>* out) {
    const uint32_t size = static_cast<uint32_t>(value.size() + 1) * 2;
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(size >> (8 * i)));
    for (char16_t c : value) out->insert(out->end(), {uint8_t(c & 0xFF), uint8_t(c >> 8)});
    out->insert(out->end(), {0, 0});
  };
  auto request = [&](std::u16string_view account, std::u16string_view password) {
    std::vector<uint8_t> payload;
    text(u"Farm/Group", &payload);  // parent DN
    text(u"grp", &payload);         // the node head: name, title, flags, ssid, icon, uid
    text(u"", &payload);
    payload.insert(payload.end(), 2 + 2 + 8 + 8, 0);
    text(account, &payload);
    std::vector<uint8_t> secret;
    text(password, &secret);
    secret.erase(secret.begin(), secret.begin() + 4);  // the units and their NUL, no length
    EXPECT_EQ(ZEL_SECURE_EncryptData(secret.data(), static_cast<uint32_t>(secret.size()), 0x3A), 0);
    const uint32_t size = static_cast<uint32_t>(secret.size());
    for (int i = 0; i < 4; ++i) payload.push_back(static_cast<uint8_t>(size >> (8 * i)));
    payload.insert(payload.end(), secret.begin(), secret.end());
    return payload;
  };
  struct Row {
    const char* what;
    std::u16string account, password;
    int32_t result;
    uint64_t admin;
  };
  const Row rows[] = {
      {"right", u"NORTH\\carol", u"c-pw", kOk, carol_},
      {"UTF-16 made UTF-8", u"alice", u"p\u00e4ss", kOk, alice_},
      {"wrong", u"NORTH\\carol", u"C-PW", kLogonRefused, 0},
      {"no domain: nobody's", u"carol", u"c-pw", kLogonRefused, 0},
      {"a lone surrogate", u"NORTH\\carol", std::u16string(1, char16_t{0xD800}), kLogonRefused, 0},
      {"third failure", u"NORTH\\carol", u"", kLogonRefused, 0},
      {"slowed like a logon", u"NORTH\\carol", u"c-pw", kLogonSlowed, 0},
  };
  for (const Row& row : rows) {
    std::unique_ptr<ZEL_BUF_EventBuffer> reply;
    EXPECT_EQ(farm_.Raw(kMallory, ev::kEnumerateGroupWithCredentials,
                        request(row.account, row.password), &reply),
              row.result)
        << row.what;
    if (row.result != kOk) continue;
    ASSERT_EQ(reply->GetSize(), 12u) << row.what;
    uint64_t uid = 0;
    std::memcpy(&uid, reply->GetData() + 4, 8);
    EXPECT_EQ(uid, row.admin) << row.what;
  }
  EXPECT_EQ(Check(kMallory, "NORTH\\carol", "c-pw"), kLogonSlowed) << "one count with Logon2";
}

TEST_F(CredentialsTest, NoTraceRecordHoldsAPasswordOrATicket) {
  ASSERT_TRUE(kTracesInstalled);
  ASSERT_EQ(SetPassword(kOwner, carol_, "", "Secret-Carol"), kOk);
  zel::trace::testing::CaptureDevice& traces = Traces();
  traces.records.clear();
  traces.EnableAll();
  EXPECT_EQ(Check(kMallory, "NT:NORTH\\carol", "Secret-Wrong"), kLogonRefused);
  EXPECT_EQ(Check(kMallory, "NT:NORTH\\carol", "Secret-Carol"), kOk);
  zel::protocol::Ticket ticket;
  ASSERT_EQ(Issue(kMallory, 0, &ticket), kOk);
  std::vector<uint64_t> uids;
  uint32_t values[4];
  EXPECT_EQ(Accounts(kProbe, ticket, &uids, values), kOk);
  zel::protocol::Ticket altered = ticket;
  altered[20] ^= 1;
  EXPECT_EQ(Accounts(kProbe, altered, &uids, values), kTicketInvalid);
  traces.control = {};
  ASSERT_FALSE(traces.records.empty()) << "the ticket calls trace their results";
  const std::string secrets[] = {"Secret-", std::string(ticket.begin() + 32, ticket.begin() + 64),
                                 std::string(ticket.begin() + 88, ticket.end())};
  for (const auto& record : traces.records) {
    for (const auto& argument : record.arguments) {
      const std::string bytes(argument.begin(), argument.end());
      for (const std::string& secret : secrets) {
        EXPECT_EQ(bytes.find(secret), std::string::npos) << "message " << record.messageNumber;
      }
    }
  }
  traces.records.clear();
}

TEST_F(CredentialsTest, RequestsThatDoNotParseChangeNothing) {
  ASSERT_EQ(SetPassword(kOwner, alice_, "", "a-pw"), kOk);
  auto u32 = [](uint32_t v) {
    return std::vector<uint8_t>{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  };
  auto cat = [](std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  std::vector<uint8_t> uid(8);
  std::memcpy(uid.data(), &alice_, 8);
  const std::vector<uint8_t> name = {4, 0, 0, 0, 'x', 0, 0, 0};  // the text "x"
  struct Row {
    const char* what;
    uint16_t eventID;
    std::vector<uint8_t> payload;
  };
  const Row rows[] = {
      {"logon: credentials longer than the request", ev::kLogon2, cat({name, u32(50), {1, 2}})},
      {"logon: bytes after it", ev::kLogon2, cat({name, u32(1), {'a', 9}})},
      {"password: not UTF-8", ev::kSetCredential, cat({uid, u32(0), u32(2), {0xC3, 0x28}})},
      {"password: 128 characters", ev::kSetCredential,
       cat({uid, u32(0), u32(128), std::vector<uint8_t>(128, 'a')})},
      {"password: cut short", ev::kSetCredential, cat({uid, u32(0), u32(4), {'a'}})},
      {"ticket: 119 bytes", ev::kGetVoAdminAccountsForTicket, std::vector<uint8_t>(119)},
      {"ticket: 121 bytes", ev::kGetVoAdminAccountsForTicket, std::vector<uint8_t>(121)},
      {"issue: lifetime cut", ev::kIssueTicket, {1, 0}},
      {"logout: bytes", ev::kLogout, {0}},
      {"unlock: short", ev::kUnlock, {1, 2, 3}},
      {"import: a count it cannot hold", ev::kImportCredentials, u32(0x10000000)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(farm_.Raw(kOwner, row.eventID, row.payload), kMalformedRequest) << row.what;
  }
  EXPECT_EQ(Check(kProbe, "unix:alice", "a-pw"), kOk);
}

}  // namespace
}  // namespace zel::subsystem
