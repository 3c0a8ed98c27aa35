#include "zel/console/tree.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <string_view>

namespace zel::console {
namespace {

// Copies `from` and its subtree below `toParentDN` (named `name` there), parents first, each
// announced.
int32_t CopySubtree(ZEL_AdminToolSAL6& sal, const ZEL_AdminToolObject& from,
                    const ZELString& toParentDN, const char16_t* name) {
  ZEL_AdminToolObject copy(toParentDN.getName(), name);
  copy.setTitle(from.getTitle());
  copy.setFlags(from.getFlags());
  copy.setSSID(from.getSSID());
  copy.setIcon(from.getIcon());
  copy.setUID(from.getUID());
  int32_t result = sal.RegisterObject(copy, true);
  const ZELString dn(copy.getDN());
  for (ZEL_AdminToolObject* child = from.getChild(); result >= 0 && child != nullptr;
       child = child->getSibling()) {
    result = CopySubtree(sal, *child, dn, child->getName());
  }
  return result;
}

// Deletes `node`'s subtree, children first, each announced.
int32_t DeleteSubtree(ZEL_AdminToolSAL6& sal, ZEL_AdminToolObject& node) {
  for (ZEL_AdminToolObject* child = node.getChild(); child != nullptr;
       child = child->getSibling()) {
    const int32_t result = DeleteSubtree(sal, *child);
    if (result < 0) return result;
  }
  return sal.DeleteObject(node);
}

}  // namespace

std::string HexUID(uint64_t uid) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(uid));
  return text;
}

std::string Utf8(const char16_t* text) { return ZELString(text).toUtf8(); }

std::unique_ptr<ZEL_AdminToolObject> NodeAt(const std::string& dn) {
  const ZELString full = ZELString::FromUtf8(dn);
  const ZELString parent = full.parentDistinguishedName();
  const ZELString name = full.lastDistinguishedNameComponent();
  return std::make_unique<ZEL_AdminToolObject>(parent.getName(), name.getName());
}

int32_t ReadTree(ZEL_AdminToolSAL6& sal, ZEL_AdminToolObject* group, int depth) {
  const int32_t result = sal.ReadGroupFromDirectory(group);
  if (result < 0 || depth == 1) return result;
  for (ZEL_AdminToolObject* child = group->getChild(); child != nullptr;
       child = child->getSibling()) {
    const int32_t deeper = ReadTree(sal, child, depth == 0 ? 0 : depth - 1);
    if (deeper < 0) return deeper;
  }
  return 0;
}

void FreeTree(ZEL_AdminToolObject* group) {
  for (ZEL_AdminToolObject* child = group->getChild(); child != nullptr;
       child = child->getSibling()) {
    FreeTree(child);
  }
  group->deleteChildren();
}

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

uint64_t NewNodeUID() {
  std::random_device random;
  return ((static_cast<uint64_t>(random()) << 32) | random()) & 0x7FFFFFFFFFFFFFFFull;
}

int32_t ChangeNode(ZEL_AdminToolSAL6& sal, ZEL_AdminToolObject& node) {
  int32_t result = sal.RegisterObject(node, false);
  if (result >= 0) {
    ZELString parent(node.getParentDN());
    ZELString name(node.getName());
    result = sal.ChangeNodeAttr(parent, name, node);
  }
  return result;
}

int32_t RemoveSubtree(ZEL_AdminToolSAL6& sal, const std::string& dn) {
  auto node = NodeAt(dn);
  int32_t result = sal.GetObjectW(*node);
  if (result >= 0) result = ReadTree(sal, node.get(), 0);
  if (result >= 0) result = DeleteSubtree(sal, *node);
  FreeTree(node.get());
  return result;
}

int32_t MoveSubtree(ZEL_AdminToolSAL6& sal, const std::string& dn, const std::string& newParent,
                    std::string* newDN, const std::string& newName) {
  auto node = NodeAt(dn);
  const ZELString name =
      newName.empty() ? ZELString(node->getName()) : ZELString::FromUtf8(newName);
  int32_t result = sal.GetObjectW(*node);
  if (result >= 0) result = ReadTree(sal, node.get(), 0);
  if (result >= 0) result = CopySubtree(sal, *node, ZELString::FromUtf8(newParent), name.getName());
  if (result >= 0) result = DeleteSubtree(sal, *node);
  *newDN = newParent.empty()
               ? name.toUtf8()
               : ZELString::FromUtf8(newParent).appendDistinguishedName(name).toUtf8();
  FreeTree(node.get());
  return result;
}

}  // namespace zel::console
