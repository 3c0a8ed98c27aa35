// The console tree through the library's object registry, as consoles (zeladmin, zelweb) read
// and change it: every change goes through RegisterObject / DeleteObject / ChangeNodeAttr, so
// the farm announces it to every console.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zel/admintool/zel_admintoolobject.h"
#include "zel/admintool/zel_admintoolsal5.h"

namespace zel::console {

// The node at `dn` ("north/rack1"; "" is the root), not yet read.
std::unique_ptr<ZEL_AdminToolObject> NodeAt(const std::string& dn);

// Reads the children of `group` (and theirs, `depth` levels in all; 0: no limit) into it.
int32_t ReadTree(ZEL_AdminToolSAL6& sal, ZEL_AdminToolObject* group, int depth);
// Frees the nodes below `group` (the library leaves deeper levels to the caller).
void FreeTree(ZEL_AdminToolObject* group);
// Children in name order, so that listings do not depend on the library's link order.
std::vector<ZEL_AdminToolObject*> SortedChildren(const ZEL_AdminToolObject& group);

// A new node's UID: 63 random bits (the top one clear, never the no-UID value).
uint64_t NewNodeUID();

// Stores the changed fields of an existing node and announces the change.
int32_t ChangeNode(ZEL_AdminToolSAL6& sal, ZEL_AdminToolObject& node);

// Removes the node at `dn` and its subtree, children first, each removal announced.
int32_t RemoveSubtree(ZEL_AdminToolSAL6& sal, const std::string& dn);

// Moves the node at `dn` below `newParent` (its DN in *newDN), named `newName` there ("": its
// own name; a move within its parent renames it): the subtree is copied first,
// parents first, then the old place removed, children first. Stopped half way, the node is in
// both places or in the new one with part of the old one left: nothing is lost, and moving
// again finishes it.
int32_t MoveSubtree(ZEL_AdminToolSAL6& sal, const std::string& dn, const std::string& newParent,
                    std::string* newDN, const std::string& newName = "");

// "0x" and 16 lower-case hex digits.
std::string HexUID(uint64_t uid);
std::string Utf8(const char16_t* text);

}  // namespace zel::console
