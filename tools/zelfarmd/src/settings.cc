#include "zel/farm/settings.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>

#include "secrets/farm_keys.h"
#include "zel/transport/address.h"

namespace zel::farm {

namespace {

// The store URL's extension that names the server ID.
constexpr const char* kServerIDExtension = "x-server-id=";

constexpr const char* kKeys[] = {"store",    "listen",        "tls-cert", "tls-key",
                                 "tls-ca",   "insecure",      "keys",     "owner",
                                 "map-cert", "pwhash-limits", "server-id"};

bool Repeats(const std::string& key) { return key == "listen" || key == "map-cert"; }

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool Readable(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

}  // namespace

bool IsSettingKey(const std::string& key) {
  for (const char* known : kKeys) {
    if (key == known) return true;
  }
  return false;
}

bool ReadConfigFile(const std::string& path, SettingValues* values, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string text = Trim(line);
    if (text.empty() || text[0] == '#') continue;
    const auto equals = text.find('=');
    const std::string where = path + ":" + std::to_string(number) + ": ";
    if (equals == std::string::npos) {
      *error = where + "expected key = value";
      return false;
    }
    const std::string key = Trim(text.substr(0, equals));
    if (!IsSettingKey(key)) {
      *error = where + "unknown key '" + key + "'";
      return false;
    }
    auto& slot = (*values)[key];
    if (!slot.empty() && !Repeats(key)) {
      *error = where + "'" + key + "' given twice";
      return false;
    }
    slot.push_back(Trim(text.substr(equals + 1)));
  }
  return true;
}

bool MergeSettings(const SettingValues& file, const SettingValues& commandLine, Settings* settings,
                   std::string* error) {
  SettingValues merged = file;
  for (const auto& [key, given] : commandLine) merged[key] = given;
  Settings out;
  for (const auto& [key, given] : merged) {
    if (given.empty()) continue;
    const std::string& value = given.back();
    if (key == "store") {
      out.store = value;
    } else if (key == "listen") {
      out.listen = given;
    } else if (key == "tls-cert") {
      out.tlsCert = value;
    } else if (key == "tls-key") {
      out.tlsKey = value;
    } else if (key == "tls-ca") {
      out.tlsCA = value;
    } else if (key == "insecure") {
      if (value != "true" && value != "false") {
        *error = "insecure: expected true or false, not '" + value + "'";
        return false;
      }
      out.insecure = value == "true";
    } else if (key == "keys") {
      out.keys = value;
    } else if (key == "owner") {
      out.owner = value;
    } else if (key == "map-cert") {
      for (const std::string& pair : given) {
        const auto equals = pair.rfind('=');
        if (equals == std::string::npos || equals == 0 || equals + 1 == pair.size()) {
          *error = "map-cert: expected SUBJECT=ACCOUNT, not '" + pair + "'";
          return false;
        }
        out.certMap[pair.substr(0, equals)] = pair.substr(equals + 1);
      }
    } else if (key == "pwhash-limits") {
      using zel::subsystem::PwhashLimits;
      if (value == "min") {
        out.pwhashLimits = PwhashLimits::kMin;
      } else if (value == "interactive") {
        out.pwhashLimits = PwhashLimits::kInteractive;
      } else if (value == "moderate") {
        out.pwhashLimits = PwhashLimits::kModerate;
      } else {
        *error = "pwhash-limits: expected min, interactive or moderate, not '" + value + "'";
        return false;
      }
    } else if (key == "server-id") {
      const char* end = value.data() + value.size();
      auto [at, failure] = std::from_chars(value.data(), end, out.serverID);
      if (failure != std::errc() || at != end) {
        *error = "server-id: expected a number up to 4294967295, not '" + value + "'";
        return false;
      }
    } else {
      *error = "unknown key '" + key + "'";
      return false;
    }
  }
  *settings = std::move(out);
  return true;
}

bool CheckSettings(const Settings& settings, bool haveInheritedSockets, std::string* error) {
  if (settings.store.empty()) {
    *error = "store: none given";
    return false;
  }
  if (settings.store.rfind("farm:", 0) == 0) {
    *error = "store: farm: is the consoles' location; a server needs its own store";
    return false;
  }
  if (IsDirectoryServer(settings.store)) {
    if (settings.serverID > 4095) {
      *error = "server-id: a directory server's store takes 0 to 4095, not " +
               std::to_string(settings.serverID);
      return false;
    }
    const std::size_t at = settings.store.find(kServerIDExtension);
    if (at != std::string::npos) {
      const std::string given = settings.store.substr(
          at + std::strlen(kServerIDExtension),
          settings.store.find(',', at) - at - std::strlen(kServerIDExtension));
      if (given != std::to_string(settings.serverID)) {
        *error = "store: x-server-id=" + given + " differs from server-id " +
                 std::to_string(settings.serverID) + "; give the server ID once, as server-id";
        return false;
      }
    }
  }
  if (settings.listen.empty() && !haveInheritedSockets) {
    *error = "listen: no address given";
    return false;
  }
  bool tls = false;
  for (const std::string& text : settings.listen) {
    zel::transport::Address address;
    std::string why;
    if (zel::transport::ParseAddress(text, &address, &why) != 0) {
      *error = "listen: " + text + ": " + why;
      return false;
    }
    if (address.kind == zel::transport::Address::Kind::kTcp && !settings.insecure) {
      *error = "listen: " + text + ": plain TCP carries no identity and needs insecure = true";
      return false;
    }
    tls = tls || address.kind == zel::transport::Address::Kind::kTls;
  }
  if (tls) {
    for (const auto& [key, path] :
         {std::pair{"tls-cert", &settings.tlsCert}, std::pair{"tls-key", &settings.tlsKey},
          std::pair{"tls-ca", &settings.tlsCA}}) {
      if (path->empty() || !Readable(*path)) {
        *error = std::string(key) + ": a tls: address needs a readable file" +
                 (path->empty() ? "" : ", not '" + *path + "'");
        return false;
      }
    }
  }
  if (!settings.keys.empty()) {
    zel::secrets::FarmKeys keys;
    std::string why;
    if (!zel::secrets::LoadFarmKeys(settings.keys, &keys, &why)) {
      *error = "keys: " + why;
      return false;
    }
  }
  return true;
}

bool IsDirectoryServer(const std::string& store) {
  for (const char* scheme : {"ldap://", "ldaps://", "ldapi://"}) {
    if (store.rfind(scheme, 0) == 0) return true;
  }
  return false;
}

std::string StoreLocationFor(const Settings& settings) {
  std::string location = settings.store;
  if (!IsDirectoryServer(location) || location.find(kServerIDExtension) != std::string::npos) {
    return location;
  }
  // Extensions follow the fourth '?' (scheme://host/base?attributes?scope?filter?extensions).
  const auto marks = static_cast<std::size_t>(std::count(location.begin(), location.end(), '?'));
  if (marks < 4) {
    location.append(4 - marks, '?');
  } else if (location.back() != '?') {
    location += ',';
  }
  return location + kServerIDExtension + std::to_string(settings.serverID);
}

zel::transport::ServerOptions ServerOptionsFor(const Settings& settings) {
  zel::transport::ServerOptions options;
  options.listen = settings.listen;
  options.insecure = settings.insecure;
  options.tlsCert = settings.tlsCert;
  options.tlsKey = settings.tlsKey;
  options.tlsCA = settings.tlsCA;
  options.certMap = settings.certMap;
  options.owner = settings.owner;
  return options;
}

}  // namespace zel::farm
