// Icons: the library's icon registry, the bits converted to and from PNG files.
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>

#include "commands.h"
#include "zel/admintool/zel_admintoolobject.h"
#include "zel/directory/entry.h"
#include "zel/directory/service.h"
#include "zel/iconpng/icon_png.h"
#include "zel/runtime/alloc.h"

namespace zeladmin {
namespace {

using nlohmann::json;

constexpr int32_t kBadFile = static_cast<int32_t>(0x80010005u);  // kInvalidArgument
constexpr int32_t kNoSuchContext = static_cast<int32_t>(0x80030003u);

// The icon named `name` with its bits, read by its entry's UID.
int32_t FindIcon(Command& c, const std::string& name, std::unique_ptr<ZEL_AdminToolIcon>* out,
                 StoredIcon* found = nullptr) {
  std::vector<StoredIcon> icons;
  int32_t result = ListIcons(c, &icons);
  if (result < 0) return result;
  for (const StoredIcon& stored : icons) {
    if (stored.name != name) continue;
    auto icon = std::make_unique<ZEL_AdminToolIcon>(stored.uid);
    result = c.farm.Sal().GetIconByUID(*icon);
    if (result >= 0) *out = std::move(icon);
    if (found != nullptr) *found = stored;
    return result;
  }
  return static_cast<int32_t>(0x8006000Du);  // no such entry
}

}  // namespace

// Every icon's name: the registry keeps each icon as an entry with its bits and, below it, one
// name entry per name ("%04x" of the SSID, then the name). Found by a search of the icon
// context through the farm: store.
int32_t ListIcons(Command& c, std::vector<StoredIcon>* icons) {
  ZEL_PS_LDAPSAL directory(c.farm.Host());
  uint32_t context = 0;
  int32_t result = directory.BindLDAP(ZELString(u"&AdminToolIconContext"), context);
  // A farm where no icon was ever registered has no icon context yet.
  if (result == kNoSuchContext) return 0;
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
    StoredIcon stored;
    stored.ssid = static_cast<uint16_t>(std::stoul(component.substr(0, 4), nullptr, 16));
    stored.name = component.substr(4);
    stored.uid = icon->second;
    icons->push_back(stored);
  }
  return 0;
}

int32_t IconPng(Command& c, uint64_t uid, std::vector<uint8_t>* png) {
  ZEL_AdminToolIcon icon(uid);
  const int32_t result = c.farm.Sal().GetIconByUID(icon);
  if (result < 0) return result;
  std::string error;
  if (!zel::iconpng::IconToPng(icon.getData(), static_cast<std::size_t>(icon.getSize()), png,
                               &error)) {
    return static_cast<int32_t>(0x80000001u);
  }
  return 0;
}

int IconsAdd(Command& c, const std::string& name, const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return Fail({"reading " + file, kBadFile, "cannot open it"});
  const std::vector<uint8_t> png((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
  std::vector<uint8_t> bits;
  std::string error;
  if (!zel::iconpng::PngToIcon(png.data(), png.size(), zel::iconpng::Colours::kNearest, &bits,
                               &error)) {
    return Fail({"reading " + file, kBadFile, error});
  }
  void* block = nullptr;
  if (ZEL_BUF_Allocate_Debug(static_cast<uint32_t>(bits.size()), &block, ZEL_AdminToolIcon::kTag,
                             __LINE__) < 0) {
    return Fail({"adding icon " + name, static_cast<int32_t>(0x80010001u), ""});
  }
  std::memcpy(block, bits.data(), bits.size());
  const ZELString text = ZELString::FromUtf8(name);
  ZEL_AdminToolIcon icon(0, text.getName(), 0, static_cast<int32_t>(bits.size()),
                         static_cast<uint8_t*>(block));
  const int32_t result = c.farm.Sal().RegisterIcon(icon);
  if (result < 0) return Fail({"adding icon " + name, result, ""});
  char uid[24];
  std::snprintf(uid, sizeof uid, "0x%016llx", static_cast<unsigned long long>(icon.getUID()));
  if (c.out.json) {
    std::cout << json{{"name", name}, {"uid", uid}, {"crc", icon.getCRC()}}.dump() << '\n';
  } else if (!c.out.quiet) {
    std::cout << "icon " << name << " (" << uid << ")\n";
  }
  return kExitOk;
}

int IconsExport(Command& c, const std::string& name, const std::string& file) {
  std::unique_ptr<ZEL_AdminToolIcon> icon;
  const int32_t result = FindIcon(c, name, &icon);
  if (result < 0) return Fail({"reading icon " + name, result, ""});
  std::vector<uint8_t> png;
  std::string error;
  if (!zel::iconpng::IconToPng(icon->getData(), static_cast<std::size_t>(icon->getSize()), &png,
                               &error)) {
    return Fail({"converting icon " + name, static_cast<int32_t>(0x80000001u), error});
  }
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  if (!out) return Fail({"writing " + file, kBadFile, "cannot write it"});
  if (c.out.json) {
    std::cout << json{{"name", name}, {"file", file}, {"bytes", png.size()}}.dump() << '\n';
  }
  return kExitOk;
}

int IconsRemove(Command& c, const std::string& name) {
  std::unique_ptr<ZEL_AdminToolIcon> icon;
  StoredIcon found;
  int32_t result = FindIcon(c, name, &icon, &found);
  if (result >= 0) {
    // DeleteIcon removes the name entry by the icon's SSID and name.
    const ZELString text = ZELString::FromUtf8(name);
    ZEL_AdminToolIcon named(found.ssid, text.getName());
    named.setUID(found.uid);
    result = c.farm.Sal().DeleteIcon(named);
  }
  if (result < 0) return Fail({"removing icon " + name, result, ""});
  if (c.out.json) std::cout << json{{"removed", name}}.dump() << '\n';
  return kExitOk;
}

int32_t FindIconUID(Command& c, const std::string& name, uint64_t* uid) {
  std::vector<StoredIcon> icons;
  const int32_t result = ListIcons(c, &icons);
  if (result < 0) return result;
  for (const StoredIcon& icon : icons) {
    if (icon.name != name) continue;
    *uid = icon.uid;
    return 0;
  }
  return static_cast<int32_t>(0x8006000Du);  // no such entry
}

bool IconExists(Command& c, const std::string& name) {
  std::vector<StoredIcon> icons;
  if (ListIcons(c, &icons) < 0) return false;
  for (const StoredIcon& icon : icons) {
    if (icon.name == name) return true;
  }
  return false;
}

int IconsList(Command& c) {
  std::vector<StoredIcon> icons;
  const int32_t result = ListIcons(c, &icons);
  if (result < 0) return Fail({"listing the icons", result, ""});
  std::sort(icons.begin(), icons.end(),
            [](const StoredIcon& a, const StoredIcon& b) { return a.name < b.name; });
  json list = json::array();
  std::vector<std::vector<std::string>> rows;
  for (const StoredIcon& icon : icons) {
    char uid[24];
    std::snprintf(uid, sizeof uid, "0x%016llx", static_cast<unsigned long long>(icon.uid));
    list.push_back({{"name", icon.name}, {"ssid", icon.ssid}, {"uid", uid}});
    rows.push_back({icon.name, std::to_string(icon.ssid), uid});
  }
  if (c.out.json) {
    std::cout << json{{"icons", list}}.dump() << '\n';
  } else {
    PrintTable({"NAME", "SSID", "UID"}, rows);
  }
  return kExitOk;
}

}  // namespace zeladmin
