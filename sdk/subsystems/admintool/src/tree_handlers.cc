// The console tree: group enumeration (1004 without credentials, 82 with them) and the folder
// requests (1000-1003). The tree itself is console_tree.h; these handlers add who may ask.
#include <memory>

#include "src/console_tree.h"
#include "zel/protocol/events.h"
#include "zel/subsystem/codes.h"
#include "zel/subsystem/credentials.h"
#include "zel/subsystem/handlers.h"

namespace zel::subsystem {

namespace {

namespace ids = zel::protocol::event;

// One console tree per subsystem, made on the subsystem's host at the first request that needs
// it (the handlers are registered before there is a context).
class TreeHolder {
 public:
  ConsoleTree& Get(Context& ctx) {
    if (!tree_) tree_ = std::make_unique<ConsoleTree>(ctx.host);
    return *tree_;
  }

 private:
  std::unique_ptr<ConsoleTree> tree_;
};

// The group reply is event 81 whatever its result, so it always replaces the subsystem's own
// reply; the handler answers 0 once it has one.
int32_t EnumerateGroup(TreeHolder& holder, Context& ctx, Call& call) {
  const GroupCheck check = [&](const UM_Credentials* credentials) {
    if (credentials == nullptr) return ctx.authoriser.RequireAdministrator(call.caller);
    // An administrator's name and password, checked as a logon is; it logs nobody on.
    Administrator admin;
    return CheckGroupCredentials(ctx, call.caller, *credentials, &admin);
  };
  return holder.Get(ctx).AnswerGroupEnumeration(call.request, check, &call.replacement);
}

int32_t ChangeFolders(TreeHolder& holder, Context& ctx, Call& call) {
  const ChangeCheck check = [&] {
    return ctx.authoriser.Require(call.caller, Privilege::kChangeTree);
  };
  FolderOutcome outcome =
      holder.Get(ctx).AnswerFolderRequest(call.request, check, &call.replacement);
  call.what = std::move(outcome.what);
  if (!call.replacement && outcome.result >= 0) return kInternalError;  // no reply was made
  return outcome.result;
}

}  // namespace

void RegisterTreeHandlers(DispatchTable& table) {
  auto holder = std::make_shared<TreeHolder>();
  for (uint16_t id : {ids::kEnumerateGroup, ids::kEnumerateGroupWithCredentials}) {
    table.Add(id, Effect::kReads,
              [holder](Context& ctx, Call& call) { return EnumerateGroup(*holder, ctx, call); });
  }
  for (uint16_t id :
       {ids::kCreateFolder, ids::kRenameFolder, ids::kDeleteFolder, ids::kMoveFolderMembers}) {
    table.Add(id, Effect::kChanges,
              [holder](Context& ctx, Call& call) { return ChangeFolders(*holder, ctx, call); });
  }
}

}  // namespace zel::subsystem
