// The AdminTool subsystem answering any bytes as a request: the first input byte picks the
// event (one the subsystem answers, or an ID it does not) and the caller (the owner, an
// administrator without privileges, an administrator who manages others, or an account that is
// none); the rest is the payload. Each input starts from a copy of one store (administrators, a
// default user, tree objects with capabilities). Checks: every request gets a reply that starts
// with its result; a request answered with a negative result leaves every entry outside the
// audit as it was; nothing is left allocated (the leak checker).
#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/directory/testing/temp_store.h"
#include "zel/protocol/events.h"
#include "zel/runtime/farm.h"
#include "zel/runtime/testing/portable.h"
#include "zel/subsystem/admintool.h"

namespace {

namespace ev = zel::protocol::event;

constexpr uint16_t kEvents[] = {ev::kDeleteUser,
                                ev::kGetUsersDNs,
                                ev::kAddDefaultUser,
                                ev::kIsUserKeldraAdmin,
                                ev::kAddUsers2,
                                ev::kSetPrivilege2,
                                ev::kGetPrivilege2,
                                ev::kGetStaticGroupPermission,
                                ev::kEnumerateKeldraAdmins,
                                ev::kAddDefaultUser2,
                                ev::kAddUsers3,
                                ev::kSetPrivilege3,
                                ev::kGetPrivilege3,
                                ev::kEnumerateKeldraAdmins2,
                                ev::kGetPermissionsForCurrentUser,
                                ev::kDeleteCapabilityObjectsInDB,
                                ev::kGetAdminUIDByName,
                                ev::kGetAdminNameByUID,
                                ev::kGetPrivilegesByBlob,
                                ev::kAuditQuery,
                                ev::kLogon2,
                                ev::kGetVoAdminAccountsForTicket,
                                ev::kSetCredential,
                                ev::kUnlock,
                                ev::kIssueTicket,
                                ev::kLogout,
                                ev::kExportCredentials,
                                ev::kImportCredentials,
                                ev::kEnumerateGroupWithCredentials,
                                ev::kEnumerateGroup,
                                ev::kCreateFolder,
                                ev::kRenameFolder,
                                ev::kDeleteFolder,
                                ev::kMoveFolderMembers,
                                ev::kDirBindContext,
                                ev::kDirCreateContext,
                                ev::kDirAddEntry,
                                ev::kDirUpdateEntry,
                                ev::kDirDeleteEntry,
                                ev::kDirGetEntry,
                                ev::kDirSearch,
                                ev::kDirChangeNumber,
                                ev::kDirChangeInfo,
                                ev::kDirSubscribe,
                                ev::kDirUnsubscribe,
                                999};
constexpr struct {
  uint16_t uid;
  const char* peer;
  bool owner;
} kCallers[] = {{5, "unix:root", true},
                {6, "unix:reader", false},
                {7, "unix:manager", false},
                {8, "unix:stranger", false}};

// One farm: the subsystem at 22 on `store`, and the four callers.
struct Farm {
  zel::rt::InProcessFarm farm;
  zel::rt::FarmSubsystem& host = farm.AddSubsystem(zel::protocol::kAdminToolSubsystemUID);
  std::unique_ptr<zel::subsystem::AdminToolSubsystem> subsystem;

  explicit Farm(ZEL_DIR_StoreLocation& store) {
    ZEL_AdminToolSAL::s_adminToolContext = ZELString();
    ZEL_AdminToolSAL::s_cid = ZEL_AdminToolSAL::s_objCid = 0;
    ZEL_AdminToolSAL::s_iconCid = ZEL_AdminToolSAL::s_pluginCid = 0;
    host.Plugins().Offer(kZelDirectoryStoreInterface, &store);
    zel::subsystem::Options options;
    options.pwhashLimits = zel::subsystem::PwhashLimits::kMin;
    options.clock = [] { return uint64_t{1'700'000'000'000}; };
    zel::subsystem::FarmKeys keys;  // fixed, so tickets are issued and checked
    keys.transport.fill(0x40);
    keys.ticket.fill(0x80);
    options.keys = keys;
    subsystem = std::make_unique<zel::subsystem::AdminToolSubsystem>(host, options);
    subsystem->Attach(host);
    for (const auto& caller : kCallers) {
      zel::rt::FarmSubsystem& console = farm.AddSubsystem(caller.uid);
      console.SetPeer(caller.peer, caller.owner);
      console.Plugins().Offer(kZelDirectoryStoreInterface, &store);
    }
  }
};

// The store every input starts from, written once per process.
const std::string& Template() {
  static zel::rt::testing::TempFolder folder("zelfuzzsub");
  static const std::string path = [] {
    zel::dir::testing::StoreAt store(folder.File("template.db"));
    Farm farm(store);
    ZEL_AdminToolSAL6 owner(*farm.farm.FindSubsystem(5));
    ZEL_ADMIN_USERINFO users[3];
    const char16_t* names[] = {u"reader", u"manager", u"other"};
    const uint32_t manage = 2;
    for (int i = 0; i < 3; ++i) {
      users[i].accountName = ZELString(names[i]);
      users[i].accountAuthority = ZELString(u"unix");
      users[i].ReplacePrivs(i == 1 ? 1 : 0, &manage);
    }
    static_cast<AdminToolInterface2&>(owner).AddUsers2(3, users);
    ZELString guest(u"guest"), unix(u"unix");
    owner.AddDefaultUser2(guest, unix, 1);
    for (const char16_t* name : {u"web", u"db"}) {
      ZEL_AdminToolObject object(u"Root", name);
      object.setUID(11);
      owner.RegisterObject(object, false);
      ZELString dn(object.getDN());
      uint32_t values[] = {3, 5};
      owner.UpdateObject(dn, 2, values);
    }
    return folder.File("template.db");
  }();
  return path;
}

// Every entry and value outside the audit, in one text.
std::string State(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT e.dn, v.attribute, v.position, hex(v.data) FROM entries e "
                     "JOIN contexts c ON c.id = e.context LEFT JOIN attribute_values v ON "
                     "v.entry = e.id WHERE c.name <> 'ZelAuditContext' "
                     "ORDER BY e.id, v.attribute, v.position",
                     -1, &stmt, nullptr);
  std::string state;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    for (int column = 0; column < 4; ++column) {
      const unsigned char* text = sqlite3_column_text(stmt, column);
      state += text != nullptr ? reinterpret_cast<const char*>(text) : "-";
      state += '|';
    }
    state += '\n';
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zel::fuzz::Input input(data, size);
  const std::string& from = Template();
  static zel::rt::testing::TempFolder work("zelfuzzsubrun");
  const std::string path = work.File("store.db");
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
  std::filesystem::copy_file(from, path, std::filesystem::copy_options::overwrite_existing);
  const std::string before = State(path);

  const uint16_t event = kEvents[input.selector % std::size(kEvents)];
  const auto& caller = kCallers[(input.selector / std::size(kEvents)) % std::size(kCallers)];
  int32_t result = 0;
  {
    zel::dir::testing::StoreAt store(path);
    Farm farm(store);
    auto* request = new ZEL_BUF_EventBuffer(event, ZELVersion(1, 0), 0);
    request->SetSrcSubsystemUID(caller.uid);
    request->SetDestSubsystemUID(zel::protocol::kAdminToolSubsystemUID);
    if (!input.bytes.empty()) {
      request->AppendBytes(input.bytes.data(), static_cast<uint32_t>(input.bytes.size()));
    }
    ZEL_BUF_EventBuffer* reply = nullptr;
    ZEL_FUZZ_CHECK(farm.farm.Send(request, &reply) == 0);
    ZEL_FUZZ_CHECK(reply != nullptr && reply->GetSize() >= 4);
    std::memcpy(&result, reply->GetData(), 4);
    ZEL_FUZZ_CHECK(result >= 0 || reply->GetSize() == 4);
    delete reply;
  }
  if (result < 0) ZEL_FUZZ_CHECK(State(path) == before);
  return 0;
}
