// Operations whose issues have not landed yet. Each answers ZEL_E_FAIL without doing anything;
// docs/ARCHITECTURE.md lists them. An operation leaves this file when it is built.
#include "admintool/sal/result_codes.h"
#include "admintool/sal/zel_admintoolsal5.h"

int32_t ZEL_AdminToolSAL5::GetVoAdminAccountsForTicket(uint8_t*, _VoAdminAccounts*&) {
  return ZEL_E_FAIL;
}
int32_t ZEL_AdminToolSAL5::AddUsers3(uint32_t, ZEL_ADMIN_USERINFO*, AllowedFolders*,
                                     ZEL_ADMIN_CONTACTINFO*) {
  return ZEL_E_FAIL;
}
int32_t ZEL_AdminToolSAL5::GetPrivilege3(uint64_t, ZEL_ADMIN_USERINFO2*&, ZEL_ADMIN_CONTACTINFO&) {
  return ZEL_E_FAIL;
}
int32_t ZEL_AdminToolSAL5::SetPrivilege3(ZEL_ADMIN_USERINFO2*, ZEL_ADMIN_CONTACTINFO&) {
  return ZEL_E_FAIL;
}
int32_t ZEL_AdminToolSAL5::EnumerateKeldraAdmins2(uint32_t&, ZEL_ADMIN_USERINFO2**,
                                                  ZEL_ADMIN_CONTACTINFO*&, uint8_t, uint8_t) {
  return ZEL_E_FAIL;
}
int32_t ZEL_AdminToolSAL5::GetPermissionsForCurrentUser(AllowedFolders*&) { return ZEL_E_FAIL; }
int32_t ZEL_AdminToolSAL5::DeleteCapabilityObjectsInDB() { return ZEL_E_FAIL; }
int32_t ZEL_AdminToolSAL5::GetAdminNameByUID(uint64_t, char16_t*&, char16_t*&) {
  return ZEL_E_FAIL;
}
int32_t ZEL_AdminToolSAL5::GetAdminUIDByName(const char16_t*, const char16_t*, uint64_t&) {
  return ZEL_E_FAIL;
}
int32_t ZEL_AdminToolSAL5::GetPrivilegesByBlob(UM_AcctIDBlobWriter&, uint8_t&, uint32_t&, uint32_t&,
                                               uint32_t**) {
  return ZEL_E_FAIL;
}
