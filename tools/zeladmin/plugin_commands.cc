// Plug-in records: names in the library's plug-in registry. The registry has no listing, so
// `plugins ls` reads the plug-in context with a search through the farm: store, as `icons ls`
// reads the icon context. The library keeps a plug-in record once written (its delete does
// nothing), so there is no `plugins rm`.
#include <algorithm>
#include <iostream>

#include "commands.h"
#include "zel/admintool/zel_admintoolobject.h"
#include "zel/directory/entry.h"
#include "zel/directory/service.h"

namespace zeladmin {
namespace {

using nlohmann::json;

constexpr int32_t kNoSuchEntry = static_cast<int32_t>(0x8006000Du);
constexpr int32_t kNoSuchContext = static_cast<int32_t>(0x80030003u);

}  // namespace

int32_t ListPlugins(Command& c, std::vector<std::string>* names) {
  ZEL_PS_LDAPSAL directory(c.farm.Host());
  uint32_t context = 0;
  int32_t result = directory.BindLDAP(ZELString(u"&AdminToolPluginContext"), context);
  // A farm where no plug-in was ever registered has no plug-in context yet.
  if (result == kNoSuchContext || result == kNoSuchEntry) return 0;
  if (result < 0) return result;
  ZEL_DIR_SearchHelper search(&directory, ZEL_DIR_SearchHelper::kOneLevel, ZELString(), context,
                              ZELString(), ZELString(u"*"));
  uint32_t count = 0;
  result = search.Search(count);
  if (result < 0) return result;
  ZELString name;
  ZEL_DIR_BaseEntry entry(&directory, ZELString(), context);
  for (int32_t at = search.GetFirstEntry(name, entry); at >= 0;
       at = search.GetNextEntry(name, entry)) {
    names->push_back(name.toUtf8());
  }
  std::sort(names->begin(), names->end());
  return 0;
}

int PluginsAdd(Command& c, const std::string& name) {
  if (name.empty()) return Usage("a plug-in record needs a name");
  ZEL_AdminToolPlugin plugin;
  const ZELString text = ZELString::FromUtf8(name);
  plugin.setName(text.getName());
  const int32_t result = c.farm.Sal().RegisterPlugin(plugin);
  if (result < 0) return Fail({"adding plug-in " + name, result, ""});
  if (c.out.json) {
    std::cout << json{{"name", name}}.dump() << '\n';
  } else if (!c.out.quiet) {
    std::cout << "plug-in " << name << '\n';
  }
  return kExitOk;
}

int PluginsShow(Command& c, const std::string& name) {
  ZEL_AdminToolPlugin plugin;
  const ZELString text = ZELString::FromUtf8(name);
  plugin.setName(text.getName());
  // The registry answers a bare failure for a missing record: the listing tells the two apart.
  int32_t result = c.farm.Sal().GetPlugin(plugin);
  if (result < 0) {
    std::vector<std::string> names;
    if (ListPlugins(c, &names) >= 0 && std::find(names.begin(), names.end(), name) == names.end()) {
      result = kNoSuchEntry;
    }
  }
  if (result < 0) return Fail({"reading plug-in " + name, result, ""});
  const std::string stored = ZELString(plugin.getName()).toUtf8();
  if (c.out.json) {
    std::cout << json{{"name", stored}}.dump() << '\n';
  } else {
    PrintTable({"FIELD", "VALUE"}, {{"name", stored}});
  }
  return kExitOk;
}

int PluginsList(Command& c) {
  std::vector<std::string> names;
  const int32_t result = ListPlugins(c, &names);
  if (result < 0) return Fail({"listing the plug-ins", result, ""});
  if (c.out.json) {
    std::cout << json{{"plugins", names}}.dump() << '\n';
  } else {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& n : names) rows.push_back({n});
    PrintTable({"NAME"}, rows);
  }
  return kExitOk;
}

}  // namespace zeladmin
