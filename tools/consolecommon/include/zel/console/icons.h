// The farm's icons as consoles see them: by name, as PNG. The registry keeps each icon as an
// entry with its 640 bytes and, below it, one name entry per name ("%04x" of the SSID, then the
// name); the names are found by a search of the icon context through the farm: store.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/pif.h"

namespace zel::console {

struct StoredIcon {
  std::string name;
  uint16_t ssid = 0;
  uint64_t uid = 0;  // the icon entry's
};

// Every icon name, in the order the search gave them.
int32_t ListIcons(ZEL_PIF_ISubSystem& host, std::vector<StoredIcon>* icons);
// The icon named `name`, or ZEL_E_DIR_NOT_FOUND (0x8006000D).
int32_t FindIcon(ZEL_PIF_ISubSystem& host, const std::string& name, StoredIcon* icon);
// The PNG of the icon whose entry is `uid`.
int32_t IconPng(ZEL_AdminToolSAL6& sal, uint64_t uid, std::vector<uint8_t>* png);
// Registers a PNG (32 x 32; colours matched to the nearest palette colour) under `name`; its
// entry's UID in *uid. A PNG that does not read answers kInvalidArgument with *error saying why.
int32_t AddIconPng(ZEL_AdminToolSAL6& sal, const std::string& name, const std::vector<uint8_t>& png,
                   uint64_t* uid, std::string* error);
// Removes the name (and the icon entry with every name of it).
int32_t RemoveIcon(ZEL_AdminToolSAL6& sal, const StoredIcon& icon);

}  // namespace zel::console
