// Tree notifications and group enumeration: building events 81 and 95, and the receiving side
// of a group enumeration request.
#include <cstring>
#include <new>

#include "admintool/sal/exchange.h"
#include "admintool/trace/trace.h"
#include "admintool/tree/tree_events.h"
#include "zel/admintool/zel_admintoolsal.h"
#include "zel/runtime/reader.h"
#include "zel/runtime/secure.h"

namespace {

using namespace zel::tree;

ZEL_BUF_EventBuffer* Notification(uint16_t eventID, uint32_t sizeHint) {
  auto* event = new (std::nothrow) ZEL_BUF_EventBuffer(eventID, zel::sal::kEventVersion, sizeHint);
  if (event == nullptr) return nullptr;
  event->SetDestSubsystemUID(zel::protocol::kNotificationHubUID);
  event->SetSrcSubsystemUID(zel::protocol::kAdminToolSubsystemUID);
  event->SetDestHostID(kNotificationDestinationHost);
  event->SetSrcHostID(kNotificationSourceHost);
  return event;
}

constexpr uint32_t kMaxAccountLength = 512;  // the account's length value, in bytes
constexpr uint32_t kPasswordKey = 0x3A;

// Reads the credentials of an event-82 request into *credentials; 0 or 0x80000001. The
// password is deciphered in a local buffer that is wiped before returning.
int32_t ReadCredentials(ZEL_BUF_BufferReader& reader, UM_Credentials& credentials) {
  GroupCredentials wire;
  int32_t result = 0;
  try {
    ReadMessage(reader, wire);  // no allocation: the password lands in its own buffer
  } catch (const ZEL_BUF_ReadException&) {
    result = ZEL_E_FAIL;
  }
  if (result == 0 && wire.account.getLength() > kMaxAccountLength) result = ZEL_E_FAIL;
  if (result == 0) {
    // The account is "domain\user" or "user": split at the first backslash.
    const std::u16string_view text = wire.account.view();
    const std::size_t slash = text.find(u'\\');
    if (slash == std::u16string_view::npos) {
      credentials.userName = wire.account;
    } else {
      credentials.domain = ZELString(text.substr(0, slash));
      credentials.userName = ZELString(text.substr(slash + 1));
    }
    if (ZEL_SECURE_DecryptData(wire.password, wire.passwordLength, kPasswordKey) != 0) {
      result = ZEL_E_FAIL;  // no farm key: the password cannot be read
    } else {
      // A NUL-ended wide string inside the 256-byte buffer: at most 127 characters.
      char16_t units[kMaxPasswordBytes / 2];
      std::memcpy(units, wire.password, sizeof units);
      units[kMaxPasswordBytes / 2 - 1] = u'\0';
      credentials.password = ZELString(std::u16string_view(units));
      ZEL_SECURE_Wipe(units, sizeof units);
    }
  }
  ZEL_SECURE_Wipe(wire.password, sizeof wire.password);
  return result;
}

}  // namespace

ZEL_BUF_EventBuffer* ZEL_AdminToolSAL::CreateTreeOpNotificationEvent(uint32_t sizeHint) {
  return Notification(zel::protocol::event::kTreeOperation, sizeHint);
}

ZEL_BUF_EventBuffer* ZEL_AdminToolSAL::CreateContainerChangeEvent(uint32_t sizeHint) {
  return Notification(zel::protocol::event::kContainerChange, sizeHint);
}

int32_t ZEL_AdminToolSAL::PostDeleteObjectEvent(int32_t, const char16_t*) { return 0; }

int32_t ZEL_AdminToolSAL::ParseEnumerateGroupEvent(ZEL_BUF_EventBuffer* event,
                                                   ZEL_AdminToolObject** group,
                                                   UM_Credentials** credentials) {
  if (event == nullptr || group == nullptr) return ZEL_E_FAIL;
  ZEL_BUF_BufferReader reader(event, 0);
  const uint16_t eventID = event->GetEventID();
  int32_t result = 0;
  *group = nullptr;
  try {
    ZELString parentDN;
    reader >> parentDN;
    *group = new (std::nothrow) ZEL_AdminToolObject(parentDN.getName(), u"");
    if (*group == nullptr) return ZEL_E_NO_EVENT;
    result = (*group)->read(reader);
    if (eventID == zel::protocol::event::kEnumerateGroupWithCredentials && credentials != nullptr) {
      *credentials = new (std::nothrow) UM_Credentials;
      if (*credentials == nullptr) {
        result = ZEL_E_NO_EVENT;
      } else {
        const int32_t read = ReadCredentials(reader, **credentials);
        if (read != 0) result = read;
      }
    }
  } catch (const ZEL_BUF_ReadException&) {
    result = ZEL_E_FAIL;
  }
  if (result < 0) {
    delete *group;
    *group = nullptr;
  }
  return result;
}

int32_t ZEL_AdminToolSAL::WriteGroupToEventBuffer(ZEL_BUF_EventBuffer* request, int32_t result,
                                                  ZEL_AdminToolObject* group, char flag) {
  if (request == nullptr) return ZEL_E_FAIL;
  ZEL_BUF_EventBuffer* reply = nullptr;
  if (result != 0) {
    if (request->CreateReplyEvent(&reply, zel::protocol::event::kTreeOperation,
                                  zel::sal::kEventVersion, zel::protocol::kAdminToolSubsystemUID,
                                  4) != 0)
      return 0;
    try {
      *reply << result;
    } catch (const ZEL_BUF_AppendException&) {
      delete reply;
      throw;
    }
    GetHostSubsystem().DeliverEvent(reply, 0xFFFFFFFF);
    return 0;
  }
  if (group == nullptr) {
    ZEL_TRACE(kError, kGroupReplyWithoutGroup, TraceNoData);
    return ZEL_E_FAIL;
  }
  const bool hasChildren = group->getChild() != nullptr;
  if (request->CreateReplyEvent(&reply, zel::protocol::event::kTreeOperation,
                                zel::sal::kEventVersion, zel::protocol::kAdminToolSubsystemUID,
                                0) != 0) {
    return hasChildren ? 0 : ZEL_E_FAIL;
  }
  const TreeOp op = flag == 0 ? kOpAdd : kOpList;
  try {
    WriteTreeOperationHead(*reply, 0, 1);
    if (!hasChildren) {
      WriteSectionHead(*reply, op, group->getDN(), 0);
    } else {
      WriteSectionHead(*reply, op, group->getChild()->getParentDN(),
                       static_cast<int16_t>(group->getNumChildren()));
      ZEL_AdminToolObject* at = group->getChild();
      for (int32_t i = 0; i < group->getNumChildren() && at != nullptr; ++i) {
        at->write(*reply);
        at = at->getSibling();
      }
    }
  } catch (const ZEL_BUF_AppendException&) {
    delete reply;  // the failure passes to the caller, the reply does not leak
    throw;
  }
  if (hasChildren) {
    ZEL_TRACE(kInfo, kGroupReplySent, TraceUInt32, static_cast<uint32_t>(group->getNumChildren()));
  }
  GetHostSubsystem().DeliverEvent(reply, 0xFFFFFFFF);
  return 0;
}
