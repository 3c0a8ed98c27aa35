// The SAL object, versions 1 to 4. Each version derives from the one before and adds one
// interface. Objects are built on the caller's host subsystem, which must outlive them.
//
// SAL objects cannot be copied: a member-wise copy would share the store-access object and the
// acquired interfaces with its source, and both would release them.
#pragma once

#include <cstdint>

#include "zel/admintool/admin_records.h"
#include "zel/admintool/export.h"
#include "zel/admintool/interfaces.h"
#include "zel/admintool/result_codes.h"
#include "zel/admintool/zel_admintoolobject.h"
#include "zel/directory/service.h"
#include "zel/runtime/pif.h"
#include "zel/runtime/strings.h"
#include "zel/usersal/credentials.h"

namespace zel::sal {
struct SalAccess;
}

class ZEL_ADMINSAL_API ZEL_AdminToolSAL : public ZEL_PIF_SAL {
 public:
  explicit ZEL_AdminToolSAL(ZEL_PIF_ISubSystem& host);
  ZEL_AdminToolSAL(const ZEL_AdminToolSAL&) = delete;
  ZEL_AdminToolSAL& operator=(const ZEL_AdminToolSAL&) = delete;
  ~ZEL_AdminToolSAL() override;

  // --- Group enumeration, receiving side --------------------------------------------------
  // Decodes a group enumeration request (event 81 or 82) into a new group node and, for event 82,
  // new credentials; both are the caller's to delete. On failure the group is freed and null.
  int32_t ParseEnumerateGroupEvent(ZEL_BUF_EventBuffer* event, ZEL_AdminToolObject** group,
                                   UM_Credentials** credentials);
  // Answers a group enumeration request with the group's children (or the result alone) and
  // hands the reply to the host. A failed append passes to the caller.
  int32_t WriteGroupToEventBuffer(ZEL_BUF_EventBuffer* request, int32_t result,
                                  ZEL_AdminToolObject* group, char flag);
  // Does nothing and answers 0.
  int32_t PostDeleteObjectEvent(int32_t kind, const char16_t* dn);

  // --- Node operations: announce a tree change (events 81 then 95) -------------------------
  int32_t AddNode(ZELString& parentDN, ZEL_AdminToolObject& node);
  int32_t AddNodes(ZELString& parentDN, ZEL_AdminToolObject* nodes, int16_t count);
  int32_t DeleteNode(ZELString& parentDN, ZELString& name);
  int32_t ChangeNodeAttr(ZELString& parentDN, ZELString& name, ZEL_AdminToolObject& node);
  int32_t MoveNodes(ZELString& sourceDN, ZELString& destinationDN, int16_t count,
                    ZEL_AdminToolObject* nodes);

  // --- First-generation user operations -----------------------------------------------------
  int32_t GetUsersDNs(ZELMultiString& dns);
  int32_t AddDefaultUser(ZELString& first, ZELString& second);

  // --- Folder operations, receiving side ----------------------------------------------------
  int32_t CreateFolderHelper(ZEL_BUF_EventBuffer* event, uint64_t& uid, ZELString& name);
  int32_t RenameFolderHelper(ZEL_BUF_EventBuffer* event, uint64_t& uid, ZELString& name);
  int32_t DeleteFolderHelper(ZEL_BUF_EventBuffer* event, uint64_t& uid);
  // The member list is the caller's, released with FreeMemberUIDListHelper.
  int32_t MoveFolderMembersHelper(ZEL_BUF_EventBuffer* event, uint32_t& count, uint64_t*& members,
                                  uint64_t& firstFolder, uint64_t& secondFolder);
  int32_t FreeMemberUIDListHelper(uint64_t* members);
  int32_t FolderOperationReplyHelper(ZEL_BUF_EventBuffer* request, uint16_t eventID, int32_t result,
                                     uint64_t uid);

  // --- Object registry: tree objects in the object context ---------------------------------
  int32_t RegisterObject(ZEL_AdminToolObject& object, bool notify);
  // Adds capability values to an existing object entry (those not already present).
  int32_t UpdateObject(ZELString& dn, uint32_t count, uint32_t* values);
  int32_t DeleteObject(ZEL_AdminToolObject& object);
  int32_t GetObjectW(ZEL_AdminToolObject& object);
  // Adds a child to the group for every entry directly below its DN (the caller's to free).
  int32_t ReadGroupFromDirectory(ZEL_AdminToolObject* group);
  // One capability per entry directly below the group DN, in an array released with
  // FreeCapabilities.
  int32_t GetStaticGroupPermissionHelper(ZELString groupDN, uint32_t& count,
                                         AdminObjectCapability** capabilities);

  // Releases a capability array (GetStaticGroupPermissionHelper, GetStaticGroupPermission),
  // each element's privileges with it; null is ignored. Always 0.
  int32_t FreeCapabilities(AdminObjectCapability* capabilities);

  // --- Icon and plug-in registry ------------------------------------------------------------
  int32_t RegisterIcon(ZEL_AdminToolIcon& icon);
  int32_t GetIconByUID(ZEL_AdminToolIcon& icon);
  int32_t GetIconByName(ZEL_AdminToolIcon& icon);
  int32_t DeleteIcon(ZEL_AdminToolIcon& icon);
  int32_t RegisterPlugin(ZEL_AdminToolPlugin& plugin);
  int32_t GetPlugin(ZEL_AdminToolPlugin& plugin);
  // Does nothing and answers 0: the plug-in entry stays.
  int32_t DeletePlugin(ZEL_AdminToolPlugin& plugin);

  // The names of one child context (bind name, create name, DN component); inner.
  struct ChildContext;

  // Process-wide directory state, shared by every SAL object.
  static ZELString s_adminToolContext;  // DN of the AdminTool context
  static uint32_t s_cid;                // "AdminToolContext"
  static uint32_t s_objCid;             // "AdminToolObjectContext"
  static uint32_t s_iconCid;            // "AdminToolIconContext"
  static uint32_t s_pluginCid;          // "AdminToolPluginContext"

 protected:
  ZEL_PS_LDAPSAL* storeSal;                  // owned; null when it could not be allocated
  uint16_t callerSubsystemUID;               // the host's UID at construction
  uint16_t adminToolSubsystemUID;            // always 22
  ZEL_PIF_EventDispatcher* eventDispatcher;  // interface 300 of ZelPluginApis, or null

  // A new notification (event 81 / 95) addressed from the AdminTool subsystem to subsystem 1;
  // the caller's until handed on. Null without storage.
  ZEL_BUF_EventBuffer* CreateTreeOpNotificationEvent(uint32_t sizeHint);
  ZEL_BUF_EventBuffer* CreateContainerChangeEvent(uint32_t sizeHint);

 private:
  friend struct zel::sal::SalAccess;

  // Context binding: the first registry operation that needs a context binds it, creating it
  // when it is missing.
  void initializeContextStrings();
  int32_t BindAdminToolContext();
  int32_t BindAdminToolObjectContext();
  int32_t BindAdminToolIconContext();
  int32_t BindAdminToolPluginContext();
  int32_t bindChildContext(const ChildContext& child, uint32_t* id);
  int32_t bindObjects(bool traceFailure);
  int32_t bindIcons();

  // The object classes are not registered by this library: these do nothing and answer 0.
  int32_t RegisterAdminObjectClass();
  int32_t RegisterAdminIconClass();
  int32_t RegisterAdminPluginClass();
  int32_t RegisterAdminObjectClasses();
};

class ZEL_ADMINSAL_API ZEL_AdminToolSAL2 : public ZEL_AdminToolSAL, public ZEL_AdminToolInterface2 {
 public:
  explicit ZEL_AdminToolSAL2(ZEL_PIF_ISubSystem& host);
  ~ZEL_AdminToolSAL2() override;

  int32_t IsUserKeldraAdmin(UM_AcctIDBlobWriter& account, void* answer) override;
};

class ZEL_ADMINSAL_API ZEL_AdminToolSAL3 : public ZEL_AdminToolSAL2, public AdminToolInterface2 {
 public:
  explicit ZEL_AdminToolSAL3(ZEL_PIF_ISubSystem& host);
  ~ZEL_AdminToolSAL3() override;

  int32_t Logon2(ZELString& logonName, uint32_t credentialLength, uint8_t* credentials,
                 uint32_t& logonStatus, ZELString& resolvedName, uint32_t& logonValue,
                 uint32_t* valueCount, uint32_t** values, uint32_t* uidCount, uint64_t** uids,
                 uint32_t unused) override;
  int32_t AddUsers2(uint32_t count, ZEL_ADMIN_USERINFO* users) override;
  int32_t SetPrivilege2(uint64_t adminUID, uint32_t attribute1, uint32_t attribute2,
                        uint32_t privilegeCount, uint32_t* privileges) override;
  int32_t GetPrivilege2(uint64_t adminUID, uint32_t& attribute1, uint32_t& attribute2,
                        uint32_t& privilegeCount, uint32_t** privileges) override;
  int32_t GetStaticGroupPermission(ZELString& group, uint32_t& count,
                                   AdminObjectCapability** capabilities) override;
  int32_t EnumerateKeldraAdmins(uint32_t& count, ZEL_ADMIN_USERINFO** records, uint8_t selectorA,
                                uint8_t selectorB) override;

  // Announces that an administrator's node left the tree (events 81 with its wire form, 95).
  int32_t DeleteAdminNode(ZEL_AdminToolObject& node, ZELString& parentDN, ZELString& name);

  // Kinds of storage FreeMemory releases.
  static constexpr uint32_t kFreePlainArray = 1;        // privilege and Logon2 arrays
  static constexpr uint32_t kFreeUserInfoArray = 2;     // EnumerateKeldraAdmins records
  static constexpr uint32_t kFreeUserInfo2 = 3;         // one record (CreateUserInfo2)
  static constexpr uint32_t kFreeUserInfo2Array = 4;    // EnumerateKeldraAdmins2 records
  static constexpr uint32_t kFreeContactInfoArray = 5;  // EnumerateKeldraAdmins2 contacts
  // Releases what the operations handed out; a null pointer or an unknown kind releases
  // nothing. Always 0.
  int32_t FreeMemory(void* memory, uint32_t type);
};

class ZEL_ADMINSAL_API ZEL_AdminToolSAL4 : public ZEL_AdminToolSAL3, public AdminToolInterface3 {
 public:
  explicit ZEL_AdminToolSAL4(ZEL_PIF_ISubSystem& host);
  ~ZEL_AdminToolSAL4() override;

  int32_t AddDefaultUser2(ZELString& first, ZELString& second, uint8_t option) override;
  int32_t DeleteUser(uint32_t count, uint64_t* uids) override;
};
