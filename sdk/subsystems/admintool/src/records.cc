#include "src/records.h"

namespace zel::subsystem {

std::vector<uint32_t> PrivilegesOf(uint32_t count, const uint32_t* values) {
  if (count == 0 || values == nullptr) return {};
  return std::vector<uint32_t>(values, values + count);
}

std::vector<FolderGrant> FoldersOf(const AllowedFolders& folders) {
  std::vector<FolderGrant> grants;
  grants.reserve(folders.folderCount);
  for (uint32_t i = 0; i < folders.folderCount; ++i) {
    const FolderPermissions& f = folders.folders[i];
    grants.push_back(FolderGrant{f.folderUID, PrivilegesOf(f.taskCount, f.tasks)});
  }
  return grants;
}

Contact ContactOf(const ZEL_ADMIN_CONTACTINFO& contact) {
  return Contact{std::u16string(contact.contact1.view()), std::u16string(contact.contact2.view()),
                 std::u16string(contact.contact3.view())};
}

bool ToRecord(const Administrator& admin, ZEL_ADMIN_USERINFO* record) {
  record->accountName = ZELString(std::u16string_view(admin.account.name));
  record->accountAuthority = ZELString(std::u16string_view(admin.account.authority));
  record->attribute1 = admin.attribute1;
  record->attribute2 = admin.attribute2;
  return record->ReplacePrivs(static_cast<uint32_t>(admin.privileges.size()),
                              admin.privileges.data()) == 0;
}

bool ToRecord(const Administrator& admin, ZEL_ADMIN_USERINFO2* record) {
  record->adminUID = admin.uid;
  return ToRecord(admin, static_cast<ZEL_ADMIN_USERINFO*>(record)) &&
         ToFolders(admin.folders, &record->allowedFolders);
}

bool ToFolders(const std::vector<FolderGrant>& grants, AllowedFolders* folders) {
  for (const FolderGrant& grant : grants) {
    const FolderPermissions record(static_cast<uint32_t>(grant.tasks.size()), grant.tasks.data(),
                                   grant.folder);
    if (record.taskCount != grant.tasks.size()) return false;
    *folders += &record;
    FolderPermissions* stored = nullptr;
    if (folders->InList(grant.folder, &stored) == 0 || stored->taskCount != grant.tasks.size()) {
      return false;
    }
  }
  return true;
}

void ToContact(const Contact& contact, ZEL_ADMIN_CONTACTINFO* record) {
  record->contact1 = ZELString(std::u16string_view(contact.contact1));
  record->contact2 = ZELString(std::u16string_view(contact.contact2));
  record->contact3 = ZELString(std::u16string_view(contact.contact3));
}

}  // namespace zel::subsystem
