// What a host configures in the AdminTool subsystem.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "secrets/password_hash.h"

namespace zel::subsystem {

// How much memory and time a password hash costs (libsodium's OPSLIMIT/MEMLIMIT pairs): tests
// use kMin, a default server kInteractive. `--pwhash-limits` text: zel::secrets::ParseHashLimits.
using PwhashLimits = zel::secrets::HashLimits;

// The farm's two keys: the transport key (key ID 0x3A, the password cipher) and the ticket key.
struct FarmKeys {
  std::array<uint8_t, 32> transport{};
  std::array<uint8_t, 32> ticket{};
};

struct Options {
  PwhashLimits pwhashLimits = PwhashLimits::kInteractive;
  // The folder that holds the key files, read when `keys` is not given ("" for none).
  std::string keysFolder;
  std::optional<FarmKeys> keys;
  // This server's number in the farm: what its writes to a shared store carry (the store
  // location's server ID), so that it tells its consoles only the changes of other servers.
  uint16_t serverID = 0;
  // Milliseconds since 1970-01-01 UTC; the system clock when empty. Tests set their own.
  std::function<uint64_t()> clock;
};

}  // namespace zel::subsystem
