// The farm server's settings: one set of keys for the command line and the configuration file.
//
//   file    = *( line LF )
//   line    = blank / "#" comment / key *SP "=" *SP value
//   key     = a long option's name without its dashes ("store", "listen", "map-cert", ...)
//   value   = the rest of the line, blanks at both ends removed
//
// "listen" and "map-cert" may repeat; every other key names one value. "insecure" takes true
// or false. A map-cert value is SUBJECT=ACCOUNT, split at its last "=" (subjects hold "=",
// accounts do not). Options given on the command line win: a repeating option given there
// replaces every value of the file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "zel/subsystem/options.h"
#include "zel/transport/server.h"

namespace zel::farm {

struct Settings {
  std::string store;                // sqlite:PATH, PATH, or an ldap://, ldaps://, ldapi:// URL
  std::vector<std::string> listen;  // farm addresses
  std::string tlsCert, tlsKey, tlsCA;
  bool insecure = false;
  std::string keys;   // the key folder; "" for none
  std::string owner;  // the login whose Unix peer is the owner; "" for nobody
  std::map<std::string, std::string> certMap;
  zel::subsystem::PwhashLimits pwhashLimits = zel::subsystem::PwhashLimits::kInteractive;
  uint32_t serverID = 0;
};

// The values a source gave, by key, in the order given.
using SettingValues = std::map<std::string, std::vector<std::string>>;

// Every key a value may be given under.
bool IsSettingKey(const std::string& key);

// Reads a configuration file into *values. False with the file, the line and why in *error.
bool ReadConfigFile(const std::string& path, SettingValues* values, std::string* error);

// Puts `commandLine` over `file` (a key given on the command line replaces the file's values)
// and reads the result into *settings. False with why in *error.
bool MergeSettings(const SettingValues& file, const SettingValues& commandLine, Settings* settings,
                   std::string* error);

// What has to hold before a server starts: a store (on a directory server, a server ID of 0 to
// 4095, the URL's own x-server-id equal to it), at least one address (or sockets handed
// over), every address readable, tcp: only with insecure, TLS files for tls: addresses and
// readable, the key folder's keys readable. False with why in *error.
bool CheckSettings(const Settings& settings, bool haveInheritedSockets, std::string* error);

// Whether a store location names a directory server (ldap://, ldaps://, ldapi://).
bool IsDirectoryServer(const std::string& store);

// The store location the server opens: a directory server's URL carries the server ID
// (x-server-id), added from server-id when the URL has none.
std::string StoreLocationFor(const Settings& settings);

// The transport's options for these settings.
zel::transport::ServerOptions ServerOptionsFor(const Settings& settings);

}  // namespace zel::farm
