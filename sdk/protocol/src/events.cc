#include "zel/protocol/events.h"

#include <algorithm>
#include <array>

namespace zel::protocol {
namespace {

using K = EventKind;
namespace e = event;

constexpr std::array kEvents{
    EventInfo{e::kDeleteUser, "DeleteUser", K::kRequestReply, 3},
    EventInfo{e::kGetUsersDNs, "GetUsersDNs", K::kRequestReplyFirstGeneration, 0},
    EventInfo{e::kAddDefaultUser, "AddDefaultUser", K::kRequestReplyFirstGeneration, 0},
    EventInfo{e::kIsUserKeldraAdmin, "IsUserKeldraAdmin", K::kRequestReply, 1},
    EventInfo{e::kLogon2, "Logon2", K::kRequestReply, 2},
    EventInfo{e::kAddUsers2, "AddUsers2", K::kRequestReply, 2},
    EventInfo{e::kSetPrivilege2, "SetPrivilege2", K::kRequestReply, 2},
    EventInfo{e::kGetPrivilege2, "GetPrivilege2", K::kRequestReply, 2},
    EventInfo{e::kGetStaticGroupPermission, "GetStaticGroupPermission", K::kRequestReply, 2},
    EventInfo{e::kEnumerateKeldraAdmins, "EnumerateKeldraAdmins", K::kRequestReply, 2},
    EventInfo{e::kTreeOperation, "TreeOperation", K::kOneWay, 0},
    EventInfo{e::kEnumerateGroupWithCredentials, "EnumerateGroupWithCredentials", K::kReceived, 0},
    EventInfo{e::kAddDefaultUser2, "AddDefaultUser2", K::kRequestReply, 3},
    EventInfo{e::kGetVoAdminAccountsForTicket, "GetVoAdminAccountsForTicket", K::kRequestReply, 4},
    EventInfo{e::kAddUsers3, "AddUsers3", K::kRequestReply, 4},
    EventInfo{e::kSetPrivilege3, "SetPrivilege3", K::kRequestReply, 4},
    EventInfo{e::kGetPrivilege3, "GetPrivilege3", K::kRequestReply, 4},
    EventInfo{e::kEnumerateKeldraAdmins2, "EnumerateKeldraAdmins2", K::kRequestReply, 4},
    EventInfo{e::kGetPermissionsForCurrentUser, "GetPermissionsForCurrentUser", K::kRequestReply,
              4},
    EventInfo{e::kDeleteCapabilityObjectsInDB, "DeleteCapabilityObjectsInDB", K::kRequestReply, 4},
    EventInfo{e::kGetAdminUIDByName, "GetAdminUIDByName", K::kRequestReply, 4},
    EventInfo{e::kGetAdminNameByUID, "GetAdminNameByUID", K::kRequestReply, 4},
    EventInfo{e::kContainerChange, "ContainerChange", K::kOneWay, 0},
    EventInfo{e::kGetPrivilegesByBlob, "GetPrivilegesByBlob", K::kRequestReply, 4},
    EventInfo{e::kPostAdminNameUnResolved, "PostAdminNameUnResolvedNotification", K::kOneWay, 0},
    // Ours.
    EventInfo{e::kCreateFolder, "CreateFolder", K::kRequestReply, 0},
    EventInfo{e::kRenameFolder, "RenameFolder", K::kRequestReply, 0},
    EventInfo{e::kDeleteFolder, "DeleteFolder", K::kRequestReply, 0},
    EventInfo{e::kMoveFolderMembers, "MoveFolderMembers", K::kRequestReply, 0},
    EventInfo{e::kEnumerateGroup, "EnumerateGroup", K::kRequestReply, 0},
    EventInfo{e::kSetCredential, "SetCredential", K::kRequestReply, 0},
    EventInfo{e::kUnlock, "Unlock", K::kRequestReply, 0},
    EventInfo{e::kIssueTicket, "IssueTicket", K::kRequestReply, 0},
    EventInfo{e::kLogout, "Logout", K::kRequestReply, 0},
    EventInfo{e::kDirBindContext, "DirBindContext", K::kRequestReply, 0},
    EventInfo{e::kDirCreateContext, "DirCreateContext", K::kRequestReply, 0},
    EventInfo{e::kDirAddEntry, "DirAddEntry", K::kRequestReply, 0},
    EventInfo{e::kDirUpdateEntry, "DirUpdateEntry", K::kRequestReply, 0},
    EventInfo{e::kDirDeleteEntry, "DirDeleteEntry", K::kRequestReply, 0},
    EventInfo{e::kDirGetEntry, "DirGetEntry", K::kRequestReply, 0},
    EventInfo{e::kDirSearch, "DirSearch", K::kRequestReply, 0},
    EventInfo{e::kDirChangeNumber, "DirChangeNumber", K::kRequestReply, 0},
    EventInfo{e::kDirChangeInfo, "DirChangeInfo", K::kRequestReply, 0},
    EventInfo{e::kDirSubscribe, "DirSubscribe", K::kRequestReply, 0},
    EventInfo{e::kDirUnsubscribe, "DirUnsubscribe", K::kRequestReply, 0},
    EventInfo{e::kDirChanged, "DirChanged", K::kOneWay, 0},
    EventInfo{e::kAuditQuery, "AuditQuery", K::kRequestReply, 0},
    EventInfo{e::kExportCredentials, "ExportCredentials", K::kRequestReply, 0},
    EventInfo{e::kImportCredentials, "ImportCredentials", K::kRequestReply, 0},
};

constexpr bool OrderedByID() {
  for (std::size_t i = 1; i < kEvents.size(); ++i) {
    if (kEvents[i - 1].id >= kEvents[i].id) return false;
  }
  return true;
}
static_assert(OrderedByID(), "FindEvent searches the table by ID");

}  // namespace

uint16_t ReplyEventID(uint16_t requestID) {
  const bool group =
      requestID == e::kEnumerateGroupWithCredentials || requestID == e::kEnumerateGroup;
  return group ? e::kTreeOperation : requestID;
}

std::span<const EventInfo> AllEvents() { return kEvents; }

const EventInfo* FindEvent(uint16_t id) {
  const auto* it =
      std::lower_bound(kEvents.begin(), kEvents.end(), id,
                       [](const EventInfo& info, uint16_t key) { return info.id < key; });
  return it != kEvents.end() && it->id == id ? &*it : nullptr;
}

}  // namespace zel::protocol
