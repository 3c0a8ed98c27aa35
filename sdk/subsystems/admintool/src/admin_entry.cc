#include "src/admin_entry.h"

namespace zel::subsystem {

namespace {

constexpr uint16_t kCssCode = 7;
constexpr uint16_t kUInt32Code = 12;
constexpr uint16_t kUInt8Code = 10;
constexpr uint16_t kBinCode = 1;

void Put32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}
void Put64(std::vector<uint8_t>& out, uint64_t value) {
  for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// Reads little-endian values from a byte string; false once anything is short.
class Bytes {
 public:
  explicit Bytes(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  bool Get32(uint32_t* value) {
    if (remaining() < 4) return false;
    *value = 0;
    for (int i = 3; i >= 0; --i) *value = (*value << 8) | bytes_[at_ + static_cast<size_t>(i)];
    at_ += 4;
    return true;
  }
  bool Get64(uint64_t* value) {
    uint32_t low = 0, high = 0;
    if (remaining() < 8 || !Get32(&low) || !Get32(&high)) return false;
    *value = (static_cast<uint64_t>(high) << 32) | low;
    return true;
  }
  size_t remaining() const { return bytes_.size() - at_; }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t at_ = 0;
};

void SetText(ZEL_DIR_Entry& entry, const char16_t* attribute, const std::u16string& text) {
  const ZELString value{std::u16string_view(text)};
  entry.DeleteAllValues(attribute);
  entry.AddValue(attribute, u"css", kCssCode, value.getName(), value.getLength());
}

void SetBytes(ZEL_DIR_Entry& entry, const char16_t* attribute, const std::vector<uint8_t>& bytes) {
  entry.DeleteAllValues(attribute);
  entry.AddValue(attribute, u"bin", kBinCode, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void SetUInt32(ZEL_DIR_Entry& entry, const char16_t* attribute, uint32_t value) {
  entry.DeleteAllValues(attribute);
  entry.AddValue(attribute, u"uint32", kUInt32Code, &value, sizeof value);
}

std::u16string GetText(ZEL_DIR_Entry& entry, const char16_t* attribute) {
  ZELString text;
  entry.MapStringDataFromDir(attribute, text);
  return std::u16string(text.view());
}

std::vector<uint8_t> GetBytes(ZEL_DIR_Entry& entry, const char16_t* attribute) {
  void* data = nullptr;
  uint32_t size = 0;
  std::vector<uint8_t> bytes;
  if (entry.MapVarySizeDataFromDir(attribute, data, size) == 0 && data != nullptr) {
    bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  }
  if (data != nullptr) entry.FreeUserMemory(data);
  return bytes;
}

}  // namespace

std::vector<uint8_t> EncodePrivileges(const std::vector<uint32_t>& privileges) {
  std::vector<uint8_t> out;
  out.reserve(privileges.size() * 4);
  for (uint32_t p : privileges) Put32(out, p);
  return out;
}

std::optional<std::vector<uint32_t>> DecodePrivileges(const std::vector<uint8_t>& bytes) {
  if (bytes.size() % 4 != 0) return std::nullopt;
  Bytes in(bytes);
  std::vector<uint32_t> privileges(bytes.size() / 4);
  for (uint32_t& p : privileges) in.Get32(&p);
  return privileges;
}

std::vector<uint8_t> EncodeFolders(const std::vector<FolderGrant>& folders) {
  std::vector<uint8_t> out;
  Put32(out, static_cast<uint32_t>(folders.size()));
  for (const FolderGrant& folder : folders) {
    Put64(out, folder.folder);
    Put32(out, static_cast<uint32_t>(folder.tasks.size()));
    for (uint32_t task : folder.tasks) Put32(out, task);
  }
  return out;
}

std::optional<std::vector<FolderGrant>> DecodeFolders(const std::vector<uint8_t>& bytes) {
  std::vector<FolderGrant> folders;
  if (bytes.empty()) return folders;  // never written: no folders
  Bytes in(bytes);
  uint32_t count = 0;
  if (!in.Get32(&count) || count > in.remaining() / 12) return std::nullopt;
  folders.resize(count);
  for (FolderGrant& folder : folders) {
    uint32_t tasks = 0;
    if (!in.Get64(&folder.folder) || !in.Get32(&tasks) || tasks > in.remaining() / 4) {
      return std::nullopt;
    }
    folder.tasks.resize(tasks);
    for (uint32_t& task : folder.tasks) in.Get32(&task);
  }
  if (in.remaining() != 0) return std::nullopt;
  return folders;
}

ZELString AdministratorDN(const Account& account) {
  ZELString dn;
  dn.appendDistinguishedName(ZELString::FromUtf8("acct:" + account.Text()));
  return dn;
}

int32_t AdministratorEntry::DataMapHandler(uint8_t direction) {
  if (direction == 1) {
    SetText(*this, u"authority", admin.account.authority);
    SetText(*this, kAccountNameAttribute, admin.account.name);
    SetText(*this, u"displayName", admin.displayName);
    SetUInt32(*this, u"attribute1", admin.attribute1);
    SetUInt32(*this, u"attribute2", admin.attribute2);
    SetBytes(*this, u"privileges", EncodePrivileges(admin.privileges));
    SetBytes(*this, u"folders", EncodeFolders(admin.folders));
    SetText(*this, u"contact1", admin.contact.contact1);
    SetText(*this, u"contact2", admin.contact.contact2);
    SetText(*this, u"contact3", admin.contact.contact3);
    SetText(*this, u"credential", std::u16string(ZELString::FromUtf8(admin.credential).view()));
    return 0;
  }
  admin.uid = GetUID();
  admin.account.authority = GetText(*this, u"authority");
  admin.account.name = GetText(*this, kAccountNameAttribute);
  admin.displayName = GetText(*this, u"displayName");
  MapFixSizeDataFromDir(u"attribute1", &admin.attribute1, sizeof admin.attribute1);
  MapFixSizeDataFromDir(u"attribute2", &admin.attribute2, sizeof admin.attribute2);
  auto privileges = DecodePrivileges(GetBytes(*this, u"privileges"));
  auto folders = DecodeFolders(GetBytes(*this, u"folders"));
  damaged = !privileges || !folders;
  admin.privileges = privileges.value_or(std::vector<uint32_t>{});
  admin.folders = folders.value_or(std::vector<FolderGrant>{});
  admin.contact.contact1 = GetText(*this, u"contact1");
  admin.contact.contact2 = GetText(*this, u"contact2");
  admin.contact.contact3 = GetText(*this, u"contact3");
  admin.credential = ZELString(std::u16string_view(GetText(*this, u"credential"))).toUtf8();
  return 0;
}

DefaultUserEntry::DefaultUserEntry(ZEL_DIR_ServiceInterface* service, uint32_t context)
    : ZEL_DIR_Entry(service, ZELString(u"settings/default-user"), context, kDefaultUserClass, 0) {}

int32_t DefaultUserEntry::DataMapHandler(uint8_t direction) {
  if (direction == 1) {
    SetText(*this, u"first", user.first);
    SetText(*this, u"second", user.second);
    DeleteAllValues(u"option");
    AddValue(u"option", u"uint8", kUInt8Code, &user.option, 1);
    return 0;
  }
  user.first = GetText(*this, u"first");
  user.second = GetText(*this, u"second");
  MapFixSizeDataFromDir(u"option", &user.option, 1);
  return 0;
}

}  // namespace zel::subsystem
