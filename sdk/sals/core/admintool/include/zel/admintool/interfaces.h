// The numbered interfaces of the SAL object. Each is abstract, holds no data, and declares its
// operations in their fixed slot order. Every operation answers an int32 result code.
#pragma once

#include <cstdint>

#include "zel/admintool/export.h"
#include "zel/runtime/strings.h"
#include "zel/usersal/account_blob.h"

class ZEL_ADMIN_USERINFO;
class ZEL_ADMIN_USERINFO2;
class ZEL_ADMIN_CONTACTINFO;
class AdminObjectCapability;
class AllowedFolders;
struct _VoAdminAccounts;

// Interface level 1.
class ZEL_ADMINSAL_API ZEL_AdminToolInterface2 {
 public:
  // Whether `account` is an administrator; one uint32 answer written through `answer`.
  virtual int32_t IsUserKeldraAdmin(UM_AcctIDBlobWriter& account, void* answer) = 0;

 protected:
  ~ZEL_AdminToolInterface2() = default;
};

// Interface level 2.
class ZEL_ADMINSAL_API AdminToolInterface2 {
 public:
  virtual int32_t Logon2(ZELString& logonName, uint32_t credentialLength, uint8_t* credentials,
                         uint32_t& logonStatus, ZELString& resolvedName, uint32_t& logonValue,
                         uint32_t* valueCount, uint32_t** values, uint32_t* uidCount,
                         uint64_t** uids, uint32_t unused) = 0;
  virtual int32_t AddUsers2(uint32_t count, ZEL_ADMIN_USERINFO* users) = 0;
  virtual int32_t SetPrivilege2(uint64_t adminUID, uint32_t attribute1, uint32_t attribute2,
                                uint32_t privilegeCount, uint32_t* privileges) = 0;
  virtual int32_t GetPrivilege2(uint64_t adminUID, uint32_t& attribute1, uint32_t& attribute2,
                                uint32_t& privilegeCount, uint32_t** privileges) = 0;
  virtual int32_t GetStaticGroupPermission(ZELString& group, uint32_t& count,
                                           AdminObjectCapability** capabilities) = 0;
  virtual int32_t EnumerateKeldraAdmins(uint32_t& count, ZEL_ADMIN_USERINFO** records,
                                        uint8_t selectorA, uint8_t selectorB) = 0;

 protected:
  ~AdminToolInterface2() = default;
};

// Interface level 3.
class ZEL_ADMINSAL_API AdminToolInterface3 {
 public:
  virtual int32_t AddDefaultUser2(ZELString& first, ZELString& second, uint8_t option) = 0;
  virtual int32_t DeleteUser(uint32_t count, uint64_t* uids) = 0;

 protected:
  ~AdminToolInterface3() = default;
};

// Interface level 4.
class ZEL_ADMINSAL_API AdminToolInterface4 {
 public:
  virtual int32_t GetVoAdminAccountsForTicket(uint8_t* ticket, _VoAdminAccounts*& accounts) = 0;
  virtual int32_t AddUsers3(uint32_t count, ZEL_ADMIN_USERINFO* users, AllowedFolders* folders,
                            ZEL_ADMIN_CONTACTINFO* contacts) = 0;
  virtual int32_t GetPrivilege3(uint64_t adminUID, ZEL_ADMIN_USERINFO2*& info,
                                ZEL_ADMIN_CONTACTINFO& contact) = 0;
  virtual int32_t SetPrivilege3(ZEL_ADMIN_USERINFO2* info, ZEL_ADMIN_CONTACTINFO& contact) = 0;
  virtual int32_t EnumerateKeldraAdmins2(uint32_t& count, ZEL_ADMIN_USERINFO2** records,
                                         ZEL_ADMIN_CONTACTINFO*& contacts, uint8_t selectorA,
                                         uint8_t selectorB) = 0;
  virtual int32_t GetPermissionsForCurrentUser(AllowedFolders*& folders) = 0;
  virtual int32_t DeleteCapabilityObjectsInDB() = 0;
  virtual int32_t GetAdminNameByUID(uint64_t uid, char16_t*& firstName, char16_t*& secondName) = 0;
  virtual int32_t GetAdminUIDByName(const char16_t* firstName, const char16_t* secondName,
                                    uint64_t& uid) = 0;
  virtual int32_t GetPrivilegesByBlob(UM_AcctIDBlobWriter& blob, uint8_t& flag, uint32_t& attribute,
                                      uint32_t& count, uint32_t** privileges) = 0;

 protected:
  ~AdminToolInterface4() = default;
};

// Two further interfaces that the library exports and does not implement.
class ZEL_ADMINSAL_API NDSDrvInterface1 {
 public:
  NDSDrvInterface1() = default;
  NDSDrvInterface1(const NDSDrvInterface1&) = default;
  NDSDrvInterface1& operator=(const NDSDrvInterface1&) = default;
  virtual int32_t NDSDrvOperation1() = 0;
  virtual int32_t NDSDrvOperation2() = 0;
  virtual int32_t NDSDrvOperation3() = 0;

 protected:
  ~NDSDrvInterface1() = default;
};

class ZEL_ADMINSAL_API WinDrvInterface1 {
 public:
  WinDrvInterface1() = default;
  WinDrvInterface1(const WinDrvInterface1&) = default;
  WinDrvInterface1& operator=(const WinDrvInterface1&) = default;
  virtual int32_t WinDrvOperation1() = 0;

 protected:
  ~WinDrvInterface1() = default;
};
