// The first-generation user operations and the receiving side of folder operations.
#include "admintool/sal/exchange.h"
#include "zel/admintool/allocation.h"
#include "zel/admintool/protocol/messages.h"
#include "zel/protocol/folders.h"
#include "zel/runtime/reader.h"

namespace {

using zel::sal::Request;

namespace atp = zel::admintool;

// Reads `read(reader)` over an event the caller keeps; 0, or 0x80060008 when it runs short.
template <typename Read>
int32_t ReadRequest(ZEL_BUF_EventBuffer* event, Read&& read) {
  ZEL_BUF_BufferReader reader(event, 0);
  try {
    read(reader);
  } catch (const ZEL_BUF_ReadException&) {
    return ZEL_E_SHORT_REPLY;
  }
  return 0;
}

}  // namespace

int32_t ZEL_AdminToolSAL::GetUsersDNs(ZELMultiString& dns) {
  atp::GetUsersDNsRequest request;
  atp::GetUsersDNsReply reply{dns};
  Request codes{};
  codes.nonzeroSendEnds = true;  // a positive send answer ends GetUsersDNs too
  return zel::sal::RequestReplyFirstGeneration(
      *this, zel::sal::RequestFor(request, codes), [](ZEL_BUF_EventBuffer&) { return 0; },
      [&](ZEL_BUF_BufferReader& reader, int32_t result) {
        if (result == 0) atp::ReadMessage(reader, reply);  // the names come with 0 only
        return result;
      },
      [] {});
}

int32_t ZEL_AdminToolSAL::AddDefaultUser(ZELString& first, ZELString& second) {
  atp::AddDefaultUserRequest request{first, second};
  return zel::sal::RequestReplyFirstGeneration(
      *this, zel::sal::RequestFor(request), zel::sal::MessageWriter(request),
      [](ZEL_BUF_BufferReader&, int32_t result) { return result; }, [] {});
}

int32_t ZEL_AdminToolSAL::CreateFolderHelper(ZEL_BUF_EventBuffer* event, uint64_t& uid,
                                             ZELString& name) {
  return ReadRequest(event, [&](ZEL_BUF_BufferReader& r) { r >> uid >> name; });
}

int32_t ZEL_AdminToolSAL::RenameFolderHelper(ZEL_BUF_EventBuffer* event, uint64_t& uid,
                                             ZELString& name) {
  return ReadRequest(event, [&](ZEL_BUF_BufferReader& r) { r >> uid >> name; });
}

int32_t ZEL_AdminToolSAL::DeleteFolderHelper(ZEL_BUF_EventBuffer* event, uint64_t& uid) {
  return ReadRequest(event, [&](ZEL_BUF_BufferReader& r) { r >> uid; });
}

int32_t ZEL_AdminToolSAL::MoveFolderMembersHelper(ZEL_BUF_EventBuffer* event, uint32_t& count,
                                                  uint64_t*& members, uint64_t& firstFolder,
                                                  uint64_t& secondFolder) {
  members = nullptr;
  int32_t result = 0;
  const int32_t read = ReadRequest(event, [&](ZEL_BUF_BufferReader& r) {
    r >> count;
    // A count the request cannot hold is a short request, found before allocating.
    if (static_cast<uint64_t>(count) * 8 > r.GetRemaining()) {
      throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kShort);
    }
    members = zel::sal::AllocatePlainArray<uint64_t>(count);
    if (members == nullptr) {
      result = ZEL_E_NO_EVENT;
      return;
    }
    for (uint32_t i = 0; i < count; ++i) r >> members[i];
    r >> firstFolder >> secondFolder;
  });
  if (read != 0) result = read;
  if (result != 0) {
    zel::sal::ReleasePlain(members);
    members = nullptr;
  }
  return result;
}

int32_t ZEL_AdminToolSAL::FreeMemberUIDListHelper(uint64_t* members) {
  zel::sal::ReleasePlain(members);
  return 0;
}

int32_t ZEL_AdminToolSAL::FolderOperationReplyHelper(ZEL_BUF_EventBuffer* request, uint16_t eventID,
                                                     int32_t result, uint64_t uid) {
  if (request == nullptr) return ZEL_E_FAIL;
  ZEL_BUF_EventBuffer* reply = nullptr;
  const int32_t created = request->CreateReplyEvent(&reply, eventID, zel::sal::kEventVersion,
                                                    callerSubsystemUID, uid != 0 ? 12 : 4);
  if (created != 0) return created;
  try {
    zel::protocol::Encode(zel::protocol::FolderOperationReply{result, uid}, *reply);
  } catch (const ZEL_BUF_AppendException&) {
    delete reply;
    return ZEL_E_WRITE_FAILED;
  }
  return GetHostSubsystem().DeliverEvent(reply, 0xFFFFFFFF);
}
