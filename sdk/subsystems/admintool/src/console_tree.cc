#include "src/console_tree.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <random>
#include <utility>

#include "zel/admintool/zel_admintoolsal.h"
#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/directory/transaction.h"
#include "zel/protocol/events.h"
#include "zel/protocol/folders.h"
#include "zel/protocol/group_enumeration.h"
#include "zel/runtime/codes.h"
#include "zel/subsystem/codes.h"

namespace zel::subsystem {

namespace {

using namespace tree_code;
namespace ids = zel::protocol::event;

// The attribute of an object entry that holds the node's UID, which a search of the whole tree
// filters on (the registry maps it; searches compare its text form, 16 hex digits).
constexpr const char16_t* kObjectUID = u"ATTRIBUTE-AdminObjectUID";

constexpr uint64_t kNoUID = ~0ull;
constexpr uint64_t kRootUID = 0;
// The most nodes one notification or group reply counts (its count is an int16).
constexpr std::size_t kMaxNodesPerEvent = 32767;

// The host as the library's receiving-side helpers see it: they hand their reply to
// DeliverEvent, which keeps it here for the request handler to return; everything else is
// the subsystem's host.
class ReplyHost final : public ZEL_PIF_ISubSystem {
 public:
  explicit ReplyHost(ZEL_PIF_ISubSystem& host) : host_(host) {}
  ReplyHost(const ReplyHost&) = delete;
  ReplyHost& operator=(const ReplyHost&) = delete;
  ~ReplyHost() { delete reply_; }

  int32_t DeliverEvent(ZEL_BUF_EventBuffer* event, uint32_t) override {
    delete reply_;
    reply_ = event;
    return 0;
  }
  ZELString GetNeighborhoodName() override { return host_.GetNeighborhoodName(); }
  ZelPluginApiTable* GetPluginApis() override { return host_.GetPluginApis(); }
  uint32_t GetSubsystemUID() override { return host_.GetSubsystemUID(); }
  zel::rt::EventTransport* GetEventTransport() override { return host_.GetEventTransport(); }

  // The reply handed over since the last call, or null; the caller's.
  ZEL_BUF_EventBuffer* TakeReply() { return std::exchange(reply_, nullptr); }

 private:
  ZEL_PIF_ISubSystem& host_;
  ZEL_BUF_EventBuffer* reply_ = nullptr;
};

// Drops what it is handed: the registry announces each entry write by itself (a deleted
// entry always), while a change is announced whole, once it is stored.
class DropNotifications final : public ZEL_PIF_EventDispatcher {
 public:
  int32_t PostEvent(ZEL_BUF_EventBuffer* event) override {
    delete event;
    return 0;
  }
};

// Hands the notifications of the library's node operations to the host's transport, which
// takes them to the notification hub.
class HostPoster final : public ZEL_PIF_EventDispatcher {
 public:
  explicit HostPoster(ZEL_PIF_ISubSystem& host) : host_(host) {}
  int32_t PostEvent(ZEL_BUF_EventBuffer* event) override {
    zel::rt::EventTransport* transport = host_.GetEventTransport();
    if (transport == nullptr) {
      delete event;
      return zel::rt::kNoTransport;
    }
    return transport->Post(event);
  }

 private:
  ZEL_PIF_ISubSystem& host_;
};

// The library's SAL object, with its store and its dispatcher in reach.
class TreeSal final : public ZEL_AdminToolSAL {
 public:
  explicit TreeSal(ZEL_PIF_ISubSystem& host) : ZEL_AdminToolSAL(host) {}
  ZEL_PS_LDAPSAL* Store() const { return storeSal; }
  ZEL_PIF_EventDispatcher* Dispatcher() const { return eventDispatcher; }
  void SetDispatcher(ZEL_PIF_EventDispatcher* dispatcher) { eventDispatcher = dispatcher; }
};

// One stored node, as a group read gives it.
struct Node {
  ZELString parentDN;
  ZELString name;
  ZELString title;
  int16_t flags = 0;
  uint16_t ssid = 0;
  uint64_t icon = 0;
  uint64_t uid = 0;

  ZELString DN() const {
    ZELString dn = parentDN;
    dn.appendDistinguishedName(name);
    return dn;
  }
  // The node as the library's registry and node operations take it.
  void FillObject(ZEL_AdminToolObject& object) const {
    object.setParentDN(parentDN.getName());
    object.setName(name.getName());
    object.setTitle(title.getName());
    object.setFlags(flags);
    object.setSSID(ssid);
    object.setIcon(icon);
    object.setUID(uid);
  }
};

// A node named by its DN alone (a group to read, an entry to delete).
Node GroupAt(const ZELString& dn) {
  Node node;
  node.parentDN = dn.parentDistinguishedName();
  node.name = dn.lastDistinguishedNameComponent();
  return node;
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%016" PRIx64, value);
  return text;
}

std::string Quoted(const ZELString& text) { return "\"" + text.toUtf8() + "\""; }

// What a folder request asks, for the audit.
std::string Asked(uint16_t id, uint64_t uid, const ZELString& name,
                  const std::vector<uint64_t>& members, uint64_t from, uint64_t to) {
  switch (id) {
    case ids::kCreateFolder:
      return "create folder " + Quoted(name) + " in " + Hex(uid);
    case ids::kRenameFolder:
      return "rename folder " + Hex(uid) + " to " + Quoted(name);
    case ids::kDeleteFolder:
      return "delete folder " + Hex(uid);
    default:
      return "move " + std::to_string(members.size()) + " members from " + Hex(from) + " to " +
             Hex(to);
  }
}

// Whether `dn` is `ancestor` or lies below it.
bool IsAtOrBelow(ZELString dn, const ZELString& ancestor) {
  while (!dn.isEmpty()) {
    if (dn == ancestor) return true;
    dn = dn.parentDistinguishedName();
  }
  return ancestor.isEmpty();
}

}  // namespace

class ConsoleTree::Impl {
 public:
  explicit Impl(ZEL_PIF_ISubSystem& host) : replies_(host), sal_(replies_), poster_(host) {
    sal_.SetDispatcher(&poster_);
  }

  int32_t AnswerGroupEnumeration(const ZEL_BUF_EventBuffer& request, const GroupCheck& check,
                                 std::unique_ptr<ZEL_BUF_EventBuffer>* reply);
  FolderOutcome AnswerFolderRequest(const ZEL_BUF_EventBuffer& request, const ChangeCheck& check,
                                    std::unique_ptr<ZEL_BUF_EventBuffer>* reply);

  FolderOutcome CreateFolder(uint64_t parent, const ZELString& name);
  FolderOutcome RenameFolder(uint64_t folder, const ZELString& name);
  FolderOutcome DeleteFolder(uint64_t folder);
  FolderOutcome MoveMembers(const std::vector<uint64_t>& members, uint64_t from, uint64_t to);

 private:
  // The nodes stored directly below `group`, in the directory's order.
  int32_t ReadChildren(const Node& group, std::vector<Node>* children);
  // The capability values of each of `children` (read just before, below `group`), in order.
  int32_t ReadCapabilities(const Node& group, const std::vector<Node>& children,
                           std::vector<std::vector<uint32_t>>* capabilities);
  // The node with that UID (0: the root), or kNoSuchFolder.
  int32_t Find(uint64_t uid, Node* found);
  // The DNs of the tree objects below `base` at any depth (with `filter`), in DN order.
  int32_t SearchBelow(const ZELString& base, const ZELString& filter, std::vector<ZELString>* dns);
  // The node stored at `dn`.
  int32_t NodeAt(const ZELString& dn, Node* node);
  bool Exists(const Node& node);
  int32_t Write(const Node& node, const std::vector<uint32_t>& capabilities);
  int32_t Remove(const Node& node);
  // Writes `node` (with its capabilities) and everything below it at `to`, then removes it.
  int32_t MoveSubtree(const Node& node, const std::vector<uint32_t>& capabilities, const Node& to);
  // Runs a change (reads, checks and writes) as one transaction; the registry's own
  // announcements of its writes are dropped.
  int32_t Change(const std::function<int32_t()>& body);
  uint64_t NewFolderUID();

  // Reads a folder request with the library's helper; false when it does not read back to
  // exactly its bytes (cut short, a null name, bytes after it).
  bool ReadFolderRequest(const ZEL_BUF_EventBuffer& request, uint64_t* uid, ZELString* name,
                         std::vector<uint64_t>* members, uint64_t* from, uint64_t* to);

  ReplyHost replies_;
  TreeSal sal_;
  HostPoster poster_;
  std::random_device random_;
};

int32_t ConsoleTree::Impl::ReadChildren(const Node& group, std::vector<Node>* children) {
  children->clear();
  ZEL_AdminToolObject object(group.parentDN.getName(), group.name.getName());
  const int32_t status = sal_.ReadGroupFromDirectory(&object);
  // The chain holds the first match, then the others from the last to the second.
  std::vector<ZEL_AdminToolObject*> chain;
  for (ZEL_AdminToolObject* at = object.getChild(); at != nullptr; at = at->getSibling()) {
    chain.push_back(at);
  }
  if (!chain.empty()) {
    std::vector<ZEL_AdminToolObject*> order{chain.front()};
    order.insert(order.end(), chain.rbegin(), chain.rend() - 1);
    for (ZEL_AdminToolObject* child : order) {
      children->push_back(Node{ZELString(child->getParentDN()), ZELString(child->getName()),
                               ZELString(child->getTitle()), child->getFlags(), child->getSSID(),
                               child->getIcon(), child->getUID()});
    }
  }
  object.deleteChildren();
  return status;
}

int32_t ConsoleTree::Impl::ReadCapabilities(const Node& group, const std::vector<Node>& children,
                                            std::vector<std::vector<uint32_t>>* capabilities) {
  capabilities->assign(children.size(), {});
  uint32_t count = 0;
  AdminObjectCapability* read = nullptr;
  int32_t status = sal_.GetStaticGroupPermissionHelper(group.DN(), count, &read);
  // The helper walks the same search as the group read: one capability per child, in order.
  if (status == 0 && count != children.size()) status = kTreeChanged;
  for (uint32_t i = 0; status == 0 && i < count; ++i) {
    if (read[i].objectUID != children[i].uid) {
      status = kTreeChanged;
      break;
    }
    (*capabilities)[i].assign(read[i].privileges, read[i].privileges + read[i].privilegeCount);
  }
  sal_.FreeCapabilities(read);
  return status;
}

int32_t ConsoleTree::Impl::Find(uint64_t uid, Node* found) {
  if (uid == kRootUID) {
    *found = Node{};
    return 0;
  }
  if (uid == kNoUID) return kNoSuchFolder;
  std::vector<ZELString> dns;
  ZELString filter(kObjectUID);
  filter += u"=";
  filter += ZELString::FromUtf8(Hex(uid).substr(2));
  if (const int32_t searched = SearchBelow(ZELString(), filter, &dns)) return searched;
  for (const ZELString& dn : dns) {  // in DN order: the first is the folder
    if (NodeAt(dn, found) == 0 && found->uid == uid) return 0;
  }
  return kNoSuchFolder;
}

int32_t ConsoleTree::Impl::SearchBelow(const ZELString& base, const ZELString& filter,
                                       std::vector<ZELString>* dns) {
  dns->clear();
  if (ZEL_AdminToolSAL::s_objCid == 0) {
    ZEL_AdminToolObject probe;  // any registry operation binds the object context first
    sal_.GetObjectW(probe);
  }
  if (ZEL_AdminToolSAL::s_objCid == 0) return kInternalError;
  ZEL_DIR_SearchHelper search(sal_.Store(), ZEL_DIR_SearchHelper::kSubtree, base,
                              ZEL_AdminToolSAL::s_objCid, filter, ZELString(u"*"));
  ZEL_DIR_BaseEntry entry(sal_.Store(), ZELString(), ZEL_AdminToolSAL::s_objCid);
  ZELString name;
  int32_t got = search.GetFirstEntry(name, entry);
  for (; got == 0; got = search.GetNextEntry(name, entry)) dns->push_back(entry.GetDN());
  return got == zel::dir::kNoMore ? 0 : got;
}

int32_t ConsoleTree::Impl::NodeAt(const ZELString& dn, Node* node) {
  *node = GroupAt(dn);
  ZEL_AdminToolObject object(node->parentDN.getName(), node->name.getName());
  if (const int32_t read = sal_.GetObjectW(object)) return read;
  node->title = object.getTitle();
  node->flags = object.getFlags();
  node->ssid = object.getSSID();
  node->icon = object.getIcon();
  node->uid = object.getUID();
  return 0;
}

bool ConsoleTree::Impl::Exists(const Node& node) {
  ZEL_AdminToolObject probe(node.parentDN.getName(), node.name.getName());
  return sal_.GetObjectW(probe) == 0;
}

int32_t ConsoleTree::Impl::Write(const Node& node, const std::vector<uint32_t>& capabilities) {
  ZEL_AdminToolObject object;
  node.FillObject(object);
  int32_t status = sal_.RegisterObject(object, false);
  if (status == 0 && !capabilities.empty()) {
    ZELString dn = node.DN();
    std::vector<uint32_t> values = capabilities;
    status = sal_.UpdateObject(dn, static_cast<uint32_t>(values.size()), values.data());
  }
  return status;
}

int32_t ConsoleTree::Impl::Remove(const Node& node) {
  ZEL_AdminToolObject object;
  node.FillObject(object);
  return sal_.DeleteObject(object);
}

int32_t ConsoleTree::Impl::MoveSubtree(const Node& node, const std::vector<uint32_t>& capabilities,
                                       const Node& to) {
  // A stray entry at the new place (left below a deleted node) is never overwritten.
  if (Exists(to)) return kNameTaken;
  int32_t status = Write(to, capabilities);
  // Everything below the node at any depth, also below DNs without an entry of their own, is
  // written again group by group: a group read gives the members' fields, and their
  // capability values in the same order.
  const ZELString from = node.DN();
  std::vector<ZELString> below, groups;
  if (status == 0) status = SearchBelow(from, ZELString(), &below);
  for (const ZELString& dn : below) {
    const ZELString parent = dn.parentDistinguishedName();
    if (std::find(groups.begin(), groups.end(), parent) == groups.end()) groups.push_back(parent);
  }
  const std::u16string base(to.DN().view());
  for (std::size_t g = 0; status == 0 && g < groups.size(); ++g) {
    std::vector<Node> members;
    std::vector<std::vector<uint32_t>> values;
    status = ReadChildren(GroupAt(groups[g]), &members);
    if (status == 0) status = ReadCapabilities(GroupAt(groups[g]), members, &values);
    const ZELString rebased(base + std::u16string(groups[g].view().substr(from.charCount())));
    for (std::size_t i = 0; status == 0 && i < members.size(); ++i) {
      Node moved = members[i];
      moved.parentDN = rebased;
      status = Exists(moved) ? kNameTaken : Write(moved, values[i]);
    }
  }
  // New entries first, the old ones last: a change that stops half way loses nothing.
  for (std::size_t i = 0; status == 0 && i < below.size(); ++i) status = Remove(GroupAt(below[i]));
  if (status == 0) status = Remove(node);
  return status;
}

int32_t ConsoleTree::Impl::Change(const std::function<int32_t()>& body) {
  if (sal_.Store() == nullptr) return kInternalError;
  DropNotifications drop;
  sal_.SetDispatcher(&drop);
  int32_t status = 0;
  {
    ZEL_DIR_Transaction scope(sal_.Store());
    status = scope.status();
    if (status == 0) status = body();
    if (status == 0) status = scope.Commit();  // otherwise abandoned: rolled back
  }
  sal_.SetDispatcher(&poster_);
  return status;
}

uint64_t ConsoleTree::Impl::NewFolderUID() {
  for (;;) {
    const uint64_t uid = (static_cast<uint64_t>(random_()) << 32) | random_();
    const bool directoryForm = (uid & 0xFFFFFFFF00000000ull) == (0x0121ull << 32);
    if (uid != kRootUID && uid != kNoUID && !directoryForm) return uid;
  }
}

FolderOutcome ConsoleTree::Impl::CreateFolder(uint64_t parent, const ZELString& name) {
  FolderOutcome outcome;
  outcome.what = Asked(ids::kCreateFolder, parent, name, {}, 0, 0);
  if (name.isEmpty()) {
    outcome.result = kInvalidName;
    return outcome;
  }
  Node folder, created;
  outcome.result = Change([&]() -> int32_t {
    if (const int32_t found = Find(parent, &folder)) return found;
    created =
        Node{folder.DN(), name, name, 0, zel::protocol::kAdminToolSubsystemUID, 0, NewFolderUID()};
    if (Exists(created)) return kNameTaken;
    return Write(created, {});
  });
  if (outcome.result != 0) return outcome;
  outcome.uid = created.uid;
  outcome.what += ": " + Hex(created.uid);
  ZEL_AdminToolObject object;
  created.FillObject(object);
  ZELString parentDN = folder.DN();
  sal_.AddNode(parentDN, object);
  return outcome;
}

FolderOutcome ConsoleTree::Impl::RenameFolder(uint64_t uid, const ZELString& name) {
  FolderOutcome outcome;
  outcome.what = Asked(ids::kRenameFolder, uid, name, {}, 0, 0);
  if (name.isEmpty()) {
    outcome.result = kInvalidName;
    return outcome;
  }
  if (uid == kRootUID) {
    outcome.result = kInvalidMove;
    return outcome;
  }
  Node folder, renamed;
  bool changed = false;
  outcome.result = Change([&]() -> int32_t {
    if (const int32_t found = Find(uid, &folder)) return found;
    if (folder.name == name) return 0;  // nothing to change
    std::vector<Node> siblings;
    std::vector<std::vector<uint32_t>> capabilities;
    const Node parent = GroupAt(folder.parentDN);
    int32_t status = ReadChildren(parent, &siblings);
    if (status == 0) status = ReadCapabilities(parent, siblings, &capabilities);
    std::size_t at = 0;
    while (at < siblings.size() && !(siblings[at].name == folder.name)) ++at;
    if (status == 0 && at == siblings.size()) status = kTreeChanged;
    if (status != 0) return status;
    renamed = folder;
    renamed.name = name;
    // A title that was the name follows it; a title of its own stays.
    if (folder.title == folder.name) renamed.title = name;
    changed = true;
    return MoveSubtree(folder, capabilities[at], renamed);
  });
  if (outcome.result != 0 || !changed) return outcome;
  ZEL_AdminToolObject object;
  renamed.FillObject(object);
  ZELString parentDN = folder.parentDN;
  ZELString oldName = folder.name;
  sal_.ChangeNodeAttr(parentDN, oldName, object);
  return outcome;
}

FolderOutcome ConsoleTree::Impl::DeleteFolder(uint64_t uid) {
  FolderOutcome outcome;
  outcome.what = Asked(ids::kDeleteFolder, uid, {}, {}, 0, 0);
  if (uid == kRootUID) {
    outcome.result = kInvalidMove;
    return outcome;
  }
  Node folder;
  outcome.result = Change([&]() -> int32_t {
    if (const int32_t found = Find(uid, &folder)) return found;
    std::vector<ZELString> below;  // at any depth: a gap hides nothing
    if (const int32_t read = SearchBelow(folder.DN(), ZELString(), &below)) return read;
    if (!below.empty()) return kFolderNotEmpty;
    return Remove(folder);
  });
  if (outcome.result != 0) return outcome;
  outcome.what += " " + Quoted(folder.name);
  ZELString parentDN = folder.parentDN;
  ZELString name = folder.name;
  sal_.DeleteNode(parentDN, name);
  return outcome;
}

FolderOutcome ConsoleTree::Impl::MoveMembers(const std::vector<uint64_t>& members, uint64_t from,
                                             uint64_t to) {
  FolderOutcome outcome;
  outcome.what = Asked(ids::kMoveFolderMembers, 0, {}, members, from, to);
  if (members.empty()) return outcome;
  if (members.size() > kMaxNodesPerEvent) {
    outcome.result = kTooManyNodes;
    return outcome;
  }
  Node source, destination;
  std::vector<Node> moving;
  outcome.result = Change([&]() -> int32_t {
    int32_t status = Find(from, &source);
    if (status == 0) status = Find(to, &destination);
    std::vector<Node> children;
    std::vector<std::vector<uint32_t>> capabilities;
    if (status == 0) status = ReadChildren(source, &children);
    if (status == 0) status = ReadCapabilities(source, children, &capabilities);
    if (status != 0) return status;
    // Each member is a node directly in the source folder, named once.
    std::vector<std::size_t> picked;
    for (uint64_t uid : members) {
      std::size_t at = 0;
      while (at < children.size() &&
             (children[at].uid != uid ||
              std::find(picked.begin(), picked.end(), at) != picked.end())) {
        ++at;
      }
      if (at == children.size()) return kNoSuchMember;
      if (IsAtOrBelow(destination.DN(), children[at].DN())) return kInvalidMove;
      picked.push_back(at);
    }
    if (from == to) return 0;  // every member is where it should go
    for (std::size_t at : picked) {
      Node moved = children[at];
      moved.parentDN = destination.DN();
      if (const int32_t taken = MoveSubtree(children[at], capabilities[at], moved)) return taken;
      moving.push_back(std::move(moved));
    }
    return 0;
  });
  if (outcome.result != 0 || moving.empty()) return outcome;
  std::vector<ZEL_AdminToolObject> nodes(moving.size());
  for (std::size_t i = 0; i < moving.size(); ++i) moving[i].FillObject(nodes[i]);
  ZELString sourceDN = source.DN();
  ZELString destinationDN = destination.DN();
  sal_.MoveNodes(sourceDN, destinationDN, static_cast<int16_t>(nodes.size()), nodes.data());
  return outcome;
}

bool ConsoleTree::Impl::ReadFolderRequest(const ZEL_BUF_EventBuffer& request, uint64_t* uid,
                                          ZELString* name, std::vector<uint64_t>* members,
                                          uint64_t* from, uint64_t* to) {
  auto* event = const_cast<ZEL_BUF_EventBuffer*>(&request);  // the helpers only read it
  uint64_t wire = 0;
  switch (request.GetEventID()) {
    case ids::kCreateFolder:
      if (sal_.CreateFolderHelper(event, *uid, *name) != 0) return false;
      wire = zel::protocol::EncodedSize(zel::protocol::CreateFolderRequest{*uid, *name});
      break;
    case ids::kRenameFolder:
      if (sal_.RenameFolderHelper(event, *uid, *name) != 0) return false;
      wire = zel::protocol::EncodedSize(zel::protocol::RenameFolderRequest{*uid, *name});
      break;
    case ids::kDeleteFolder:
      if (sal_.DeleteFolderHelper(event, *uid) != 0) return false;
      wire = zel::protocol::EncodedSize(zel::protocol::DeleteFolderRequest{*uid});
      break;
    case ids::kMoveFolderMembers: {
      uint32_t count = 0;
      uint64_t* list = nullptr;  // the helper checks the count against the request first
      if (sal_.MoveFolderMembersHelper(event, count, list, *from, *to) != 0) return false;
      members->assign(list, list + count);
      sal_.FreeMemberUIDListHelper(list);
      wire =
          zel::protocol::EncodedSize(zel::protocol::MoveFolderMembersRequest{*members, *from, *to});
      break;
    }
    default:
      return false;
  }
  // What was read must write back to exactly the request: this finds bytes after the fields
  // and a null name, which the helpers take as the empty one.
  return wire == request.GetSize();
}

FolderOutcome ConsoleTree::Impl::AnswerFolderRequest(const ZEL_BUF_EventBuffer& request,
                                                     const ChangeCheck& check,
                                                     std::unique_ptr<ZEL_BUF_EventBuffer>* reply) {
  const uint16_t id = request.GetEventID();
  uint64_t uid = 0, from = 0, to = 0;
  ZELString name;
  std::vector<uint64_t> members;
  FolderOutcome done;
  if (!ReadFolderRequest(request, &uid, &name, &members, &from, &to)) {
    done.result = kMalformedRequest;
    done.what = "folder request " + std::to_string(id) + " that could not be read";
  } else if (const int32_t refused = check ? check() : 0) {
    done.result = refused;
    done.what = Asked(id, uid, name, members, from, to) + ": refused";
  } else if (id == ids::kCreateFolder) {
    done = CreateFolder(uid, name);
  } else if (id == ids::kRenameFolder) {
    done = RenameFolder(uid, name);
  } else if (id == ids::kDeleteFolder) {
    done = DeleteFolder(uid);
  } else {
    done = MoveMembers(members, from, to);
  }
  sal_.FolderOperationReplyHelper(const_cast<ZEL_BUF_EventBuffer*>(&request), id, done.result,
                                  done.result >= 0 ? done.uid : 0);
  reply->reset(replies_.TakeReply());
  return done;
}

int32_t ConsoleTree::Impl::AnswerGroupEnumeration(const ZEL_BUF_EventBuffer& request,
                                                  const GroupCheck& check,
                                                  std::unique_ptr<ZEL_BUF_EventBuffer>* reply) {
  auto* event = const_cast<ZEL_BUF_EventBuffer*>(&request);  // the helpers only read it
  const bool withCredentials = request.GetEventID() == ids::kEnumerateGroupWithCredentials;
  ZEL_AdminToolObject* parsed = nullptr;
  UM_Credentials* credentials = nullptr;
  int32_t status =
      sal_.ParseEnumerateGroupEvent(event, &parsed, withCredentials ? &credentials : nullptr);
  std::unique_ptr<ZEL_AdminToolObject> group(parsed);
  std::unique_ptr<UM_Credentials> held(credentials);  // wipes the password when it goes
  if (status == ZEL_E_NO_EVENT) {
    status = kInternalError;
  } else if (status != 0) {
    status = kMalformedRequest;  // short, or a password that cannot be read
  }
  if (status == 0 && !withCredentials) {
    // The request without credentials is exactly the group's fields.
    zel::protocol::EnumerateGroupRequest fields;
    fields.parentDN = group->getParentDN();
    fields.name = group->getName();
    fields.title = group->getTitle();
    fields.flags = group->getFlags();
    fields.ssid = group->getSSID();
    fields.icon = group->getIcon();
    fields.uid = group->getUID();
    if (zel::protocol::EncodedSize(fields) != request.GetSize()) status = kMalformedRequest;
  }
  if (status == 0) status = check ? check(held.get()) : 0;
  held.reset();
  if (status == 0) status = sal_.ReadGroupFromDirectory(group.get());
  if (status == 0 && static_cast<std::size_t>(group->getNumChildren()) > kMaxNodesPerEvent) {
    status = kTooManyNodes;
  }
  try {
    sal_.WriteGroupToEventBuffer(event, status, status == 0 ? group.get() : nullptr, 1);
  } catch (const ZEL_BUF_AppendException&) {
    sal_.WriteGroupToEventBuffer(event, kTooManyNodes, nullptr, 1);  // past one event's size
  }
  if (group != nullptr) group->deleteChildren();
  reply->reset(replies_.TakeReply());
  return *reply != nullptr ? 0 : kInternalError;
}

ConsoleTree::ConsoleTree(ZEL_PIF_ISubSystem& host) : impl_(std::make_unique<Impl>(host)) {}

ConsoleTree::~ConsoleTree() = default;

int32_t ConsoleTree::AnswerGroupEnumeration(const ZEL_BUF_EventBuffer& request,
                                            const GroupCheck& check,
                                            std::unique_ptr<ZEL_BUF_EventBuffer>* reply) {
  return impl_->AnswerGroupEnumeration(request, check, reply);
}

FolderOutcome ConsoleTree::AnswerFolderRequest(const ZEL_BUF_EventBuffer& request,
                                               const ChangeCheck& check,
                                               std::unique_ptr<ZEL_BUF_EventBuffer>* reply) {
  return impl_->AnswerFolderRequest(request, check, reply);
}

FolderOutcome ConsoleTree::CreateFolder(uint64_t parent, const ZELString& name) {
  return impl_->CreateFolder(parent, name);
}

FolderOutcome ConsoleTree::RenameFolder(uint64_t folder, const ZELString& name) {
  return impl_->RenameFolder(folder, name);
}

FolderOutcome ConsoleTree::DeleteFolder(uint64_t folder) { return impl_->DeleteFolder(folder); }

FolderOutcome ConsoleTree::MoveMembers(const std::vector<uint64_t>& members, uint64_t from,
                                       uint64_t to) {
  return impl_->MoveMembers(members, from, to);
}

}  // namespace zel::subsystem
