// Administrator accounts, third version (interface level 4), with their release members.
#include "admintool/sal/exchange.h"
#include "admintool/trace/trace.h"
#include "zel/admintool/exceptions.h"
#include "zel/admintool/protocol/messages.h"

namespace {

namespace atp = zel::admintool;
using zel::sal::Request;

// Raw appends answer their own code; a failure is traced under `failed`.
Request AppendCodesAsIs(const zel::trace::Message& failed) {
  Request codes{};
  codes.appendCodeAsIs = true;
  codes.failure = &failed;
  return codes;
}

Request TracedUnder(const zel::trace::Message& failed) {
  Request codes{};
  codes.failure = &failed;
  return codes;
}

}  // namespace

int32_t ZEL_AdminToolSAL5::AddUsers3(uint32_t count, ZEL_ADMIN_USERINFO* users,
                                     AllowedFolders* folders, ZEL_ADMIN_CONTACTINFO* contacts) {
  if (auto local = zel::sal::ForwardToLocal(*this, [&](AdminToolInterface4& l) {
        return l.AddUsers3(count, users, folders, contacts);
      })) {
    return *local;
  }
  if (folders == nullptr || (count != 0 && (users == nullptr || contacts == nullptr))) {
    return zel::trace::TraceIfFailed(zel::trace::kAddUsers3Failed, ZEL_E_INVALID_ARG);
  }
  atp::AddUsers3Request request{count, users, contacts, *folders};
  return zel::sal::Exchange(
      zel::sal::SalAccess::EndpointOf(*this),
      zel::sal::RequestFor(request, AppendCodesAsIs(zel::trace::kAddUsers3Failed)), request);
}

int32_t ZEL_AdminToolSAL5::SetPrivilege3(ZEL_ADMIN_USERINFO2* info,
                                         ZEL_ADMIN_CONTACTINFO& contact) {
  if (auto local = zel::sal::ForwardToLocal(
          *this, [&](AdminToolInterface4& l) { return l.SetPrivilege3(info, contact); })) {
    return *local;
  }
  if (info == nullptr) {
    return zel::trace::TraceIfFailed(zel::trace::kSetPrivilege3Failed, ZEL_E_INVALID_ARG);
  }
  atp::SetPrivilege3Request request{*info, contact};
  return zel::sal::Exchange(
      zel::sal::SalAccess::EndpointOf(*this),
      zel::sal::RequestFor(request, AppendCodesAsIs(zel::trace::kSetPrivilege3Failed)), request);
}

int32_t ZEL_AdminToolSAL5::GetPrivilege3(uint64_t adminUID, ZEL_ADMIN_USERINFO2*& info,
                                         ZEL_ADMIN_CONTACTINFO& contact) {
  info = nullptr;
  if (auto local = zel::sal::ForwardToLocal(*this, [&](AdminToolInterface4& l) {
        return l.GetPrivilege3(adminUID, info, contact);
      })) {
    return *local;
  }
  atp::GetPrivilege3Request request{adminUID};
  return zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this),
      zel::sal::RequestFor(request, TracedUnder(zel::trace::kGetPrivilege3Failed)),
      zel::sal::MessageWriter(request),
      [&](ZEL_BUF_BufferReader& reader, int32_t result) {
        info = zel::sal::NewObject<ZEL_ADMIN_USERINFO2>();
        if (info == nullptr) return ZEL_E_NO_EVENT;
        info->adminUID = adminUID;  // the reply does not repeat it
        atp::GetPrivilege3Reply reply{*info, contact};
        const int32_t status = atp::ReadMessage(reader, reply);
        return status != 0 ? status : result;
      },
      [&] {
        zel::sal::DeleteObject(info);
        info = nullptr;
      });
}

int32_t ZEL_AdminToolSAL5::EnumerateKeldraAdmins2(uint32_t& count, ZEL_ADMIN_USERINFO2** records,
                                                  ZEL_ADMIN_CONTACTINFO*& contacts,
                                                  uint8_t selectorA, uint8_t selectorB) {
  if (records == nullptr)
    return zel::trace::TraceIfFailed(zel::trace::kEnumerateKeldraAdmins2Failed, ZEL_E_INVALID_ARG);
  count = 0;
  *records = nullptr;
  contacts = nullptr;
  if (auto local = zel::sal::ForwardToLocal(*this, [&](AdminToolInterface4& l) {
        return l.EnumerateKeldraAdmins2(count, records, contacts, selectorA, selectorB);
      })) {
    return *local;
  }
  atp::EnumerateKeldraAdmins2Request request{selectorA, selectorB};
  atp::EnumerateKeldraAdmins2Reply reply{count, *records, contacts};
  bool ranOut = false;
  const int32_t result = zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this),
      zel::sal::RequestFor(request, TracedUnder(zel::trace::kEnumerateKeldraAdmins2Failed)),
      zel::sal::MessageWriter(request),
      [&](ZEL_BUF_BufferReader& reader, int32_t answer) {
        ranOut = atp::ReadMessage(reader, reply) != 0;
        return ranOut ? ZEL_E_NO_EVENT : answer;
      },
      [&] { atp::ReleaseMessage(reply); });
  // Storage that ran out while reading reaches the caller as the library's bad_alloc, after
  // everything read was released.
  if (ranOut) throw ::bad_alloc();
  return result;
}

ZEL_ADMIN_USERINFO2* ZEL_AdminToolSAL5::CreateUserInfo2() {
  return zel::sal::NewObject<ZEL_ADMIN_USERINFO2>();
}

void ZEL_AdminToolSAL5::FreeKeldraAdminInfo(ZEL_ADMIN_USERINFO2** records,
                                            ZEL_ADMIN_CONTACTINFO*& contacts) {
  if (records != nullptr && *records != nullptr) {
    zel::sal::DeleteArray(*records);
    *records = nullptr;
  }
  if (contacts != nullptr) {
    zel::sal::DeleteArray(contacts);
    contacts = nullptr;
  }
}
