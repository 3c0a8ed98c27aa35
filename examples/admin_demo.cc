// The library at work: a console subsystem builds a SAL object on its host, asks whether two
// accounts are administrators and logs one on, against an AdminTool subsystem that runs in the
// same in-process farm. Set ZEL_TRACE_CONTROL (see zeltrace) to trace it.
#include <cstdio>
#include <string>

#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/farm.h"
#include "zel/runtime/reader.h"
#include "zel/usersal/account_blob.h"

namespace {

// Raw bytes into a reply; a failed append is reported like any other write failure.
void AppendRaw(ZEL_BUF_EventBuffer& event, const void* bytes, uint32_t length) {
  const int32_t appended = event.AppendData(bytes, length);
  if (appended < 0) throw ZEL_BUF_AppendException(appended);
}

// A small AdminTool subsystem: "root" is its only administrator.
int32_t AdminTool(const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** reply) {
  ZEL_BUF_BufferReader reader(const_cast<ZEL_BUF_EventBuffer*>(&request), 0);
  if (request.CreateReplyEvent(reply, request.GetEventID(), ZELVersion(1, 0), 22, 0) < 0) {
    return -1;
  }
  try {
    if (request.GetEventID() == 48) {  // is the account an administrator?
      UM_AccountIdentity account;
      if (UM_ReadAcctIDBlob(reader, &account) != 0) throw ZEL_BUF_ReadException({});
      **reply << int32_t{0} << uint32_t{account.accountName == ZELString(u"root") ? 1u : 0u};
    } else if (request.GetEventID() == 65) {  // logon: name, credential bytes
      ZELString name;
      uint32_t length = 0;
      reader >> name >> length;
      const bool known = name == ZELString(u"root") && length == 6;
      if (!known) {
        **reply << int32_t{-5};
      } else {
        const uint32_t values[2] = {0x10, 0x20};
        const uint64_t uids[1] = {0x0000012100000001};
        ZELString resolved(u"Farm Administrator");
        **reply << int32_t{0} << resolved << uint32_t{3} << uint32_t{2};
        AppendRaw(**reply, values, sizeof values);
        **reply << uint32_t{1};
        AppendRaw(**reply, uids, sizeof uids);
      }
    } else {
      **reply << int32_t{-1};
    }
  } catch (const ZEL_BUF_ReadException&) {
    delete *reply;
    *reply = nullptr;
    return -2;  // the request could not be read
  } catch (const ZEL_BUF_AppendException& e) {
    delete *reply;
    *reply = nullptr;
    return e.code();
  }
  return 0;
}

}  // namespace

int main() {
  zel::rt::InProcessFarm farm;
  zel::rt::FarmSubsystem& console = farm.AddSubsystem(5);
  farm.AddSubsystem(22).SetRequestHandler(AdminTool);
  ZEL_AdminToolSAL6 sal(console);

  for (const char16_t* name : {u"root", u"guest"}) {
    UM_AcctIDBlobWriter account(
        UM_AccountIdentity{ZELString(u"NT"), ZELString(u"NORTH"), ZELString(name), {}});
    uint32_t answer = 0;
    const int32_t result = sal.IsUserKeldraAdmin(account, &answer);
    std::printf("IsUserKeldraAdmin(%s): result 0x%08x, administrator: %s\n",
                ZELString(name).toUtf8().c_str(), static_cast<unsigned>(result),
                answer != 0 ? "yes" : "no");
  }

  AdminToolInterface2& accounts = sal;
  ZELString name(u"root");
  uint8_t credentials[6] = {'s', 'e', 'c', 'r', 'e', 't'};
  uint32_t status = 0, value = 0, valueCount = 0, uidCount = 0;
  uint32_t* values = nullptr;
  uint64_t* uids = nullptr;
  ZELString resolved;
  const int32_t result = accounts.Logon2(name, sizeof credentials, credentials, status, resolved,
                                         value, &valueCount, &values, &uidCount, &uids, 0);
  std::printf("Logon2(root): result 0x%08x, name \"%s\", value %u, %u values, %u UIDs\n",
              static_cast<unsigned>(result), resolved.toUtf8().c_str(), value, valueCount,
              uidCount);
  for (uint32_t i = 0; i < uidCount; ++i) {
    std::printf("  UID 0x%016llx\n", static_cast<unsigned long long>(uids[i]));
  }
  zel::rt::Free(values);  // what FreeMemory with kind 1 will do
  zel::rt::Free(uids);
  return result == 0 && valueCount == 2 ? 0 : 1;
}
