// Icons: the library's icon registry, the bits converted to and from PNG files.
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "commands.h"
#include "zel/admintool/zel_admintoolobject.h"
#include "zel/console/icons.h"
#include "zel/iconpng/icon_png.h"

namespace zeladmin {
namespace {

using nlohmann::json;

int Fail(const Failure& failure) {
  std::cerr << "zeladmin: " << ErrorLine(failure) << '\n';
  return ExitStatus(failure);
}

constexpr int32_t kBadFile = static_cast<int32_t>(0x80010005u);  // kInvalidArgument

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

// Every icon's name (zel/console/icons.h says where the names are kept).
int32_t ListIcons(Command& c, std::vector<StoredIcon>* icons) {
  std::vector<zel::console::StoredIcon> found;
  const int32_t result = zel::console::ListIcons(c.farm.Host(), &found);
  for (const auto& icon : found) icons->push_back({icon.name, icon.ssid, icon.uid});
  return result;
}

int32_t IconPng(Command& c, uint64_t uid, std::vector<uint8_t>* png) {
  return zel::console::IconPng(c.farm.Sal(), uid, png);
}

int IconsAdd(Command& c, const std::string& name, const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return Fail({"reading " + file, kBadFile, "cannot open it"});
  const std::vector<uint8_t> png((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
  std::string error;
  uint64_t added = 0;
  const int32_t result = zel::console::AddIconPng(c.farm.Sal(), name, png, &added, &error);
  if (result < 0 && !error.empty()) return Fail({"reading " + file, kBadFile, error});
  if (result < 0) return Fail({"adding icon " + name, result, ""});
  ZEL_AdminToolIcon icon(added);
  if (c.farm.Sal().GetIconByUID(icon) < 0) icon.setUID(added);
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
