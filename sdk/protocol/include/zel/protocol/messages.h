// Every message of the events of ours: which event ID carries which message type which way.
// DescribeEventOfOurs, the tests and the fuzz harness all walk this one list, so a message added
// here is described, tested and fuzzed.
#pragma once

#include <cstdint>
#include <tuple>

#include "zel/protocol/description.h"
#include "zel/protocol/events.h"
#include "zel/protocol/folders.h"

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
}  // namespace detail

using AllMessagesOfOurs =
    std::tuple<MessageOfOurs<event::kCreateFolder, detail::kRequest, CreateFolderRequest>,
               MessageOfOurs<event::kCreateFolder, detail::kReply, FolderOperationReply>,
               MessageOfOurs<event::kRenameFolder, detail::kRequest, RenameFolderRequest>,
               MessageOfOurs<event::kRenameFolder, detail::kReply, FolderOperationReply>,
               MessageOfOurs<event::kDeleteFolder, detail::kRequest, DeleteFolderRequest>,
               MessageOfOurs<event::kDeleteFolder, detail::kReply, FolderOperationReply>,
               MessageOfOurs<event::kMoveFolderMembers, detail::kRequest, MoveFolderMembersRequest>,
               MessageOfOurs<event::kMoveFolderMembers, detail::kReply, FolderOperationReply>>;

inline constexpr std::size_t kMessageCount = std::tuple_size_v<AllMessagesOfOurs>;

// Calls f(MessageOfOurs<...>{}) for every message, in the list's order.
template <class F>
void ForEachMessageOfOurs(F&& f) {
  std::apply([&](auto... message) { (f(message), ...); }, AllMessagesOfOurs{});
}

}  // namespace zel::protocol
