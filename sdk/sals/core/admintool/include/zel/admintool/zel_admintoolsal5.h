// The SAL object, versions 5 and 6. The fifth adds the fourth interface, which forwards to a
// local implementation when the host offers one (interface 2300 of its plug-in API table).
#pragma once

#include <cstdint>

#include "zel/admintool/zel_admintoolsal.h"

class ZEL_ADMINSAL_API ZEL_AdminToolSAL5 : public ZEL_AdminToolSAL4, public AdminToolInterface4 {
 public:
  explicit ZEL_AdminToolSAL5(ZEL_PIF_ISubSystem& host);
  ~ZEL_AdminToolSAL5() override;

  int32_t GetVoAdminAccountsForTicket(uint8_t* ticket, _VoAdminAccounts*& accounts) override;
  int32_t AddUsers3(uint32_t count, ZEL_ADMIN_USERINFO* users, AllowedFolders* folders,
                    ZEL_ADMIN_CONTACTINFO* contacts) override;
  int32_t GetPrivilege3(uint64_t adminUID, ZEL_ADMIN_USERINFO2*& info,
                        ZEL_ADMIN_CONTACTINFO& contact) override;
  int32_t SetPrivilege3(ZEL_ADMIN_USERINFO2* info, ZEL_ADMIN_CONTACTINFO& contact) override;
  int32_t EnumerateKeldraAdmins2(uint32_t& count, ZEL_ADMIN_USERINFO2** records,
                                 ZEL_ADMIN_CONTACTINFO*& contacts, uint8_t selectorA,
                                 uint8_t selectorB) override;
  int32_t GetPermissionsForCurrentUser(AllowedFolders*& folders) override;
  int32_t DeleteCapabilityObjectsInDB() override;
  int32_t GetAdminNameByUID(uint64_t uid, char16_t*& firstName, char16_t*& secondName) override;
  int32_t GetAdminUIDByName(const char16_t* firstName, const char16_t* secondName,
                            uint64_t& uid) override;
  int32_t GetPrivilegesByBlob(UM_AcctIDBlobWriter& blob, uint8_t& flag, uint32_t& attribute,
                              uint32_t& count, uint32_t** privileges) override;

  // A new, default record from the library's allocator (for SetPrivilege3), released with
  // FreeMemory kind 3; null without storage.
  ZEL_ADMIN_USERINFO2* CreateUserInfo2();
  // Releases the two arrays of EnumerateKeldraAdmins2 and nulls both pointers.
  void FreeKeldraAdminInfo(ZEL_ADMIN_USERINFO2** records, ZEL_ADMIN_CONTACTINFO*& contacts);
  // Releases the names of GetAdminNameByUID and nulls both pointers.
  void FreeAdminName(char16_t*& firstName, char16_t*& secondName);

 protected:
  AdminToolInterface4* localImplementation;  // interface 2300 of the host's table, or null
  ZelPluginApiTable* hostPluginApis;         // the host's plug-in API table, or null

 private:
  friend struct zel::sal::SalAccess;
};

class ZEL_ADMINSAL_API ZEL_AdminToolSAL6 : public ZEL_AdminToolSAL5 {
 public:
  explicit ZEL_AdminToolSAL6(ZEL_PIF_ISubSystem& host);
  ~ZEL_AdminToolSAL6() override;

  // Announces UIDs whose names could not be resolved (event 97, one-way). The array stays the
  // caller's; the dispatcher's answer.
  int32_t PostAdminNameUnResolvedNotification(uint64_t*& uids, uint32_t count, uint32_t value);
};
