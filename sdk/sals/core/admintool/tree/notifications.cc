// Tree notifications and group enumeration: building events 81 and 95, and the receiving side
// of a group enumeration request.
#include <cstring>
#include <new>

#include "admintool/trace/trace.h"
#include "admintool/tree/tree_events.h"
#include "zel/admintool/zel_admintoolsal.h"
#include "zel/runtime/reader.h"
#include "zel/runtime/secure.h"

namespace {

using namespace zel::tree;

ZEL_BUF_EventBuffer* Notification(uint16_t eventID, uint32_t sizeHint) {
  auto* event = new (std::nothrow) ZEL_BUF_EventBuffer(eventID, ZELVersion(1, 0), sizeHint);
  if (event == nullptr) return nullptr;
  event->SetDestSubsystemUID(kNotificationTarget);
  event->SetSrcSubsystemUID(22);
  event->SetDestHostID(kDestinationHost);
  event->SetSrcHostID(kSourceHost);
  return event;
}

constexpr uint32_t kMaxPasswordBytes = 256;
constexpr uint32_t kMaxAccountLength = 512;  // the account's length value, in bytes
constexpr uint32_t kPasswordKey = 0x3A;

// Reads the credentials of an event-82 request into *credentials; 0 or 0x80000001. The
// password is deciphered in a local buffer that is wiped before returning.
int32_t ReadCredentials(ZEL_BUF_BufferReader& reader, UM_Credentials& credentials) {
  ZELString account;
  uint32_t length = 0;
  reader >> account >> length;
  uint8_t password[kMaxPasswordBytes] = {};
  if (length > kMaxPasswordBytes || account.getLength() > kMaxAccountLength) return ZEL_E_FAIL;
  reader.ReadData(password, length);
  // The account is "domain\user" or "user": split at the first backslash.
  const std::u16string_view text = account.view();
  const std::size_t slash = text.find(u'\\');
  if (slash == std::u16string_view::npos) {
    credentials.userName = account;
  } else {
    credentials.domain = ZELString(text.substr(0, slash));
    credentials.userName = ZELString(text.substr(slash + 1));
  }
  int32_t result = 0;
  if (ZEL_SECURE_DecryptData(password, length, kPasswordKey) != 0) {
    result = ZEL_E_FAIL;  // no farm key: the password cannot be read
  } else {
    // A NUL-ended wide string inside the 256-byte buffer: at most 127 characters.
    char16_t units[kMaxPasswordBytes / 2];
    std::memcpy(units, password, sizeof units);
    units[kMaxPasswordBytes / 2 - 1] = u'\0';
    credentials.password = ZELString(std::u16string_view(units));
    ZEL_SECURE_Wipe(units, sizeof units);
  }
  ZEL_SECURE_Wipe(password, sizeof password);
  return result;
}

}  // namespace

ZEL_BUF_EventBuffer* ZEL_AdminToolSAL::CreateTreeOpNotificationEvent(uint32_t sizeHint) {
  return Notification(kTreeOpEvent, sizeHint);
}

ZEL_BUF_EventBuffer* ZEL_AdminToolSAL::CreateContainerChangeEvent(uint32_t sizeHint) {
  return Notification(kContainerChangeEvent, sizeHint);
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
    if (eventID == kGroupRequestWithCredentials && credentials != nullptr) {
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
    if (request->CreateReplyEvent(&reply, kTreeOpEvent, ZELVersion(1, 0), 22, 4) != 0) return 0;
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
  if (request->CreateReplyEvent(&reply, kTreeOpEvent, ZELVersion(1, 0), 22, 0) != 0) {
    return hasChildren ? 0 : ZEL_E_FAIL;
  }
  const int16_t op = flag == 0 ? kOpAdd : kOpList;
  try {
    *reply << int32_t{0} << int16_t{1} << op;
    if (!hasChildren) {
      *reply << group->getDN() << int16_t{0};
    } else {
      *reply << group->getChild()->getParentDN() << static_cast<int16_t>(group->getNumChildren());
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
