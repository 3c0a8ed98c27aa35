// import: a farm document (docs/ZELADMIN.md) onto the farm, idempotently: what is there
// already and equal is left alone, and the summary says what changed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "commands.h"
#include "zel/protocol/credentials.h"
#include "zel/protocol/privileges.h"
#include "zel/protocol/result_reply.h"

namespace zeladmin {
namespace {

using nlohmann::json;

constexpr int32_t kBadDocument = static_cast<int32_t>(0x80010005u);  // kInvalidArgument

// Standard base64 (RFC 4648), padding optional; false on any other character.
bool DecodeBase64(const std::string& text, std::vector<uint8_t>* out) {
  uint32_t bits = 0;
  int held = 0;
  for (const char ch : text) {
    int value;
    if (ch >= 'A' && ch <= 'Z')
      value = ch - 'A';
    else if (ch >= 'a' && ch <= 'z')
      value = ch - 'a' + 26;
    else if (ch >= '0' && ch <= '9')
      value = ch - '0' + 52;
    else if (ch == '+')
      value = 62;
    else if (ch == '/')
      value = 63;
    else if (ch == '=' || ch == '\n')
      continue;
    else
      return false;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out->push_back(static_cast<uint8_t>(bits >> held));
    }
  }
  return true;
}

// Runs `step` with what it prints on stdout (and, when `errorsToo`, on stderr) dropped; what
// it printed on stdout is handed back in *printed.
template <class Step>
int Silently(bool errorsToo, Step step, std::string* printed = nullptr) {
  std::ostringstream out, err;
  auto* savedOut = std::cout.rdbuf(out.rdbuf());
  auto* savedErr = errorsToo ? std::cerr.rdbuf(err.rdbuf()) : nullptr;
  const int status = step();
  std::cout.rdbuf(savedOut);
  if (errorsToo) std::cerr.rdbuf(savedErr);
  if (printed != nullptr) *printed = out.str();
  return status;
}

std::string EncodeBase64(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out += kDigits[(v >> shift) & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const uint32_t v = (bytes[i] << 16) | (two ? bytes[i + 1] << 8 : 0);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += two ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// Every stored password hash by administrator UID; the farm hands them to its owner only.
int32_t StoredHashes(Command& c, std::map<uint64_t, std::string>* hashes) {
  zel::protocol::ExportCredentialsRequest request;
  zel::protocol::ExportCredentialsReply reply;
  const int32_t result = c.farm.Ours(request, &reply);
  if (result < 0) return result;
  for (const auto& credential : reply.credentials) {
    (*hashes)[credential.admin] = std::string(credential.hash.view());
  }
  return 0;
}

// Writes `text` to `file`; a document with secrets is made mode 0600 before a byte is written.
bool WriteDocument(const std::string& file, const std::string& text, bool secret) {
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, secret ? 0600 : 0644);
  if (fd < 0) return false;
  bool written = !secret || fchmod(fd, 0600) == 0;
  for (std::size_t at = 0; written && at < text.size();) {
    const ssize_t n = write(fd, text.data() + at, text.size() - at);
    written = n > 0;
    at += written ? static_cast<std::size_t>(n) : 0;
  }
  return close(fd) == 0 && written;
}

// The administrator's part of the document: its folders (by DN) and contact lines, and its
// password hash when `hashes` holds one.
int32_t AdminDocument(Command& c, const json& listed, const std::map<uint64_t, std::string>& dns,
                      const std::map<uint64_t, std::string>* hashes, json* item) {
  uint64_t uid = 0;
  ParseUID(listed.value("uid", ""), &uid);
  json folders, contact;
  const int32_t result = ReadAdminDetails(c, uid, dns, &folders, &contact);
  if (result < 0) return result;
  *item = {{"account", listed["account"]},
           {"privileges", listed["privileges"]},
           {"folders", folders},
           {"contact", contact}};
  if (hashes != nullptr) {
    if (const auto hash = hashes->find(uid); hash != hashes->end()) {
      (*item)["passwordHash"] = hash->second;
    }
  }
  return 0;
}

// The document's folder list as `admins folders set` takes it: DN=TASK,TASK.
std::vector<std::string> FolderItems(const json& folders) {
  std::vector<std::string> items;
  for (const json& f : folders) {
    std::string item = f.value("folder", "");
    std::string tasks;
    for (const json& t : f.value("tasks", json::array())) {
      tasks += (tasks.empty() ? "" : ",") + std::to_string(t.get<uint32_t>());
    }
    items.push_back(tasks.empty() ? (item.empty() ? "/" : item) : item + "=" + tasks);
  }
  return items;
}

// Whether `doc` has the shape import reads (docs/ZELADMIN.md); *why names the first field that
// does not. Checked whole before anything is changed.
bool CheckDocument(const json& doc, std::string* why) {
  auto listOf = [&](const json& parent, const char* key, auto each) {
    if (!parent.contains(key)) return true;
    if (!parent[key].is_array()) {
      *why = std::string(key) + " is not a list";
      return false;
    }
    for (std::size_t i = 0; i < parent[key].size(); ++i) {
      if (!each(parent[key][i])) {
        *why = std::string(key) + "[" + std::to_string(i) + "] " + *why;
        return false;
      }
    }
    return true;
  };
  auto text = [&](const json& item, const char* key, bool required) {
    if (item.contains(key) ? item[key].is_string() : !required) return true;
    *why = std::string(required && !item.contains(key) ? "has no " : "has a non-text ") + key;
    return false;
  };
  auto number = [&](const json& n) {
    *why = "is not a number from 0 to 4294967295";
    return n.is_number_unsigned() && n.get<uint64_t>() <= 0xFFFFFFFFu;
  };
  auto folder = [&](const json& f) {
    if (!f.is_object() || !text(f, "folder", true)) return false;
    return listOf(f, "tasks", number);
  };
  auto admin = [&](const json& a) {
    if (!a.is_object() || !text(a, "account", true) || !text(a, "passwordHash", false)) {
      return false;
    }
    const auto privilege = [&](const json& p) {
      if (!p.is_string()) return number(p);
      *why = "names no privilege";
      return zel::protocol::PrivilegeNamed(p.get<std::string>()).has_value();
    };
    const auto line = [&](const json& l) {
      *why = "is not text";
      return l.is_string();
    };
    if (a.contains("contact") && a["contact"].is_array() && a["contact"].size() > 3) {
      *why = "has more than three contact lines";
      return false;
    }
    return listOf(a, "privileges", privilege) && listOf(a, "folders", folder) &&
           listOf(a, "contact", line);
  };
  auto icon = [&](const json& i) {
    return i.is_object() && text(i, "name", true) && text(i, "png", true);
  };
  auto node = [&](const json& n) {
    return n.is_object() && text(n, "dn", true) && text(n, "title", false) &&
           text(n, "icon", false);
  };
  auto plugin = [&](const json& p) {
    *why = "is not text";
    return p.is_string();
  };
  return listOf(doc, "administrators", admin) && listOf(doc, "icons", icon) &&
         listOf(doc, "tree", node) && listOf(doc, "plugins", plugin);
}

}  // namespace

int Export(Command& c, const std::string& file, bool includeSecrets) {
  if (includeSecrets && file.empty()) {
    return Usage("export --include-secrets writes to a file (mode 0600), never to a pipe");
  }
  // The hashes first: a caller who may not have them is refused before anything is read.
  std::map<uint64_t, std::string> hashes;
  if (includeSecrets) {
    const int32_t result = StoredHashes(c, &hashes);
    if (result < 0) return Fail({"reading the password hashes", result, ""});
  }
  json doc = {{"version", 1}};
  // Administrators, as `admins list --json` reads them, without UIDs (the new farm gives its own).
  std::string listed;
  Output asJson{true, true};
  Command jsonCommand{c.farm, asJson};
  if (const int s = Silently(
          false, [&] { return AdminsList(jsonCommand); }, &listed);
      s != 0) {
    return s;
  }
  const auto dns = DNsByUID(c);
  const json parsed = json::parse(listed, nullptr, false).value("administrators", json::array());
  std::vector<StoredIcon> icons;
  int32_t result = ListIcons(c, &icons);
  if (result < 0) return Fail({"listing the icons", result, ""});
  const std::size_t total = parsed.size() + icons.size();
  std::size_t done = 0;
  json admins = json::array();
  for (const json& a : parsed) {
    json item;
    result = AdminDocument(c, a, dns, includeSecrets ? &hashes : nullptr, &item);
    if (result < 0) return Fail({"reading administrator " + a.value("account", ""), result, ""});
    admins.push_back(std::move(item));
    Progress("export", ++done, total);
  }
  doc["administrators"] = admins;
  std::sort(icons.begin(), icons.end(),
            [](const StoredIcon& a, const StoredIcon& b) { return a.name < b.name; });
  std::map<uint64_t, std::string> iconName;
  json iconList = json::array();
  for (const StoredIcon& icon : icons) {
    std::vector<uint8_t> png;
    result = IconPng(c, icon.uid, &png);
    if (result < 0) return Fail({"reading icon " + icon.name, result, ""});
    iconName.emplace(icon.uid, icon.name);
    iconList.push_back({{"name", icon.name}, {"png", EncodeBase64(png)}});
    Progress("export", ++done, total);
  }
  doc["icons"] = iconList;
  std::vector<TreeNode> nodes;
  result = ListTree(c, &nodes);
  if (result < 0) return Fail({"reading the tree", result, ""});
  json tree = json::array();
  for (const TreeNode& n : nodes) {
    json item = {{"dn", n.dn}, {"title", n.title}};
    if (const auto named = iconName.find(n.icon); named != iconName.end()) {
      item["icon"] = named->second;
    }
    tree.push_back(std::move(item));
  }
  doc["tree"] = tree;
  std::vector<std::string> plugins;
  result = ListPlugins(c, &plugins);
  if (result < 0) return Fail({"listing the plug-ins", result, ""});
  doc["plugins"] = plugins;
  const std::string text = doc.dump(1) + "\n";
  if (file.empty()) {
    std::cout << text;
    return kExitOk;
  }
  if (!WriteDocument(file, text, includeSecrets)) {
    return Fail({"writing " + file, kBadDocument, std::strerror(errno)});
  }
  if (!c.out.quiet) {
    std::cerr << "exported " << admins.size() << " administrators"
              << (includeSecrets ? " (with " + std::to_string(hashes.size()) + " password hashes)"
                                 : std::string())
              << ", " << iconList.size() << " icons, " << tree.size() << " nodes, "
              << plugins.size() << " plug-ins to " << file << '\n';
  }
  return kExitOk;
}

int Import(Command& c, const std::string& file) {
  std::ifstream in(file);
  if (!in) return Fail({"reading " + file, kBadDocument, "cannot open it"});
  const json doc = json::parse(in, nullptr, false);
  if (doc.is_discarded() || !doc.is_object() || doc.value("version", 0) != 1) {
    return Fail({"reading " + file, kBadDocument, "not a farm document of version 1"});
  }
  if (std::string why; !CheckDocument(doc, &why)) {
    return Fail({"reading " + file, kBadDocument, why});
  }
  const json admins = doc.value("administrators", json::array());
  const json icons = doc.value("icons", json::array());
  const json tree = doc.value("tree", json::array());
  const json plugins = doc.value("plugins", json::array());
  // A document with password hashes needs the farm's owner: asked before anything changes.
  bool withHashes = false;
  for (const json& a : admins) withHashes = withHashes || a.contains("passwordHash");
  std::map<uint64_t, std::string> stored;
  if (withHashes) {
    const int32_t result = StoredHashes(c, &stored);
    if (result < 0) return Fail({"reading the stored password hashes", result, ""});
  }
  const std::size_t total = 2 * admins.size() + icons.size() + tree.size() + plugins.size();
  std::size_t done = 0;
  json changed = {{"administrators", 0}, {"icons", 0}, {"tree", 0}, {"plugins", 0}};
  json unchanged = changed;
  std::vector<bool> adminChanged(admins.size(), false);

  Output quiet{false, true};
  Command silent{c.farm, quiet};
  // Administrators and their privileges first; their folders name nodes, so they come after
  // the tree.
  for (std::size_t i = 0; i < admins.size(); ++i) {
    const json& a = admins[i];
    const std::string account = a.value("account", "");
    std::string privileges;
    for (const auto& p : a.value("privileges", json::array())) {
      privileges += (privileges.empty() ? "" : ",") +
                    (p.is_string() ? p.get<std::string>() : std::to_string(p.get<uint32_t>()));
    }
    const auto colon = account.find(':');
    const std::string authority = colon == std::string::npos ? "unix" : account.substr(0, colon);
    const std::string name = colon == std::string::npos ? account : account.substr(colon + 1);
    const std::string who = authority + ":" + name;
    const bool existed = Silently(true, [&] { return ResolveName(silent, who); }) == kExitOk;
    std::string before;
    if (existed)
      Silently(
          true, [&] { return PrivilegesGet(silent, who); }, &before);
    if (!existed) {
      const int s = Silently(false, [&] { return AdminsAdd(silent, name, authority, "", ""); });
      if (s != kExitOk) return s;
    }
    std::string after;
    for (char ch : privileges) after += ch == ',' ? '\n' : ch;
    if (!after.empty()) after += '\n';
    if (!existed || before != after) {
      const int s = Silently(false, [&] { return PrivilegesSet(silent, who, privileges); });
      if (s != kExitOk) return s;
      adminChanged[i] = true;
    }
    Progress("import", ++done, total);
  }
  for (const json& i : icons) {
    std::vector<uint8_t> png;
    if (!DecodeBase64(i.value("png", ""), &png)) {
      return Fail({"reading icon " + i.value("name", "") + " of " + file, kBadDocument,
                   "its png is not base64"});
    }
    const std::string path = "/tmp/zeladmin-import-" + std::to_string(getpid()) + ".png";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    const std::string name = i.value("name", "");
    const bool existed = IconExists(silent, name);
    const int s = existed ? kExitOk : Silently(false, [&] { return IconsAdd(silent, name, path); });
    std::remove(path.c_str());
    if (s != kExitOk) return s;
    json& count = existed ? unchanged : changed;
    count["icons"] = count["icons"].get<int>() + 1;
    Progress("import", ++done, total);
  }
  for (const json& n : tree) {
    const std::string dn = n.value("dn", "");
    const int s = Silently(
        false, [&] { return TreeEnsure(silent, dn, n.value("icon", ""), n.value("title", "")); });
    if (s < 0) return -s;
    json& count = s == 1 ? changed : unchanged;
    count["tree"] = count["tree"].get<int>() + 1;
    Progress("import", ++done, total);
  }
  std::vector<std::string> present;
  if (const int32_t r = ListPlugins(c, &present); r < 0)
    return Fail({"listing the plug-ins", r, ""});
  for (const json& p : plugins) {
    const std::string name = p.is_string() ? p.get<std::string>() : "";
    const bool existed = std::find(present.begin(), present.end(), name) != present.end();
    if (!existed) {
      const int s = Silently(false, [&] { return PluginsAdd(silent, name); });
      if (s != kExitOk) return s;
    }
    json& count = existed ? unchanged : changed;
    count["plugins"] = count["plugins"].get<int>() + 1;
    Progress("import", ++done, total);
  }
  // Folders, contact data and hashes: a field the document leaves out is left as it is.
  const auto dns = DNsByUID(c);
  zel::protocol::ImportCredentialsRequest credentials;
  for (std::size_t i = 0; i < admins.size(); ++i) {
    const json& a = admins[i];
    const AccountName account = AccountName::Parse(a.value("account", ""));
    const std::string who =
        (account.authority.empty() ? "unix" : account.authority) + ":" + account.name;
    uint64_t uid = 0;
    Failure failure;
    if (!FindAdmin(c, who, &uid, &failure)) return Fail(failure);
    json folders, contact;
    if (const int32_t r = ReadAdminDetails(c, uid, dns, &folders, &contact); r < 0) {
      return Fail({"reading administrator " + who, r, ""});
    }
    if (a.contains("folders") && a["folders"] != folders) {
      const auto items = FolderItems(a["folders"]);
      const int s = Silently(false, [&] { return AdminFoldersSet(silent, who, items); });
      if (s != kExitOk) return s;
      adminChanged[i] = true;
    }
    if (a.contains("contact")) {
      std::vector<std::string> lines = a["contact"].get<std::vector<std::string>>();
      lines.resize(3);
      if (json(lines) != contact) {
        const int s = Silently(false, [&] { return ContactSet(silent, who, lines); });
        if (s != kExitOk) return s;
        adminChanged[i] = true;
      }
    }
    if (a.contains("passwordHash")) {
      const std::string hash = a["passwordHash"].get<std::string>();
      credentials.credentials.push_back({uid, zel::protocol::SecretBytes(std::string_view(hash))});
      const auto now = stored.find(uid);
      if (now == stored.end() || now->second != hash) adminChanged[i] = true;
    }
    json& count = adminChanged[i] ? changed : unchanged;
    count["administrators"] = count["administrators"].get<int>() + 1;
    Progress("import", ++done, total);
  }
  if (!credentials.credentials.empty()) {
    zel::protocol::ResultReply reply;
    const int32_t result = c.farm.Ours(credentials, &reply);
    if (result < 0) return Fail({"restoring the password hashes", result, ""});
  }
  if (c.out.json) {
    std::cout << json{{"changed", changed}, {"unchanged", unchanged}}.dump() << '\n';
  } else if (!c.out.quiet) {
    std::cout << "imported " << file << ": changed " << changed["administrators"]
              << " administrators, " << changed["icons"] << " icons, " << changed["tree"]
              << " nodes, " << changed["plugins"] << " plug-ins; "
              << unchanged["administrators"].get<int>() + unchanged["icons"].get<int>() +
                     unchanged["tree"].get<int>() + unchanged["plugins"].get<int>()
              << " unchanged\n";
  }
  return kExitOk;
}

}  // namespace zeladmin
