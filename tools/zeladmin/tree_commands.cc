// The console tree: the library's object registry for reading and writing nodes, with the node
// operations' notifications for every change, and the notifications themselves for `watch`.
#include <csignal>
#include <iostream>
#include <thread>

#include "commands.h"
#include "zel/admintool/zel_admintoolobject.h"
#include "zel/console/tree.h"
#include "zel/protocol/events.h"

namespace zeladmin {
namespace {

using nlohmann::json;

int Fail(const Failure& failure) {
  std::cerr << "zeladmin: " << ErrorLine(failure) << '\n';
  return ExitStatus(failure);
}

int Usage(const std::string& message) {
  std::cerr << "zeladmin: " << message << '\n';
  return kExitUsage;
}

std::string Hex(uint64_t uid) { return zel::console::HexUID(uid); }
using zel::console::FreeTree;
using zel::console::NodeAt;
using zel::console::SortedChildren;
using zel::console::Utf8;

int32_t ReadTree(Command& c, ZEL_AdminToolObject* group, int depth) {
  return zel::console::ReadTree(c.farm.Sal(), group, depth);
}

json NodeJson(const ZEL_AdminToolObject& node) {
  return {{"dn", Utf8(node.getDN())},       {"name", Utf8(node.getName())},
          {"title", Utf8(node.getTitle())}, {"flags", node.getFlags()},
          {"ssid", node.getSSID()},         {"icon", Hex(node.getIcon())},
          {"uid", Hex(node.getUID())}};
}

json TreeJson(const ZEL_AdminToolObject& group) {
  json children = json::array();
  for (const ZEL_AdminToolObject* child : SortedChildren(group)) {
    json item = NodeJson(*child);
    item["children"] = TreeJson(*child);
    children.push_back(std::move(item));
  }
  return children;
}

void DrawTree(const ZEL_AdminToolObject& group, const std::string& indent) {
  const auto children = SortedChildren(group);
  for (std::size_t i = 0; i < children.size(); ++i) {
    const bool last = i + 1 == children.size();
    const ZEL_AdminToolObject& child = *children[i];
    std::string line = indent + (last ? "└── " : "├── ") + Utf8(child.getName());
    const std::string title = Utf8(child.getTitle());
    if (title != Utf8(child.getName())) line += "  \"" + title + "\"";
    std::cout << line << '\n';
    DrawTree(child, indent + (last ? "    " : "│   "));
  }
}

int32_t IconUID(Command& c, const std::string& name, uint64_t* uid) {
  return FindIconUID(c, name, uid);
}

void Flatten(const ZEL_AdminToolObject& group, std::vector<TreeNode>* nodes) {
  for (const ZEL_AdminToolObject* child : SortedChildren(group)) {
    nodes->push_back({Utf8(child->getDN()), Utf8(child->getTitle()), child->getIcon()});
    Flatten(*child, nodes);
  }
}

}  // namespace

int32_t ListTree(Command& c, std::vector<TreeNode>* nodes) {
  ZEL_AdminToolObject root(u"");
  const int32_t result = ReadTree(c, &root, 0);
  if (result >= 0) Flatten(root, nodes);
  FreeTree(&root);
  return result;
}

int TreeLs(Command& c, const std::string& dn, int depth) {
  ZEL_AdminToolObject root(ZELString::FromUtf8(dn).getName());
  const int32_t result = ReadTree(c, &root, depth);
  if (result < 0) {
    FreeTree(&root);
    return Fail({"reading the tree below \"" + dn + "\"", result, ""});
  }
  if (c.out.json) {
    std::cout << json{{"dn", dn}, {"children", TreeJson(root)}}.dump() << '\n';
  } else {
    std::cout << (dn.empty() ? "/" : dn) << '\n';
    DrawTree(root, "");
  }
  FreeTree(&root);
  return kExitOk;
}

int TreeShow(Command& c, const std::string& dn) {
  auto node = NodeAt(dn);
  const int32_t result = c.farm.Sal().GetObjectW(*node);
  if (result < 0) return Fail({"reading node " + dn, result, ""});
  const json item = NodeJson(*node);
  if (c.out.json) {
    std::cout << item.dump() << '\n';
    return kExitOk;
  }
  std::vector<std::vector<std::string>> rows;
  for (const char* key : {"dn", "title", "flags", "ssid", "icon", "uid"}) {
    rows.push_back({key, item[key].is_string() ? item[key].get<std::string>() : item[key].dump()});
  }
  PrintTable({"FIELD", "VALUE"}, rows);
  return kExitOk;
}

int TreeAdd(Command& c, const std::string& dn, const std::string& icon, const std::string& title) {
  if (dn.empty()) return Usage("a node needs a DN");
  auto node = NodeAt(dn);
  if (!title.empty()) node->setTitle(ZELString::FromUtf8(title).getName());
  if (!icon.empty()) {
    uint64_t iconUID = 0;
    const int32_t found = IconUID(c, icon, &iconUID);
    if (found < 0) return Fail({"finding icon " + icon, found, ""});
    node->setIcon(iconUID);
  }
  node->setUID(zel::console::NewNodeUID());
  const int32_t result = c.farm.Sal().RegisterObject(*node, true);
  if (result < 0) return Fail({"adding node " + dn, result, ""});
  if (c.out.json) {
    std::cout << NodeJson(*node).dump() << '\n';
  } else if (!c.out.quiet) {
    std::cout << "added " << dn << " (" << Hex(node->getUID()) << ")\n";
  }
  return kExitOk;
}

int TreeEnsure(Command& c, const std::string& dn, const std::string& icon,
               const std::string& title) {
  auto node = NodeAt(dn);
  const bool existed = c.farm.Sal().GetObjectW(*node) >= 0;
  const std::string wantTitle = title.empty() ? Utf8(node->getName()) : title;
  uint64_t iconUID = 0;
  if (!icon.empty()) {
    const int32_t found = IconUID(c, icon, &iconUID);
    if (found < 0) return -Fail({"finding icon " + icon, found, ""});
  }
  if (existed && Utf8(node->getTitle()) == wantTitle && node->getIcon() == iconUID) return 0;
  if (!existed) return TreeAdd(c, dn, icon, title) == kExitOk ? 1 : -kExitFailed;
  node->setTitle(ZELString::FromUtf8(wantTitle).getName());
  node->setIcon(iconUID);
  const int32_t result = zel::console::ChangeNode(c.farm.Sal(), *node);
  if (result < 0) return -Fail({"changing node " + dn, result, ""});
  return 1;
}

int TreeRm(Command& c, const std::string& dn) {
  const int32_t result = zel::console::RemoveSubtree(c.farm.Sal(), dn);
  if (result < 0) return Fail({"removing node " + dn, result, ""});
  if (c.out.json) std::cout << json{{"removed", dn}}.dump() << '\n';
  return kExitOk;
}

int TreeMv(Command& c, const std::string& dn, const std::string& newParent) {
  std::string newDN;
  const int32_t result = zel::console::MoveSubtree(c.farm.Sal(), dn, newParent, &newDN);
  if (result < 0) return Fail({"moving node " + dn + " below \"" + newParent + "\"", result, ""});
  if (c.out.json) {
    std::cout << json{{"from", dn}, {"to", newDN}}.dump() << '\n';
  } else if (!c.out.quiet) {
    std::cout << "moved " << dn << " to " << newDN << '\n';
  }
  return kExitOk;
}

int TreeSet(Command& c, const std::string& dn, const std::vector<std::string>& assignments) {
  auto node = NodeAt(dn);
  int32_t result = c.farm.Sal().GetObjectW(*node);
  if (result < 0) return Fail({"reading node " + dn, result, ""});
  for (const std::string& a : assignments) {
    const auto equals = a.find('=');
    if (equals == std::string::npos) return Usage("not FIELD=VALUE: " + a);
    const std::string field = a.substr(0, equals), value = a.substr(equals + 1);
    try {
      if (field == "title") {
        node->setTitle(ZELString::FromUtf8(value).getName());
      } else if (field == "flags") {
        node->setFlags(static_cast<int16_t>(std::stoi(value, nullptr, 0)));
      } else if (field == "ssid") {
        node->setSSID(static_cast<uint16_t>(std::stoul(value, nullptr, 0)));
      } else if (field == "icon") {
        uint64_t iconUID = 0;
        const int32_t found = IconUID(c, value, &iconUID);
        if (found < 0) return Fail({"finding icon " + value, found, ""});
        node->setIcon(iconUID);
      } else {
        return Usage("no field " + field + " (title, flags, ssid, icon)");
      }
    } catch (const std::exception&) {
      return Usage("not a number: " + a);
    }
  }
  result = zel::console::ChangeNode(c.farm.Sal(), *node);
  if (result < 0) return Fail({"changing node " + dn, result, ""});
  if (c.out.json) std::cout << NodeJson(*node).dump() << '\n';
  return kExitOk;
}

}  // namespace zeladmin
