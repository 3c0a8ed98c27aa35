// The console tree: the library's object registry for reading and writing nodes, with the node
// operations' notifications for every change, and the notifications themselves for `watch`.
#include <csignal>
#include <iostream>
#include <random>
#include <thread>

#include "commands.h"
#include "zel/admintool/zel_admintoolobject.h"
#include "zel/protocol/events.h"

namespace zeladmin {
namespace {

using nlohmann::json;

std::string Utf8(const char16_t* text) { return ZELString(text).toUtf8(); }

// A node named by its DN: the parent DN and the last component.
std::unique_ptr<ZEL_AdminToolObject> NodeAt(const std::string& dn) {
  const ZELString full = ZELString::FromUtf8(dn);
  const ZELString parent = full.parentDistinguishedName();
  const ZELString name = full.lastDistinguishedNameComponent();
  return std::make_unique<ZEL_AdminToolObject>(parent.getName(), name.getName());
}

json NodeJson(const ZEL_AdminToolObject& node) {
  return {{"dn", Utf8(node.getDN())},       {"name", Utf8(node.getName())},
          {"title", Utf8(node.getTitle())}, {"flags", node.getFlags()},
          {"ssid", node.getSSID()},         {"icon", Hex(node.getIcon())},
          {"uid", Hex(node.getUID())}};
}

// Reads the children of `group` (and theirs, `depth` levels in all; 0: no limit) into it.
int32_t ReadTree(Command& c, ZEL_AdminToolObject* group, int depth) {
  const int32_t result = c.farm.Sal().ReadGroupFromDirectory(group);
  if (result < 0 || depth == 1) return result;
  for (ZEL_AdminToolObject* child = group->getChild(); child != nullptr;
       child = child->getSibling()) {
    const int32_t deeper = ReadTree(c, child, depth == 0 ? 0 : depth - 1);
    if (deeper < 0) return deeper;
  }
  return 0;
}

// Children in name order, so that listings do not depend on the library's link order.
std::vector<ZEL_AdminToolObject*> SortedChildren(const ZEL_AdminToolObject& group) {
  std::vector<ZEL_AdminToolObject*> out;
  for (ZEL_AdminToolObject* child = group.getChild(); child != nullptr;
       child = child->getSibling()) {
    out.push_back(child);
  }
  std::sort(out.begin(), out.end(), [](const ZEL_AdminToolObject* a, const ZEL_AdminToolObject* b) {
    return std::u16string_view(a->getName()) < std::u16string_view(b->getName());
  });
  return out;
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

// Frees the nodes below `group` (the library leaves deeper levels to the caller).
void FreeTree(ZEL_AdminToolObject* group) {
  for (ZEL_AdminToolObject* child = group->getChild(); child != nullptr;
       child = child->getSibling()) {
    FreeTree(child);
  }
  group->deleteChildren();
}

int32_t IconUID(Command& c, const std::string& name, uint64_t* uid) {
  return FindIconUID(c, name, uid);
}

// Steps of a long change, for the progress bar (a terminal only).
struct Steps {
  const char* what;
  std::size_t total;
  std::size_t done = 0;
  void Step() { Progress(what, ++done, total); }
};

std::size_t CountSubtree(const ZEL_AdminToolObject& node) {
  std::size_t count = 1;
  for (const ZEL_AdminToolObject* child = node.getChild(); child != nullptr;
       child = child->getSibling()) {
    count += CountSubtree(*child);
  }
  return count;
}

// Copies `from` and its subtree below `toParentDN`, parents first, each announced.
int32_t CopySubtree(Command& c, const ZEL_AdminToolObject& from, const ZELString& toParentDN,
                    Steps& steps) {
  ZEL_AdminToolObject copy(toParentDN.getName(), from.getName());
  copy.setTitle(from.getTitle());
  copy.setFlags(from.getFlags());
  copy.setSSID(from.getSSID());
  copy.setIcon(from.getIcon());
  copy.setUID(from.getUID());
  int32_t result = c.farm.Sal().RegisterObject(copy, true);
  steps.Step();
  const ZELString dn(copy.getDN());
  for (ZEL_AdminToolObject* child = from.getChild(); result >= 0 && child != nullptr;
       child = child->getSibling()) {
    result = CopySubtree(c, *child, dn, steps);
  }
  return result;
}

// Deletes `node`'s subtree, children first, each announced.
int32_t DeleteSubtree(Command& c, ZEL_AdminToolObject& node, Steps& steps) {
  for (ZEL_AdminToolObject* child = node.getChild(); child != nullptr;
       child = child->getSibling()) {
    const int32_t result = DeleteSubtree(c, *child, steps);
    if (result < 0) return result;
  }
  const int32_t result = c.farm.Sal().DeleteObject(node);
  steps.Step();
  return result;
}

void Flatten(const ZEL_AdminToolObject& group, std::vector<TreeNode>* nodes) {
  for (const ZEL_AdminToolObject* child : SortedChildren(group)) {
    nodes->push_back(
        {Utf8(child->getDN()), Utf8(child->getTitle()), child->getIcon(), child->getUID()});
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
  // A node's UID is its own: 63 random bits (the top one clear, never the no-UID value).
  std::random_device random;
  node->setUID(((static_cast<uint64_t>(random()) << 32) | random()) & 0x7FFFFFFFFFFFFFFFull);
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
  int32_t result = c.farm.Sal().RegisterObject(*node, false);
  if (result >= 0) {
    ZELString parent(node->getParentDN());
    ZELString name(node->getName());
    result = c.farm.Sal().ChangeNodeAttr(parent, name, *node);
  }
  if (result < 0) return -Fail({"changing node " + dn, result, ""});
  return 1;
}

int TreeRm(Command& c, const std::string& dn) {
  auto node = NodeAt(dn);
  int32_t result = c.farm.Sal().GetObjectW(*node);
  if (result >= 0) result = ReadTree(c, node.get(), 0);
  if (result >= 0) {
    Steps steps{"remove", CountSubtree(*node)};
    result = DeleteSubtree(c, *node, steps);
  }
  FreeTree(node.get());
  if (result < 0) return Fail({"removing node " + dn, result, ""});
  if (c.out.json) std::cout << json{{"removed", dn}}.dump() << '\n';
  return kExitOk;
}

int TreeMv(Command& c, const std::string& dn, const std::string& newParent) {
  auto node = NodeAt(dn);
  int32_t result = c.farm.Sal().GetObjectW(*node);
  if (result >= 0) result = ReadTree(c, node.get(), 0);
  // The copy first, then the old place: stopped half way, the node is in both places and
  // nothing is lost; running the move again finishes it.
  Steps steps{"move", result >= 0 ? 2 * CountSubtree(*node) : 0};
  if (result >= 0) result = CopySubtree(c, *node, ZELString::FromUtf8(newParent), steps);
  if (result >= 0) result = DeleteSubtree(c, *node, steps);
  std::string newDN =
      ZELString::FromUtf8(newParent).appendDistinguishedName(ZELString(node->getName())).toUtf8();
  if (newParent.empty()) newDN = Utf8(node->getName());
  FreeTree(node.get());
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
  result = c.farm.Sal().RegisterObject(*node, false);
  if (result >= 0) {
    ZELString parent(node->getParentDN());
    ZELString name(node->getName());
    result = c.farm.Sal().ChangeNodeAttr(parent, name, *node);
  }
  if (result < 0) return Fail({"changing node " + dn, result, ""});
  if (c.out.json) std::cout << NodeJson(*node).dump() << '\n';
  return kExitOk;
}

}  // namespace zeladmin
