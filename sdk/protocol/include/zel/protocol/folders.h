// The folder requests of the console tree and their one reply. The library's folder helpers
// read these requests on the receiving side and write the reply; consoles write the requests.
//
//   create folder request   (event kCreateFolder) = uid:u64 name:text
//   rename folder request   (event kRenameFolder) = uid:u64 name:text
//   delete folder request   (event kDeleteFolder) = uid:u64
//   move members request    (event kMoveFolderMembers)
//                                                 = members:u64s fromFolder:u64 toFolder:u64
//   folder operation reply  (the request's event ID)
//                                                 = result:i32 [uid:u64]
//
// The reply's UID follows only when it is not 0 (the folder a create made, for instance); a
// reader takes it when bytes remain and refuses a UID 0 there, which no writer sends.
#pragma once

#include <cstdint>
#include <vector>

#include "zel/protocol/events.h"
#include "zel/protocol/grammar.h"

namespace zel::protocol {

// Creating and renaming a folder carry the same fields: the folder and its (new) name.
template <uint16_t ID>
struct FolderNameRequest {
  static constexpr uint16_t kEventID = ID;
  uint64_t uid = 0;
  ZELString name;

  template <class V>
  void Fields(V& v) {
    v.UID("uid", uid);
    v.Text("name", name);
  }
};
using CreateFolderRequest = FolderNameRequest<event::kCreateFolder>;
using RenameFolderRequest = FolderNameRequest<event::kRenameFolder>;

struct DeleteFolderRequest {
  static constexpr uint16_t kEventID = event::kDeleteFolder;
  uint64_t uid = 0;

  template <class V>
  void Fields(V& v) {
    v.UID("uid", uid);
  }
};

struct MoveFolderMembersRequest {
  static constexpr uint16_t kEventID = event::kMoveFolderMembers;
  std::vector<uint64_t> members;
  uint64_t fromFolder = 0;
  uint64_t toFolder = 0;

  template <class V>
  void Fields(V& v) {
    v.U64s("members", members);
    v.UID("fromFolder", fromFolder);
    v.UID("toFolder", toFolder);
  }
};

// The reply to each of the four folder requests, sent under the request's event ID.
struct FolderOperationReply {
  int32_t result = 0;
  uint64_t uid = 0;  // 0: not carried

  template <class V>
  void Fields(V& v) {
    v.I32("result", result);
    if (v.Trailing(uid != 0)) {
      v.UID("uid", uid);
      v.Valid(uid != 0);
    }
  }
};

}  // namespace zel::protocol
