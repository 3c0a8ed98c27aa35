// The console tree as the subsystem keeps it: the object entries of the directory's object
// context, exactly as the library's object registry writes them, so that a node one console
// registers is enumerated for every other. Group enumeration is answered from them and the
// folder requests change them. Requests are read and replies written with the library's
// receiving-side helpers, and each change is announced with the library's node operations
// (events 81 and 95, through the host to the notification hub) once it is stored.
//
// Folders: every node of the tree can hold members; a folder is named by its node UID, the
// root by 0. A folder the subsystem creates gets a new random UID (never 0, never all ones,
// never of the directory's own UID form), which it keeps when it is renamed or moved. A folder
// is found by a search of the whole tree on its UID (the first node with it, in DN order), also
// below DNs that have no entry of their own; what is below a folder at any depth moves with it.
//
// Inner to the subsystem; its handlers (tree_handlers.cc) hold one per subsystem and call it
// under the subsystem's lock (the SAL object underneath is used by one thread at a time).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zel/runtime/buffers.h"
#include "zel/runtime/pif.h"
#include "zel/runtime/strings.h"
#include "zel/usersal/credentials.h"

namespace zel::subsystem {

// Codes of the tree's answers, beside those of zel/subsystem/codes.h.
namespace tree_code {
// No node of the tree has that folder UID (or it is the no-UID value).
inline constexpr int32_t kNoSuchFolder = static_cast<int32_t>(0x80070101u);
// The folder already holds a node of that name.
inline constexpr int32_t kNameTaken = static_cast<int32_t>(0x80070102u);
// A folder that still has members is not deleted.
inline constexpr int32_t kFolderNotEmpty = static_cast<int32_t>(0x80070103u);
// A member of the move is not directly in the source folder, or is named twice.
inline constexpr int32_t kNoSuchMember = static_cast<int32_t>(0x80070104u);
// A folder cannot move into itself or below itself; the root is not renamed or deleted.
inline constexpr int32_t kInvalidMove = static_cast<int32_t>(0x80070105u);
// A folder name is empty.
inline constexpr int32_t kInvalidName = static_cast<int32_t>(0x80070106u);
// The group has more members than one reply carries (32,767, or one event's size); a move
// more members than one notification counts.
inline constexpr int32_t kTooManyNodes = static_cast<int32_t>(0x80070107u);
// Two readings of one group inside a change disagree (the store is not what it was).
inline constexpr int32_t kTreeChanged = static_cast<int32_t>(0x80070108u);
}  // namespace tree_code

// What a group enumeration needs before it is answered: 0, or the code to answer instead.
// Told the request's credentials for event 82, null for event 1004.
using GroupCheck = std::function<int32_t(const UM_Credentials* credentials)>;
// Whether the caller may change the tree: 0, or the code to answer instead.
using ChangeCheck = std::function<int32_t()>;

// What one folder request did: its result, the UID it answers (a created folder's), and a
// line for the audit (names and UIDs).
struct FolderOutcome {
  int32_t result = 0;
  uint64_t uid = 0;
  std::string what;
};

class ConsoleTree {
 public:
  // On the subsystem's host: its plug-in table names the store, its UID is the replies'
  // source, and its transport takes the notifications.
  explicit ConsoleTree(ZEL_PIF_ISubSystem& host);
  ConsoleTree(const ConsoleTree&) = delete;
  ConsoleTree& operator=(const ConsoleTree&) = delete;
  ~ConsoleTree();

  // Answers a group enumeration request (1004, or 82 with credentials) with the library's group
  // reply (event 81) in *reply: after `check` accepted, the nodes stored directly below the
  // group; otherwise the code alone (kMalformedRequest for a request that cannot be read).
  // 0 with a reply, or kInternalError when none can be made.
  int32_t AnswerGroupEnumeration(const ZEL_BUF_EventBuffer& request, const GroupCheck& check,
                                 std::unique_ptr<ZEL_BUF_EventBuffer>* reply);
  // Reads a folder request (1000-1003), asks `check`, carries it out and answers it with the
  // folder operation reply in *reply (none when no reply could be made). Answers the result.
  FolderOutcome AnswerFolderRequest(const ZEL_BUF_EventBuffer& request, const ChangeCheck& check,
                                    std::unique_ptr<ZEL_BUF_EventBuffer>* reply);

  // The folder operations themselves; each is one directory transaction.
  FolderOutcome CreateFolder(uint64_t parent, const ZELString& name);
  FolderOutcome RenameFolder(uint64_t folder, const ZELString& name);
  FolderOutcome DeleteFolder(uint64_t folder);
  FolderOutcome MoveMembers(const std::vector<uint64_t>& members, uint64_t from, uint64_t to);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zel::subsystem
