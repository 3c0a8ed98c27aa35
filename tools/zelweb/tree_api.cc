// The console tree: children of a node, a node's properties, and the changes (each through the
// library's registry, so the farm announces it to every console).
#include "api.h"
#include "zel/console/icons.h"
#include "zel/console/tree.h"

namespace zelweb {
namespace {

using nlohmann::json;
using zel::console::HexUID;
using zel::console::Utf8;

json NodeJson(const ZEL_AdminToolObject& node) {
  return {{"dn", Utf8(node.getDN())},       {"name", Utf8(node.getName())},
          {"title", Utf8(node.getTitle())}, {"flags", node.getFlags()},
          {"ssid", node.getSSID()},         {"icon", HexUID(node.getIcon())},
          {"uid", HexUID(node.getUID())}};
}

// A node's name: no separator, not empty.
bool ValidName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && ValidDN(name);
}

bool Exists(ZEL_AdminToolSAL6& sal, const std::string& dn) {
  auto node = zel::console::NodeAt(dn);
  return sal.GetObjectW(*node) >= 0;
}

std::string Joined(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "/" + name;
}

// The registry answers a plain failure (0x80000001) for a node that is not there; every call
// below starts by reading its node, so that failure means "not found" here.
Reply NodeFailure(const Request& request, const std::string& doing, int32_t code) {
  if (static_cast<uint32_t>(code) == 0x80000001u) {
    return ErrorReply(request, http::status::not_found, doing + ": no such node");
  }
  return FarmErrorReply(request, doing, code);
}

}  // namespace

Reply Api::TreeChildren(Call& call) {
  const std::string dn = call.query["dn"];
  if (!ValidDN(dn)) return ErrorReply(call.request, http::status::bad_request, "not a DN");
  ZEL_AdminToolObject group(ZELString::FromUtf8(dn).getName());
  json children = json::array();
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    // Two levels: the children, and whether each has children of its own.
    result = zel::console::ReadTree(*call.session.seat->sal, &group, 2);
    if (result >= 0) {
      for (const ZEL_AdminToolObject* child : zel::console::SortedChildren(group)) {
        json item = NodeJson(*child);
        item["hasChildren"] = child->getChild() != nullptr;
        children.push_back(std::move(item));
      }
    }
    zel::console::FreeTree(&group);
  }
  if (result < 0) return FarmErrorReply(call.request, "reading the tree below " + dn, result);
  return JsonReply(call.request, http::status::ok, json{{"dn", dn}, {"children", children}});
}

Reply Api::TreeNode(Call& call) {
  const std::string dn = call.query["dn"];
  if (dn.empty() || !ValidDN(dn)) {
    return ErrorReply(call.request, http::status::bad_request, "not a node's DN");
  }
  auto node = zel::console::NodeAt(dn);
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    result = call.session.seat->sal->GetObjectW(*node);
  }
  if (result < 0) return NodeFailure(call.request, "reading node " + dn, result);
  return JsonReply(call.request, http::status::ok, NodeJson(*node));
}

Reply Api::TreeAdd(Call& call) {
  std::string parent, name, title, icon;
  if (!TextField(call.body, "parent", 1024, &parent) || !ValidDN(parent) ||
      !TextField(call.body, "name", 256, &name) || !ValidName(name)) {
    return ErrorReply(call.request, http::status::bad_request,
                      "a parent DN and a name are expected");
  }
  if ((call.body.contains("title") && !TextField(call.body, "title", 256, &title)) ||
      (call.body.contains("icon") && !TextField(call.body, "icon", 256, &icon))) {
    return ErrorReply(call.request, http::status::bad_request, "a title or icon that is not text");
  }
  const std::string dn = Joined(parent, name);
  auto node = zel::console::NodeAt(dn);
  node->setTitle(ZELString::FromUtf8(title.empty() ? name : title).getName());
  node->setUID(zel::console::NewNodeUID());
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    ZEL_AdminToolSAL6& sal = *call.session.seat->sal;
    // A node that is there already is not added twice.
    if (Exists(sal, dn)) {
      return ErrorReply(call.request, http::status::conflict, "node " + dn + " exists");
    }
    if (!icon.empty()) {
      zel::console::StoredIcon stored;
      result = zel::console::FindIcon(*call.session.seat->host, icon, &stored);
      node->setIcon(stored.uid);
    }
    if (result >= 0) result = sal.RegisterObject(*node, true);
  }
  if (result < 0) return FarmErrorReply(call.request, "adding node " + dn, result);
  return JsonReply(call.request, http::status::ok, NodeJson(*node));
}

Reply Api::TreeSet(Call& call) {
  std::string dn, title, icon;
  if (!TextField(call.body, "dn", 1024, &dn) || dn.empty() || !ValidDN(dn)) {
    return ErrorReply(call.request, http::status::bad_request, "a node's DN is expected");
  }
  const bool setTitle = call.body.contains("title"), setIcon = call.body.contains("icon");
  if ((setTitle && !TextField(call.body, "title", 256, &title)) ||
      (setIcon && !TextField(call.body, "icon", 256, &icon))) {
    return ErrorReply(call.request, http::status::bad_request, "a title or icon that is not text");
  }
  auto node = zel::console::NodeAt(dn);
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    ZEL_AdminToolSAL6& sal = *call.session.seat->sal;
    result = sal.GetObjectW(*node);
    if (result >= 0 && setTitle) node->setTitle(ZELString::FromUtf8(title).getName());
    if (result >= 0 && setIcon) {
      zel::console::StoredIcon stored;  // "" takes the icon away
      if (!icon.empty()) result = zel::console::FindIcon(*call.session.seat->host, icon, &stored);
      node->setIcon(stored.uid);
    }
    if (result >= 0) result = zel::console::ChangeNode(sal, *node);
  }
  if (result < 0) return NodeFailure(call.request, "changing node " + dn, result);
  return JsonReply(call.request, http::status::ok, NodeJson(*node));
}

Reply Api::TreeRename(Call& call) {
  std::string dn, name;
  if (!TextField(call.body, "dn", 1024, &dn) || dn.empty() || !ValidDN(dn) ||
      !TextField(call.body, "name", 256, &name) || !ValidName(name)) {
    return ErrorReply(call.request, http::status::bad_request,
                      "a node's DN and a name are expected");
  }
  std::string newDN;
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    const std::string parent = ZELString::FromUtf8(dn).parentDistinguishedName().toUtf8();
    if (Exists(*call.session.seat->sal, Joined(parent, name))) {
      return ErrorReply(call.request, http::status::conflict,
                        "node " + Joined(parent, name) + " exists");
    }
    result = zel::console::MoveSubtree(*call.session.seat->sal, dn, parent, &newDN, name);
  }
  if (result < 0) return NodeFailure(call.request, "renaming node " + dn, result);
  return JsonReply(call.request, http::status::ok, json{{"from", dn}, {"to", newDN}});
}

Reply Api::TreeMove(Call& call) {
  std::string dn, parent;
  if (!TextField(call.body, "dn", 1024, &dn) || dn.empty() || !ValidDN(dn) ||
      !TextField(call.body, "parent", 1024, &parent) || !ValidDN(parent)) {
    return ErrorReply(call.request, http::status::bad_request,
                      "a node's DN and a parent are expected");
  }
  if (parent == dn || parent.rfind(dn + "/", 0) == 0) {
    return ErrorReply(call.request, http::status::bad_request, "a node cannot move below itself");
  }
  std::string newDN;
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    const std::string target =
        Joined(parent, ZELString::FromUtf8(dn).lastDistinguishedNameComponent().toUtf8());
    if (Exists(*call.session.seat->sal, target)) {
      return ErrorReply(call.request, http::status::conflict, "node " + target + " exists");
    }
    result = zel::console::MoveSubtree(*call.session.seat->sal, dn, parent, &newDN);
  }
  if (result < 0) return NodeFailure(call.request, "moving node " + dn, result);
  return JsonReply(call.request, http::status::ok, json{{"from", dn}, {"to", newDN}});
}

Reply Api::TreeDelete(Call& call) {
  std::string dn;
  if (!TextField(call.body, "dn", 1024, &dn) || dn.empty() || !ValidDN(dn)) {
    return ErrorReply(call.request, http::status::bad_request, "a node's DN is expected");
  }
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    result = zel::console::RemoveSubtree(*call.session.seat->sal, dn);
  }
  if (result < 0) return NodeFailure(call.request, "removing node " + dn, result);
  return JsonReply(call.request, http::status::ok, json{{"removed", dn}});
}

}  // namespace zelweb
