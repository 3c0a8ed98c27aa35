// The farm's two keys, each in a file of its own in the key folder, made once by
// `--init-keys DIR` and copied to every server of the farm:
//
//   transport.key  the password cipher's key (key ID 0x3A): hides event 82's password on its
//                  way; consoles may hold a copy
//   ticket.key     the key of the tickets' MAC; servers only
//
//   key file = 64 hexadecimal digits and a newline (the form ZEL_SECURE_LoadKeyFile reads)
//
// Files are written with mode 0600 and read only when nobody but their owner may read or
// write them.
#pragma once

#include <string>

#include "secrets/secret_key.h"

namespace zel::secrets {

inline constexpr uint32_t kTransportKeyID = 0x3A;
inline constexpr const char* kTransportKeyFile = "transport.key";
inline constexpr const char* kTicketKeyFile = "ticket.key";

struct FarmKeys {
  SecretKey transport;
  SecretKey ticket;
};

// Makes both keys from the system's random source and writes them into `dir` (made, mode
// 0700, when missing). Refuses, writing nothing, when either file is there already: new keys
// would cut the farm off its tickets and consoles. False with *error on failure; nothing is
// left half written.
bool InitFarmKeys(const std::string& dir, std::string* error);

// Reads one key file; false with *error (naming the file and what is wrong: missing, not a
// regular file, readable or writable by others, short, not hexadecimal).
bool LoadKeyFile(const std::string& path, SecretKey* key, std::string* error);

// Reads both keys from `dir` and sets the transport key as the process's password key
// (ZEL_SECURE_SetKey under kTransportKeyID). On failure nothing is set and *keys is untouched.
bool LoadFarmKeys(const std::string& dir, FarmKeys* keys, std::string* error);

}  // namespace zel::secrets
