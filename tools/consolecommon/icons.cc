#include "zel/console/icons.h"

#include <cstring>
#include <map>

#include "zel/admintool/zel_admintoolobject.h"
#include "zel/directory/entry.h"
#include "zel/directory/service.h"
#include "zel/iconpng/icon_png.h"
#include "zel/runtime/alloc.h"

namespace zel::console {
namespace {

constexpr int32_t kNoSuchEntry = static_cast<int32_t>(0x8006000Du);
constexpr int32_t kInvalidArgument = static_cast<int32_t>(0x80010005u);
constexpr int32_t kNoMemory = static_cast<int32_t>(0x80010001u);
constexpr int32_t kUnexpected = static_cast<int32_t>(0x80000001u);

}  // namespace

int32_t ListIcons(ZEL_PIF_ISubSystem& host, std::vector<StoredIcon>* icons) {
  ZEL_PS_LDAPSAL directory(host);
  uint32_t context = 0;
  int32_t result = directory.BindLDAP(ZELString(u"&AdminToolIconContext"), context);
  if (result < 0) return result;
  ZEL_DIR_SearchHelper search(&directory, ZEL_DIR_SearchHelper::kSubtree, ZELString(), context,
                              ZELString(), ZELString(u"*"));
  uint32_t count = 0;
  result = search.Search(count);
  if (result < 0) return result;
  std::map<std::string, uint64_t> uidOfDN;
  std::vector<std::pair<std::string, std::string>> names;  // (parent DN, component)
  ZELString name;
  ZEL_DIR_BaseEntry entry(&directory, ZELString(), context);
  for (int32_t at = search.GetFirstEntry(name, entry); at >= 0;
       at = search.GetNextEntry(name, entry)) {
    const ZELString& dn = entry.GetDN();
    uidOfDN[dn.toUtf8()] = entry.GetUID();
    const ZELString parent = dn.parentDistinguishedName();
    if (!parent.toUtf8().empty()) names.emplace_back(parent.toUtf8(), name.toUtf8());
  }
  for (const auto& [parent, component] : names) {
    const auto icon = uidOfDN.find(parent);
    if (icon == uidOfDN.end() || component.size() < 4) continue;
    const auto ssid = std::strtoul(component.substr(0, 4).c_str(), nullptr, 16);
    icons->push_back({component.substr(4), static_cast<uint16_t>(ssid), icon->second});
  }
  return 0;
}

int32_t FindIcon(ZEL_PIF_ISubSystem& host, const std::string& name, StoredIcon* icon) {
  std::vector<StoredIcon> icons;
  const int32_t result = ListIcons(host, &icons);
  if (result < 0) return result;
  for (const StoredIcon& stored : icons) {
    if (stored.name != name) continue;
    *icon = stored;
    return 0;
  }
  return kNoSuchEntry;
}

int32_t IconPng(ZEL_AdminToolSAL6& sal, uint64_t uid, std::vector<uint8_t>* png) {
  ZEL_AdminToolIcon icon(uid);
  const int32_t result = sal.GetIconByUID(icon);
  if (result < 0) return result;
  std::string error;
  if (!zel::iconpng::IconToPng(icon.getData(), static_cast<std::size_t>(icon.getSize()), png,
                               &error)) {
    return kUnexpected;
  }
  return 0;
}

int32_t AddIconPng(ZEL_AdminToolSAL6& sal, const std::string& name, const std::vector<uint8_t>& png,
                   uint64_t* uid, std::string* error) {
  std::vector<uint8_t> bits;
  if (!zel::iconpng::PngToIcon(png.data(), png.size(), zel::iconpng::Colours::kNearest, &bits,
                               error)) {
    return kInvalidArgument;
  }
  // The icon owns its bits: they are the library's allocation, freed with the icon.
  void* block = nullptr;
  if (ZEL_BUF_Allocate_Debug(static_cast<uint32_t>(bits.size()), &block, ZEL_AdminToolIcon::kTag,
                             __LINE__) < 0) {
    return kNoMemory;
  }
  std::memcpy(block, bits.data(), bits.size());
  const ZELString text = ZELString::FromUtf8(name);
  ZEL_AdminToolIcon icon(0, text.getName(), 0, static_cast<int32_t>(bits.size()),
                         static_cast<uint8_t*>(block));
  const int32_t result = sal.RegisterIcon(icon);
  if (result >= 0) *uid = icon.getUID();
  return result;
}

int32_t RemoveIcon(ZEL_AdminToolSAL6& sal, const StoredIcon& icon) {
  // DeleteIcon removes the name entry by the icon's SSID and name.
  const ZELString text = ZELString::FromUtf8(icon.name);
  ZEL_AdminToolIcon named(icon.ssid, text.getName());
  named.setUID(icon.uid);
  return sal.DeleteIcon(named);
}

}  // namespace zel::console
