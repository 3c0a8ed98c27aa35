// Credentials end to end, consoles against the subsystem on a real store: who may set a
// password, logons right, wrong, slowed and unlocked, the acting identity until logout,
// tickets, export and import, and no secret in the audit or the
// traces. The library is the console where it has the operation (Logon2,
// GetVoAdminAccountsForTicket); the events of ours go as their protocol messages.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "console_views.h"
#include "secrets/password_hash.h"
#include "subsystem_farm.h"
#include "zel/protocol/audit.h"
#include "zel/protocol/credentials.h"
#include "zel/protocol/result_reply.h"
#include "zel/subsystem/codes.h"
#include "zel/subsystem/credentials.h"
#include "zel/tracedev/testing/capture_device.h"

// The library exports it from an inner header; its declaration, for this test program.
namespace zel::trace {
void InstallTraceDevice(TraceDevice* device);
}  // namespace zel::trace

namespace zel::subsystem {
namespace {

namespace ev = zel::protocol::event;
using zel::protocol::SecretBytes;
using zel::protocol::Ticket;

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

// Consoles (subsystem UIDs) and the peers they act as.
constexpr uint16_t kOwner = 5;    // the farm's owner
constexpr uint16_t kAlice = 6;    // unix:alice, administrator with read-farm
constexpr uint16_t kBob = 7;      // unix:bob, administrator with manage-administrators
constexpr uint16_t kMallory = 8;  // unix:mallory, no administrator
constexpr uint16_t kNobody = 9;   // no peer identity
constexpr uint16_t kDave = 10;    // unix:dave, administrator without a password
constexpr uint16_t kProbe = 11;   // unix:probe, no administrator: tries passwords
constexpr uint64_t kNoSuchUID = 0x0121000000009999;
constexpr uint64_t kHour = 60 * 60 * 1000;

class CredentialsTest : public testing::FarmTest {
 protected:
  void SetUp() override {
    for (auto [uid, peer] : {std::pair<uint16_t, const char*>{kAlice, "unix:alice"},
                             {kBob, "unix:bob"},
                             {kMallory, "unix:mallory"},
                             {kNobody, ""},
                             {kDave, "unix:dave"},
                             {kProbe, "unix:probe"}}) {
      farm_.Console(uid, peer);
    }
    farm_.Owner();
    alice_ = farm_.AddAdmin("unix:alice", {1});
    bob_ = farm_.AddAdmin("unix:bob", {2});
    carol_ = farm_.AddAdmin("NT:NORTH\\carol", {1, 6});
    dave_ = farm_.AddAdmin("unix:dave", {1});
  }

  int32_t SetPassword(uint16_t uid, uint64_t admin, std::string_view old, std::string_view pw) {
    return farm_.Ask(uid,
                     zel::protocol::SetCredentialRequest{admin, SecretBytes(old), SecretBytes(pw)});
  }
  int32_t Unlock(uint16_t uid, uint64_t admin) {
    return farm_.Ask(uid, zel::protocol::UnlockRequest{admin});
  }
  testing::Logon LogOn(uint16_t uid, const std::string& name, const std::string& password) {
    return testing::LogOn(farm_.Console(uid, ""), name, password);
  }
  int32_t Check(uint16_t uid, const std::string& name, const std::string& password) {
    return LogOn(uid, name, password).result;
  }

  int32_t Issue(uint16_t uid, uint32_t seconds, Ticket* ticket) {
    zel::protocol::IssueTicketRequest request;
    request.lifetimeSeconds = seconds;
    zel::protocol::IssueTicketReply reply;
    const int32_t result = farm_.Ask(uid, request, &reply);
    if (result >= 0) *ticket = reply.ticket;
    return result;
  }

  struct Accounts {
    int32_t result = 0;
    std::vector<uint64_t> uids;
    std::array<uint32_t, 4> values{};
  };
  // GetVoAdminAccountsForTicket through the library.
  Accounts ForTicket(uint16_t uid, Ticket ticket) {
    ZEL_AdminToolSAL6& sal = farm_.Console(uid, "");
    _VoAdminAccounts* accounts = nullptr;
    Accounts out;
    out.result = sal.GetVoAdminAccountsForTicket(ticket.data(), accounts);
    if (accounts == nullptr) return out;
    out.uids.assign(accounts->accountUIDs, accounts->accountUIDs + accounts->accountCount);
    out.values = {accounts->value1, accounts->value2, accounts->value3, accounts->value4};
    sal.FreeMemory(accounts->accountUIDs, ZEL_AdminToolSAL3::kFreePlainArray);
    sal.FreeMemory(accounts, ZEL_AdminToolSAL3::kFreePlainArray);
    return out;
  }

  ZEL_PS_LDAPSAL directory_{farm_.Host()};  // the test's own connection to the store
  AdministratorStore store_{directory_};
  uint64_t alice_ = 0, bob_ = 0, carol_ = 0, dave_ = 0;
};

TEST_P(CredentialsTest, WhoMaySetAPassword) {
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
      {"no administrator", kMallory, alice, "a3", "m1", kAccessDenied, "a3"},
      {"nobody", kNobody, alice, "a3", "n1", kAccessDenied, "a3"},
      {"his first, acting as his peer", kDave, dave_, "", "d1", kOk, "d1"},
      {"his second needs the first", kDave, dave_, "", "d2", kLogonRefused, "d1"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(SetPassword(row.by, row.target, row.old, row.password), row.result) << row.what;
    farm_.now += kHour;  // no delay left from the failures of the row
    const std::string name = row.target == alice ? "unix:alice" : "unix:dave";
    EXPECT_EQ(Check(kProbe, name, row.works), kOk) << row.what;
    if (std::strcmp(row.password, row.works) != 0 && row.password[0] != '\0') {
      EXPECT_EQ(Check(kProbe, name, row.password), kLogonRefused) << row.what;
    }
  }
  EXPECT_EQ(SetPassword(kAlice, bob_, "", "b1"), kAccessDenied);
  EXPECT_EQ(SetPassword(kBob, kNoSuchUID, "", "x"), kNoSuchAdministrator);
}

TEST_P(CredentialsTest, LogonRightWrongSlowedAndUnlocked) {
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
  const char* nobody = "NT:NORTH\\nobody";
  const Row rows[] = {
      {"right", kMallory, carol, "c-pw", 0, kOk},
      {"without authority: the one of that name", kMallory, "NORTH\\carol", "c-pw", 0, kOk},
      {"without domain: nobody's", kMallory, "NT:carol", "c-pw", 0, kLogonRefused},
      {"wrong", kMallory, carol, "c-PW", 0, kLogonRefused},
      {"nobody's name: the same answer", kMallory, nobody, "c-pw", 0, kLogonRefused},
      {"empty", kMallory, carol, "", 0, kLogonRefused},
      {"third failure in a row", kMallory, carol, "wrong", 0, kLogonRefused},
      {"slowed: not even checked", kMallory, carol, "c-pw", 0, kLogonSlowed},
      {"still slowed", kMallory, carol, "c-pw", 999, kLogonSlowed},
      {"another peer is not", kProbe, carol, "c-pw", 0, kOk},
      {"the owner never is", kOwner, carol, "c-pw", 0, kOk},
      {"after the delay", kMallory, carol, "c-pw", 1, kOk},
      {"a success started over", kMallory, carol, "x", 0, kLogonRefused},
      {"nobody's name is slowed alike", kMallory, nobody, "x", 0, kLogonRefused},
      {"", kMallory, nobody, "x", 0, kLogonRefused},
      {"", kMallory, nobody, "c-pw", 0, kLogonSlowed},
  };
  for (const Row& row : rows) {
    farm_.now += row.advanceMs;
    const testing::Logon logon = LogOn(row.console, row.name, row.password);
    EXPECT_EQ(logon.result, row.result) << row.what;
    if (logon.result != kOk) continue;
    EXPECT_EQ(logon.uids, std::vector<uint64_t>{carol_}) << row.what;
    EXPECT_EQ(logon.values, (std::vector<uint32_t>{1, 6})) << row.what;
    EXPECT_EQ(logon.resolved, "Display NORTH\\carol") << row.what;
  }

  // Three failures for alice from mallory; unlocking needs the privilege and a real UID.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Check(kMallory, "unix:alice", "no"), kLogonRefused);
  EXPECT_EQ(Check(kMallory, "alice", "a-pw"), kOk) << "each form of a name counts alone";
  EXPECT_EQ(Unlock(kAlice, alice_), kAccessDenied);
  EXPECT_EQ(Unlock(kMallory, alice_), kAccessDenied);
  EXPECT_EQ(Check(kMallory, "unix:alice", "a-pw"), kLogonSlowed);
  EXPECT_EQ(Unlock(kBob, alice_), kOk);
  EXPECT_EQ(Check(kMallory, "unix:alice", "a-pw"), kOk);
  EXPECT_EQ(Unlock(kBob, kNoSuchUID), kNoSuchAdministrator);
}

TEST_P(CredentialsTest, ALogonActsUntilLogoutForItsConsoleOnly) {
  ASSERT_EQ(SetPassword(kOwner, carol_, "", "c-pw"), kOk);
  farm_.Console(12, "unix:mallory");  // a second console of the same peer
  Ticket ticket;
  EXPECT_EQ(Issue(kMallory, 0, &ticket), kNotAdministrator);
  EXPECT_EQ(Issue(kNobody, 0, &ticket), kNotAdministrator);
  ASSERT_EQ(Check(kMallory, "NT:NORTH\\carol", "c-pw"), kOk);
  EXPECT_EQ(Issue(12, 0, &ticket), kNotAdministrator);
  ASSERT_EQ(Issue(kMallory, 0, &ticket), kOk);
  EXPECT_EQ(ForTicket(kMallory, ticket).uids, std::vector<uint64_t>{carol_});
  // A failed logon leaves the acting identity as it was; a logout ends it.
  EXPECT_EQ(Check(kMallory, "NT:NORTH\\carol", "wrong"), kLogonRefused);
  EXPECT_EQ(Issue(kMallory, 0, &ticket), kOk);
  EXPECT_EQ(farm_.Ask(kMallory, zel::protocol::LogoutRequest{}), kOk);
  EXPECT_EQ(Issue(kMallory, 0, &ticket), kNotAdministrator);
  EXPECT_EQ(farm_.Ask(kMallory, zel::protocol::LogoutRequest{}), kOk) << "again: nothing to end";
  // A hash made under other limits is made again at the next logon, with the farm's.
  SecretBytes dear;
  ASSERT_EQ(secrets::PasswordHasher(secrets::HashLimits::kInteractive).Hash("c-pw", &dear),
            secrets::HashResult::kOk);
  ASSERT_EQ(store_.SetCredential(carol_, std::string(dear.view())), 0);
  ASSERT_EQ(Check(kMallory, "NT:NORTH\\carol", "c-pw"), kOk);
  Administrator stored;
  ASSERT_EQ(store_.Find(carol_, &stored), 0);
  EXPECT_FALSE(secrets::PasswordHasher(secrets::HashLimits::kMin)
                   .NeedsRehash(SecretBytes(std::string_view(stored.credential))));
  // A logon is its connection's: it ends when that closes.
  ASSERT_EQ(Issue(kMallory, 0, &ticket), kOk);
  farm_.Reconnect(kMallory);
  EXPECT_EQ(Issue(kMallory, 0, &ticket), kNotAdministrator);
  // Adding carol again keeps her password; passwords live in the store; logons do not outlive
  // the subsystem.
  ZEL_ADMIN_USERINFO again[] = {testing::Record("NT:NORTH\\carol", {1, 6})};
  ASSERT_EQ(static_cast<AdminToolInterface2&>(farm_.Owner()).AddUsers2(1, again), 0);
  farm_.Restart();
  EXPECT_EQ(Issue(kMallory, 0, &ticket), kNotAdministrator);
  EXPECT_EQ(Check(kMallory, "NT:NORTH\\carol", "c-pw"), kOk);
}

TEST_P(CredentialsTest, TicketsEndToEnd) {
  const uint64_t issued = farm_.now;
  Ticket ticket;
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
      {"its MAC", 100, 0, kTicketInvalid},
      {"made up", -2, 0, kTicketInvalid},
      {"one second left", -1, 599'000, kOk},
      {"expired", -1, 1'000, kTicketInvalid},
  };
  for (const Row& row : rows) {
    farm_.now += row.advanceMs;
    Ticket presented = ticket;
    if (row.flip >= 0) presented[row.flip] ^= 1;
    if (row.flip == -2) presented.fill(0);
    const Accounts seen = ForTicket(kMallory, presented);
    EXPECT_EQ(seen.result, row.result) << row.what;
    if (row.result != kOk) continue;
    EXPECT_EQ(seen.uids, std::vector<uint64_t>{alice_}) << row.what;
    const uint32_t left = static_cast<uint32_t>((issued + 600'000 - farm_.now) / 1000);
    const uint32_t start = static_cast<uint32_t>(issued / 1000);
    EXPECT_EQ(seen.values, (std::array<uint32_t, 4>{left, start, start + 600, 1})) << row.what;
  }
  // The default lifetime, the longest, and an administrator deleted since.
  ASSERT_EQ(Issue(kBob, 0, &ticket), kOk);
  EXPECT_EQ(ForTicket(kMallory, ticket).values[0], 8u * 60 * 60);
  EXPECT_EQ(Issue(kBob, 7 * 24 * 60 * 60, &ticket), kOk);
  EXPECT_EQ(Issue(kBob, 7 * 24 * 60 * 60 + 1, &ticket), kInvalidRequest);
  ASSERT_EQ(Issue(kDave, 60, &ticket), kOk);
  ASSERT_EQ(store_.Remove(dave_), 0);
  EXPECT_EQ(ForTicket(kMallory, ticket).result, kTicketInvalid);
}

TEST_P(CredentialsTest, ExportAndImportAreTheOwnersAndRoundTrip) {
  ASSERT_EQ(SetPassword(kOwner, alice_, "", "a-pw"), kOk);
  ASSERT_EQ(SetPassword(kOwner, carol_, "", "c-pw"), kOk);
  zel::protocol::ExportCredentialsReply exported;
  EXPECT_EQ(farm_.Ask(kBob, zel::protocol::ExportCredentialsRequest{}, &exported), kAccessDenied);
  ASSERT_EQ(farm_.Ask(kOwner, zel::protocol::ExportCredentialsRequest{}, &exported), kOk);
  ASSERT_EQ(exported.credentials.size(), 2u);
  EXPECT_EQ(exported.credentials[0].admin, alice_);
  EXPECT_EQ(exported.credentials[1].admin, carol_);
  for (const auto& c : exported.credentials) EXPECT_TRUE(secrets::IsStoredHash(c.hash.view()));
  ASSERT_EQ(store_.SetCredential(alice_, ""), 0);
  ASSERT_EQ(store_.SetCredential(carol_, ""), 0);

  auto with = [&](uint64_t admin, std::string_view hash) {
    zel::protocol::ImportCredentialsRequest import;
    import.credentials = exported.credentials;
    import.credentials.push_back({admin, SecretBytes(hash)});
    return import;
  };
  const std::string_view aliceHash = exported.credentials[0].hash.view();
  const std::tuple<const char*, uint16_t, zel::protocol::ImportCredentialsRequest, int32_t>
      refused[] = {
          {"a manager", kBob, with(bob_, aliceHash), kAccessDenied},
          {"an unknown administrator", kOwner, with(kNoSuchUID, aliceHash), kNoSuchAdministrator},
          {"a hash that is none", kOwner, with(bob_, "$argon2id$v=19$m=8,t=1,p=1$c2FsdA$"),
           kInvalidRequest},
          {"a clear password", kOwner, with(bob_, "hunter2"), kInvalidRequest},
          {"one administrator twice", kOwner, with(alice_, aliceHash), kInvalidRequest},
      };
  for (const auto& [what, by, import, result] : refused) {
    EXPECT_EQ(farm_.Ask(by, import), result) << what;
    farm_.now += kHour;  // no delay left from the checks before
    EXPECT_EQ(Check(kProbe, "unix:alice", "a-pw"), kLogonRefused) << what << ": nothing set";
  }
  zel::protocol::ImportCredentialsRequest import;
  import.credentials = exported.credentials;
  for (int round = 0; round < 2; ++round) {  // the second changes nothing
    EXPECT_EQ(farm_.Ask(kOwner, import), kOk) << round;
    EXPECT_EQ(Check(kProbe, "unix:alice", "a-pw"), kOk) << round;
    EXPECT_EQ(Check(kProbe, "NT:NORTH\\carol", "c-pw"), kOk) << round;
  }
}

TEST_P(CredentialsTest, EveryChangeIsAuditedAndNoSecretIsAuditedOrTraced) {
  ASSERT_TRUE(kTracesInstalled);
  Traces().records.clear();
  Traces().EnableAll();
  ASSERT_EQ(SetPassword(kOwner, alice_, "", "Secret-Alice-1"), kOk);
  ASSERT_EQ(SetPassword(kAlice, alice_, "Secret-Alice-1", "Secret-Alice-2"), kOk);
  EXPECT_EQ(Check(kMallory, "unix:alice", "Secret-Guess-3"), kLogonRefused);
  EXPECT_EQ(Check(kMallory, std::string(1000, 'n'), "x"), kLogonRefused);
  ASSERT_EQ(Check(kMallory, "unix:alice", "Secret-Alice-2"), kOk);
  Ticket ticket;
  ASSERT_EQ(Issue(kMallory, 0, &ticket), kOk);
  ASSERT_EQ(ForTicket(kProbe, ticket).result, kOk);
  Ticket altered = ticket;
  altered[9] ^= 1;
  EXPECT_EQ(ForTicket(kProbe, altered).result, kTicketInvalid);
  ASSERT_EQ(Unlock(kBob, alice_), kOk);
  zel::protocol::ExportCredentialsReply exported;
  ASSERT_EQ(farm_.Ask(kOwner, zel::protocol::ExportCredentialsRequest{}, &exported), kOk);
  zel::protocol::ImportCredentialsRequest import;
  import.credentials = exported.credentials;
  ASSERT_EQ(farm_.Ask(kOwner, import), kOk);
  ASSERT_EQ(farm_.Ask(kMallory, zel::protocol::LogoutRequest{}), kOk);
  Traces().control = {};

  struct Row {
    uint16_t eventID;
    int32_t result;
    std::string actor;
    const char* what;  // the start of it
  };
  const std::string owner = farm_.OwnerPeer();
  const Row rows[] = {
      {ev::kSetCredential, kOk, owner, "set the password of "},
      {ev::kSetCredential, kOk, "unix:alice", "set the password of "},
      {ev::kLogon2, kLogonRefused, "unix:mallory", "logon as unix:alice"},
      {ev::kLogon2, kLogonRefused, "unix:mallory", "logon as nnn"},
      {ev::kLogon2, kOk, "unix:alice", "logon as unix:alice ("},
      {ev::kIssueTicket, kOk, "unix:alice", "issue a ticket for "},
      {ev::kGetVoAdminAccountsForTicket, kOk, "unix:probe", "check a ticket of "},
      {ev::kGetVoAdminAccountsForTicket, kTicketInvalid, "unix:probe", "check a ticket: altered"},
      {ev::kUnlock, kOk, "unix:bob", "unlock "},
      {ev::kExportCredentials, kOk, owner, "export the password hashes of 1 "},
      {ev::kImportCredentials, kOk, owner, "import 1 password hashes, 0 changed"},
      {ev::kLogout, kOk, "unix:mallory", "logout of "},
  };
  zel::protocol::AuditQueryReply audit;
  ASSERT_EQ(farm_.Ask(kOwner, zel::protocol::AuditQueryRequest{}, &audit), 0);
  ASSERT_EQ(audit.records.size(), std::size(rows));
  std::vector<std::string> seen;
  for (std::size_t i = 0; i < audit.records.size(); ++i) {
    const auto& r = audit.records[i];
    EXPECT_EQ(r.eventID, rows[i].eventID) << i;
    EXPECT_EQ(r.result, rows[i].result) << i;
    EXPECT_EQ(r.actor.toUtf8(), rows[i].actor) << i;
    EXPECT_EQ(r.what.toUtf8().rfind(rows[i].what, 0), 0u) << i << ": " << r.what.toUtf8();
    seen.push_back(r.actor.toUtf8() + r.peer.toUtf8() + r.what.toUtf8());
  }
  EXPECT_EQ(audit.records[3].what.toUtf8(), "logon as " + std::string(256, 'n')) << "cut";
  ASSERT_FALSE(Traces().records.empty()) << "the ticket calls trace their results";
  for (const auto& record : Traces().records) {
    for (const auto& argument : record.arguments)
      seen.emplace_back(argument.begin(), argument.end());
  }
  const std::string secrets[] = {"Secret-", "argon2",
                                 std::string(exported.credentials[0].hash.view()).substr(30),
                                 std::string(ticket.begin() + 32, ticket.begin() + 64),
                                 std::string(ticket.begin() + 88, ticket.end())};
  for (const std::string& text : seen) {
    for (const std::string& secret : secrets) EXPECT_EQ(text.find(secret), std::string::npos);
  }
  Traces().records.clear();
}

TEST_P(CredentialsTest, RequestsThatDoNotParseChangeNothing) {
  ASSERT_EQ(SetPassword(kOwner, alice_, "", "a-pw"), kOk);
  auto bytes = [](auto... fields) {
    ZEL_BUF_BinBuffer out;
    (out << ... << fields);
    return std::vector<uint8_t>(out.GetData(), out.GetData() + out.GetSize());
  };
  auto plus = [](std::vector<uint8_t> head, std::vector<uint8_t> tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const std::tuple<const char*, uint16_t, std::vector<uint8_t>> rows[] = {
      {"logon: credentials longer than the request", ev::kLogon2,
       plus(bytes(ZELString(u"unix:alice"), uint32_t{50}), {'a', '-'})},
      {"logon: bytes after it", ev::kLogon2, plus(bytes(ZELString(u"x"), uint32_t{1}), {'a', 9})},
      {"password: not UTF-8", ev::kSetCredential,
       plus(bytes(alice_, uint32_t{0}, uint32_t{2}), {0xC3, 0x28})},
      {"password: 128 characters", ev::kSetCredential,
       plus(bytes(alice_, uint32_t{0}, uint32_t{128}), std::vector<uint8_t>(128, 'a'))},
      {"ticket: 121 bytes", ev::kGetVoAdminAccountsForTicket, std::vector<uint8_t>(121)},
      {"import: a count it cannot hold", ev::kImportCredentials, bytes(uint32_t{0x10000000})},
  };
  for (const auto& [what, event, payload] : rows) {
    EXPECT_EQ(farm_.Raw(kOwner, event, payload), kMalformedRequest) << what;
  }
  EXPECT_EQ(Check(kProbe, "unix:alice", "a-pw"), kOk);
}

ZEL_TABLES_OVER_TRANSPORTS(CredentialsTest);

}  // namespace
}  // namespace zel::subsystem
