// Every message of the events of ours: which event ID carries which message type which way.
// DescribeEventOfOurs, the tests and the fuzz harness all walk this one list, so a message added
// here is described, tested and fuzzed. Append only, like the IDs: the fuzz seeds name a
// message by its position.
#pragma once

#include <cstdint>
#include <tuple>

#include "zel/protocol/audit.h"
#include "zel/protocol/credentials.h"
#include "zel/protocol/description.h"
#include "zel/protocol/events.h"
#include "zel/protocol/farm_directory.h"
#include "zel/protocol/folders.h"
#include "zel/protocol/group_enumeration.h"
#include "zel/protocol/result_reply.h"

namespace zel::protocol {

template <uint16_t ID, Direction D, class M>
struct MessageOfOurs {
  static constexpr uint16_t kEventID = ID;
  static constexpr Direction kDirection = D;
  using Type = M;
};

namespace detail {
constexpr Direction kRequest = Direction::kRequest;
constexpr Direction kReply = Direction::kReply;
constexpr Direction kNotification = Direction::kNotification;
}  // namespace detail

using AllMessagesOfOurs =
    std::tuple<MessageOfOurs<event::kCreateFolder, detail::kRequest, CreateFolderRequest>,
               MessageOfOurs<event::kCreateFolder, detail::kReply, FolderOperationReply>,
               MessageOfOurs<event::kRenameFolder, detail::kRequest, RenameFolderRequest>,
               MessageOfOurs<event::kRenameFolder, detail::kReply, FolderOperationReply>,
               MessageOfOurs<event::kDeleteFolder, detail::kRequest, DeleteFolderRequest>,
               MessageOfOurs<event::kDeleteFolder, detail::kReply, FolderOperationReply>,
               MessageOfOurs<event::kMoveFolderMembers, detail::kRequest, MoveFolderMembersRequest>,
               MessageOfOurs<event::kMoveFolderMembers, detail::kReply, FolderOperationReply>,
               // The reply to kEnumerateGroup is event 81, the library's.
               MessageOfOurs<event::kEnumerateGroup, detail::kRequest, EnumerateGroupRequest>,
               MessageOfOurs<event::kSetCredential, detail::kRequest, SetCredentialRequest>,
               MessageOfOurs<event::kSetCredential, detail::kReply, ResultReply>,
               MessageOfOurs<event::kUnlock, detail::kRequest, UnlockRequest>,
               MessageOfOurs<event::kUnlock, detail::kReply, ResultReply>,
               MessageOfOurs<event::kIssueTicket, detail::kRequest, IssueTicketRequest>,
               MessageOfOurs<event::kIssueTicket, detail::kReply, IssueTicketReply>,
               MessageOfOurs<event::kLogout, detail::kRequest, LogoutRequest>,
               MessageOfOurs<event::kLogout, detail::kReply, ResultReply>,
               MessageOfOurs<event::kDirBindContext, detail::kRequest, DirBindContextRequest>,
               MessageOfOurs<event::kDirBindContext, detail::kReply, DirBindContextReply>,
               MessageOfOurs<event::kDirCreateContext, detail::kRequest, DirCreateContextRequest>,
               MessageOfOurs<event::kDirCreateContext, detail::kReply, ResultReply>,
               MessageOfOurs<event::kDirAddEntry, detail::kRequest, DirAddEntryRequest>,
               MessageOfOurs<event::kDirAddEntry, detail::kReply, DirAddEntryReply>,
               MessageOfOurs<event::kDirUpdateEntry, detail::kRequest, DirUpdateEntryRequest>,
               MessageOfOurs<event::kDirUpdateEntry, detail::kReply, ResultReply>,
               MessageOfOurs<event::kDirDeleteEntry, detail::kRequest, DirDeleteEntryRequest>,
               MessageOfOurs<event::kDirDeleteEntry, detail::kReply, ResultReply>,
               MessageOfOurs<event::kDirGetEntry, detail::kRequest, DirGetEntryRequest>,
               MessageOfOurs<event::kDirGetEntry, detail::kReply, DirGetEntryReply>,
               MessageOfOurs<event::kDirSearch, detail::kRequest, DirSearchRequest>,
               MessageOfOurs<event::kDirSearch, detail::kReply, DirSearchReply>,
               MessageOfOurs<event::kDirChangeNumber, detail::kRequest, DirChangeNumberRequest>,
               MessageOfOurs<event::kDirChangeNumber, detail::kReply, DirChangeNumberReply>,
               MessageOfOurs<event::kDirChangeInfo, detail::kRequest, DirChangeInfoRequest>,
               MessageOfOurs<event::kDirChangeInfo, detail::kReply, DirChangeInfoReply>,
               MessageOfOurs<event::kDirSubscribe, detail::kRequest, DirSubscribeRequest>,
               MessageOfOurs<event::kDirSubscribe, detail::kReply, DirSubscribeReply>,
               MessageOfOurs<event::kDirUnsubscribe, detail::kRequest, DirUnsubscribeRequest>,
               MessageOfOurs<event::kDirUnsubscribe, detail::kReply, ResultReply>,
               MessageOfOurs<event::kDirChanged, detail::kNotification, DirChangedNotification>,
               MessageOfOurs<event::kAuditQuery, detail::kRequest, AuditQueryRequest>,
               MessageOfOurs<event::kAuditQuery, detail::kReply, AuditQueryReply>,
               MessageOfOurs<event::kExportCredentials, detail::kRequest, ExportCredentialsRequest>,
               MessageOfOurs<event::kExportCredentials, detail::kReply, ExportCredentialsReply>,
               MessageOfOurs<event::kImportCredentials, detail::kRequest, ImportCredentialsRequest>,
               MessageOfOurs<event::kImportCredentials, detail::kReply, ResultReply>>;

inline constexpr std::size_t kMessageCount = std::tuple_size_v<AllMessagesOfOurs>;

// Calls f(MessageOfOurs<...>{}) for every message, in the list's order.
template <class F>
void ForEachMessageOfOurs(F&& f) {
  std::apply([&](auto... message) { (f(message), ...); }, AllMessagesOfOurs{});
}

}  // namespace zel::protocol
