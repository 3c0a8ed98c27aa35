// The console tree as the AdminTool subsystem keeps it: the object entries of the directory's
// object context, exactly as the library's object registry writes them, so that a node one
// console registers is enumerated for every other. The subsystem answers group enumeration
// from them and changes them with the folder requests; requests are read and replies written
// with the library's receiving-side helpers, and every change is announced with the library's
// node operations (events 81 and 95 to the notification hub) once it is stored.
//
// Folders: every node of the tree can hold members; a folder is named by its node UID, the
// root by 0. A folder the subsystem creates gets a new random UID (never 0, never all ones,
// never of the directory's own UID form), which it keeps when it is renamed or moved.
// A folder is found by a breadth-first walk from the root, in the directory's order; the
// first node with the UID is the folder. Nodes below a DN that has no entry of its own are
// not reached by the walk.
//
// Threads: the members may be called from several threads; one lock serialises them (the SAL
// object underneath is used by one thread at a time).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "zel/directory/service.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/pif.h"
#include "zel/runtime/strings.h"
#include "zel/usersal/credentials.h"

namespace zel::subsystem {

// Codes of the console tree's answers, beside the library's and the directory's.
namespace tree_code {
// No node of the tree has that folder UID (or the UID is the no-UID value).
inline constexpr int32_t kNoSuchFolder = static_cast<int32_t>(0x80220101u);
// The folder already holds a node of that name.
inline constexpr int32_t kNameTaken = static_cast<int32_t>(0x80220102u);
// A folder that still has members is not deleted.
inline constexpr int32_t kFolderNotEmpty = static_cast<int32_t>(0x80220103u);
// A member of the move is not directly in the source folder, or is named twice.
inline constexpr int32_t kNoSuchMember = static_cast<int32_t>(0x80220104u);
// A folder cannot move into itself or below itself; the root cannot be renamed or deleted.
inline constexpr int32_t kInvalidMove = static_cast<int32_t>(0x80220105u);
// A folder name is empty.
inline constexpr int32_t kInvalidName = static_cast<int32_t>(0x80220106u);
// The request could not be read: it is shorter than its fields or holds counts it cannot hold.
inline constexpr int32_t kMalformedRequest = static_cast<int32_t>(0x80220107u);
// The group holds more members than one reply can carry (32,767, or 4 MiB of nodes).
inline constexpr int32_t kGroupTooLarge = static_cast<int32_t>(0x80220108u);
// What the stored tree held changed under a move (two readings of one group disagree).
inline constexpr int32_t kTreeChanged = static_cast<int32_t>(0x80220109u);
}  // namespace tree_code

// What one folder request did: its result, the UID it answers (a created folder's), and a
// line for the audit (names and UIDs, never a secret).
struct FolderOutcome {
  int32_t result = 0;
  uint64_t uid = 0;
  std::string what;
};

// Runs the writes of one change as one directory transaction on `store`: their answer, or the
// transaction's failure (and then nothing of them is kept).
using TransactionRunner =
    std::function<int32_t(ZEL_DIR_ServiceInterface& store, const std::function<int32_t()>& writes)>;

// Checks the credentials of a group enumeration request (event 82): 0 to answer it, or the
// negative code to answer instead.
using CredentialCheck = std::function<int32_t(const UM_Credentials& credentials)>;

class ConsoleTree {
 public:
  // On the AdminTool subsystem's host: its plug-in table names the store and its UID is the
  // replies' source. Notifications go to the process's event-dispatch interface (interface 300,
  // the farm), or to `notifications` when given.
  explicit ConsoleTree(ZEL_PIF_ISubSystem& host, ZEL_PIF_EventDispatcher* notifications = nullptr);
  ConsoleTree(const ConsoleTree&) = delete;
  ConsoleTree& operator=(const ConsoleTree&) = delete;
  ~ConsoleTree();

  // Each change runs through `runner` (without one, each entry write is its own transaction).
  void SetTransactionRunner(TransactionRunner runner);

  // Answers a group enumeration request (1004, or 82 after `check` accepted its credentials)
  // with the library's group reply (event 81) in *reply: the nodes stored directly below the
  // group. Always 0 with a reply; a request that cannot be read gets kMalformedRequest.
  int32_t AnswerGroupEnumeration(const ZEL_BUF_EventBuffer& request, const CredentialCheck& check,
                                 ZEL_BUF_EventBuffer** reply);
  // Reads a folder request (1000-1003) with the library's folder helpers, carries it out and
  // answers it with the folder operation reply in *reply; what it did in *outcome. Always 0
  // with a reply.
  int32_t AnswerFolderRequest(const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** reply,
                              FolderOutcome* outcome);
  // Answers a request with `code` alone, unread (refused before it was looked at).
  int32_t Refuse(const ZEL_BUF_EventBuffer& request, int32_t code, ZEL_BUF_EventBuffer** reply);

  // The folder operations themselves.
  FolderOutcome CreateFolder(uint64_t parent, const ZELString& name);
  FolderOutcome RenameFolder(uint64_t folder, const ZELString& name);
  FolderOutcome DeleteFolder(uint64_t folder);
  FolderOutcome MoveMembers(const std::vector<uint64_t>& members, uint64_t from, uint64_t to);

 private:
  class Impl;
  std::mutex mutex_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zel::subsystem
