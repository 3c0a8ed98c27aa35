// Capability objects: the privilege values that consoles attach to tree objects (the library's
// UpdateObject writes them to the object entries of the AdminTool object context). Event 73
// reads those of a group's members, event 92 deletes them all.
#include <string>
#include <vector>

#include "src/records.h"
#include "zel/admintool/protocol/messages.h"
#include "zel/admintool/zel_admintoolsal.h"
#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/directory/transaction.h"
#include "zel/subsystem/codes.h"
#include "zel/subsystem/handlers.h"

namespace zel::subsystem {

namespace {

namespace at = zel::admintool;

// The library's object context and what its object entries hold.
constexpr const char16_t* kObjectContext = u"&AdminToolObjectContext";
constexpr const char16_t* kObjectClass = u"CLASS-AdminToolObjectClass2";
constexpr const char16_t* kCapabilities = u"ATTRIBUTE-AdminGroupCapabilities";

// --- 73 GetStaticGroupPermission: the group as asked, and one capability per object directly
// below it ---------------------------------------------------------------------------------------
int32_t GetStaticGroupPermission(Context& ctx, Call& call) {
  ZELString group;
  at::GetStaticGroupPermissionRequest request{group};
  Released released(request);
  ReadWhole(call.in, request);
  if (const int32_t denied = ctx.authoriser.RequireAdministrator(call.caller)) return denied;
  // The library's own reader of the object context, on the subsystem's host.
  ZEL_AdminToolSAL library(ctx.host);
  uint32_t count = 0;
  AdminObjectCapability* capabilities = nullptr;
  const int32_t read = library.GetStaticGroupPermissionHelper(group, count, &capabilities);
  if (read < 0) return read;
  at::GetStaticGroupPermissionReply reply{group, count, capabilities};
  try {
    at::WriteMessage(call.out, reply);
  } catch (...) {
    library.FreeCapabilities(capabilities);
    throw;
  }
  library.FreeCapabilities(capabilities);
  return 0;
}

// --- 92 DeleteCapabilityObjectsInDB: every object entry of the tree loses its capability values,
// in one transaction --------------------------------------------------------------------------
int32_t DeleteCapabilityObjectsInDB(Context& ctx, Call& call) {
  at::DeleteCapabilityObjectsInDBRequest request;
  Released released(request);
  ReadWhole(call.in, request);
  call.what = "deleted the capability objects";
  if (const int32_t denied = ctx.authoriser.Require(call.caller, Privilege::kManageCapabilities)) {
    return denied;
  }
  uint32_t context = 0;
  const int32_t bound = ctx.directory.BindLDAP(kObjectContext, context);
  if (bound == zel::dir::kNoSuchContext) return 0;  // no tree, nothing to delete
  if (bound != 0) return bound;
  ZEL_DIR_Transaction scope(&ctx.directory);
  if (scope.status() != 0) return scope.status();
  // The objects that hold capabilities, found in one pass over the whole tree.
  ZEL_DIR_SearchHelper search(&ctx.directory, ZEL_DIR_SearchHelper::kSubtree, ZELString(), context,
                              ZELString(), ZELString(u"*"));
  uint32_t count = 0;
  if (const int32_t searched = search.Search(count)) return searched;
  std::vector<ZELString> holders;
  ZELString name;
  ZEL_DIR_Entry found(&ctx.directory, ZELString(), context, kObjectClass, 0);
  for (int32_t got = search.GetFirstEntry(name, found); got != zel::dir::kNoMore;
       got = search.GetNextEntry(name, found)) {
    if (got != 0) return got;
    uint32_t values = 0;
    if (found.GetValueCount(kCapabilities, values) == 0 && values != 0) {
      holders.push_back(found.GetDN());
    }
  }
  for (const ZELString& dn : holders) {
    ZEL_DIR_Entry object(&ctx.directory, dn, context, kObjectClass, 0);
    const int32_t synced = object.Sync();
    if (synced == zel::dir::kNoSuchEntry) continue;  // another kind of entry
    if (synced != 0) return synced;
    object.DeleteAllValues(kCapabilities);
    if (const int32_t updated = object.Update()) return updated;
  }
  call.what.append(" of ").append(std::to_string(holders.size())).append(" objects");
  return scope.Commit();
}

}  // namespace

void RegisterCapabilityHandlers(DispatchTable& table) {
  table.Add(zel::protocol::event::kGetStaticGroupPermission, Effect::kReads,
            GetStaticGroupPermission);
  table.Add(zel::protocol::event::kDeleteCapabilityObjectsInDB, Effect::kChanges,
            DeleteCapabilityObjectsInDB);
}

}  // namespace zel::subsystem
