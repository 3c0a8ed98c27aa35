// Administrator accounts, third version (interface level 4), with their release members.
#include "admintool/admins/record_wire.h"
#include "admintool/sal/exchange.h"
#include "admintool/trace/trace.h"

namespace {

using zel::sal::Request;

constexpr Request kAddUsers3{87, 0, 4};
constexpr Request kSetPrivilege3{88, 0, 4};
constexpr Request kGetPrivilege3{89, 8, 4};
constexpr Request kEnumerateKeldraAdmins2{90, 2, 4};

int32_t ResultOnly(ZEL_BUF_BufferReader&, int32_t result) { return result; }

// Account record and privilege block as AddUsers3 writes them; AppendData codes as they come.
int32_t WriteAccount(ZEL_BUF_EventBuffer& event, const ZEL_ADMIN_USERINFO& user) {
  event << user.accountName << user.accountAuthority << user.attribute1 << user.attribute2;
  return zel::admins::WritePrivilegeBlock(event, user.privilegeCount, user.privileges);
}

}  // namespace

int32_t ZEL_AdminToolSAL5::AddUsers3(uint32_t count, ZEL_ADMIN_USERINFO* users,
                                     AllowedFolders* folders, ZEL_ADMIN_CONTACTINFO* contacts) {
  int32_t forwarded = 0;
  if (zel::sal::ForwardToLocal(
          *this,
          [&](AdminToolInterface4& local) {
            return local.AddUsers3(count, users, folders, contacts);
          },
          &forwarded)) {
    return forwarded;
  }
  if (folders == nullptr || (count != 0 && (users == nullptr || contacts == nullptr))) {
    return zel::trace::TraceIfFailed(zel::trace::kAddUsers3Failed, ZEL_E_INVALID_ARG);
  }
  return zel::trace::TraceIfFailed(zel::trace::kAddUsers3Failed,
                                   zel::sal::RequestReply(
                                       zel::sal::SalAccess::EndpointOf(*this), kAddUsers3,
                                       [&](ZEL_BUF_EventBuffer& request) -> int32_t {
                                         request << count;
                                         for (uint32_t i = 0; i < count; ++i) {
                                           if (const int32_t code = WriteAccount(request, users[i]))
                                             return code;
                                           zel::admins::WriteContact(request, contacts[i]);
                                         }
                                         return zel::admins::WriteFolderList(request, *folders);
                                       },
                                       ResultOnly, [] {}));
}

int32_t ZEL_AdminToolSAL5::SetPrivilege3(ZEL_ADMIN_USERINFO2* info,
                                         ZEL_ADMIN_CONTACTINFO& contact) {
  int32_t forwarded = 0;
  if (zel::sal::ForwardToLocal(
          *this, [&](AdminToolInterface4& local) { return local.SetPrivilege3(info, contact); },
          &forwarded)) {
    return forwarded;
  }
  if (info == nullptr)
    return zel::trace::TraceIfFailed(zel::trace::kSetPrivilege3Failed, ZEL_E_INVALID_ARG);
  return zel::trace::TraceIfFailed(
      zel::trace::kSetPrivilege3Failed,
      zel::sal::RequestReply(
          zel::sal::SalAccess::EndpointOf(*this), kSetPrivilege3,
          [&](ZEL_BUF_EventBuffer& request) -> int32_t {
            // Addressed by its UID alone: the names are not sent.
            request << info->adminUID << info->attribute1 << info->attribute2;
            if (const int32_t code = zel::admins::WritePrivilegeBlock(request, info->privilegeCount,
                                                                      info->privileges)) {
              return code;
            }
            if (const int32_t code = zel::admins::WriteFolderList(request, info->allowedFolders)) {
              return code;
            }
            zel::admins::WriteContact(request, contact);
            return 0;
          },
          ResultOnly, [] {}));
}

int32_t ZEL_AdminToolSAL5::GetPrivilege3(uint64_t adminUID, ZEL_ADMIN_USERINFO2*& info,
                                         ZEL_ADMIN_CONTACTINFO& contact) {
  info = nullptr;
  int32_t forwarded = 0;
  if (zel::sal::ForwardToLocal(
          *this,
          [&](AdminToolInterface4& local) { return local.GetPrivilege3(adminUID, info, contact); },
          &forwarded)) {
    return forwarded;
  }
  auto release = [&] {
    zel::sal::DeleteObject(info);
    info = nullptr;
  };
  return zel::trace::TraceIfFailed(zel::trace::kGetPrivilege3Failed,
                                   zel::sal::RequestReply(
                                       zel::sal::SalAccess::EndpointOf(*this), kGetPrivilege3,
                                       [&](ZEL_BUF_EventBuffer& request) {
                                         request << adminUID;
                                         return 0;
                                       },
                                       [&](ZEL_BUF_BufferReader& reply, int32_t result) -> int32_t {
                                         try {
                                           info = zel::sal::NewObject<ZEL_ADMIN_USERINFO2>();
                                           if (info == nullptr) throw ::bad_alloc();
                                           info->adminUID =
                                               adminUID;  // the reply does not repeat it
                                           reply >> info->attribute1 >> info->attribute2;
                                           zel::admins::ReadPrivilegeBlock(reply, *info);
                                           zel::admins::ReadFolderList(reply, info->allowedFolders);
                                           zel::admins::ReadContact(reply, contact);
                                         } catch (const ::bad_alloc&) {
                                           release();
                                           return ZEL_E_NO_EVENT;
                                         }
                                         return result;
                                       },
                                       release));
}

int32_t ZEL_AdminToolSAL5::EnumerateKeldraAdmins2(uint32_t& count, ZEL_ADMIN_USERINFO2** records,
                                                  ZEL_ADMIN_CONTACTINFO*& contacts,
                                                  uint8_t selectorA, uint8_t selectorB) {
  if (records == nullptr)
    return zel::trace::TraceIfFailed(zel::trace::kEnumerateKeldraAdmins2Failed, ZEL_E_INVALID_ARG);
  count = 0;
  *records = nullptr;
  contacts = nullptr;
  int32_t forwarded = 0;
  if (zel::sal::ForwardToLocal(
          *this,
          [&](AdminToolInterface4& local) {
            return local.EnumerateKeldraAdmins2(count, records, contacts, selectorA, selectorB);
          },
          &forwarded)) {
    return forwarded;
  }
  auto release = [&] {
    FreeKeldraAdminInfo(records, contacts);
    count = 0;
  };
  return zel::trace::TraceIfFailed(
      zel::trace::kEnumerateKeldraAdmins2Failed,
      zel::sal::RequestReply(
          zel::sal::SalAccess::EndpointOf(*this), kEnumerateKeldraAdmins2,
          [&](ZEL_BUF_EventBuffer& request) {
            request << selectorA << selectorB;
            return 0;
          },
          [&](ZEL_BUF_BufferReader& reply, int32_t result) -> int32_t {
            try {
              reply >> count;
              if (count == 0) return result;
              *records = zel::admins::NewRecordArray<ZEL_ADMIN_USERINFO2>(
                  reply, count, zel::admins::kMinAdministrator2);
              contacts = zel::sal::NewArray<ZEL_ADMIN_CONTACTINFO>(count);
              if (contacts == nullptr) throw ::bad_alloc();
              for (uint32_t i = 0; i < count; ++i) {
                ZEL_ADMIN_USERINFO2& user = (*records)[i];
                reply >> user.accountName >> user.accountAuthority >> user.attribute1 >>
                    user.attribute2;
                zel::admins::ReadPrivilegeBlock(reply, user);
                reply >> user.adminUID;
                zel::admins::ReadFolderList(reply, user.allowedFolders);
                zel::admins::ReadContact(reply, contacts[i]);
              }
            } catch (const ::bad_alloc&) {
              release();  // nothing is left behind, and the exception reaches the caller
              throw;
            }
            return result;
          },
          release));
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
