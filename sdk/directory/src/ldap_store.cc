#include "ldap_store.h"

#include <ldap.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

#include "ldap_values.h"
#include "sqlite_store.h"  // TextForm, what filters compare with on every backend
#include "zel/directory/codes.h"
#include "zel/runtime/strings.h"

namespace zel::dir {

namespace {

using ldap::FromUtf8;
using ldap::Hex;
using ldap::ToUtf8;

constexpr uint64_t kSequenceBlock = 256;
constexpr uint32_t kChangesAtOnce = 1000;  // as many as SQLite gives at once
// Two minutes of change numbers: how late a change may reach this replica after a change
// numbered later and still be told by poll.
constexpr uint64_t kLateWindow = 120'000'000ull << 12;

struct MessageFree {
  void operator()(LDAPMessage* message) const { ldap_msgfree(message); }
};
using Message = std::unique_ptr<LDAPMessage, MessageFree>;

struct TextFree {
  void operator()(char* text) const { ldap_memfree(text); }
};

// The values of an attribute of a search result entry, as byte strings.
std::vector<std::string> Values(LDAP* ld, LDAPMessage* entry, const char* attribute) {
  std::vector<std::string> out;
  berval** values = ldap_get_values_len(ld, entry, attribute);
  if (values == nullptr) return out;
  for (berval** v = values; *v != nullptr; ++v) out.emplace_back((*v)->bv_val, (*v)->bv_len);
  ldap_value_free_len(values);
  return out;
}

std::string Value(LDAP* ld, LDAPMessage* entry, const char* attribute) {
  std::vector<std::string> values = Values(ld, entry, attribute);
  return values.empty() ? std::string() : values.front();
}

std::string DNOf(LDAP* ld, LDAPMessage* entry) {
  std::unique_ptr<char, TextFree> dn(ldap_get_dn(ld, entry));
  return dn ? std::string(dn.get()) : std::string();
}

// One RDN "ATTRIBUTE=VALUE" written by libldap (RFC 4514 escaping).
std::string Rdn(const char* attribute, const std::string& value) {
  LDAPAVA ava{};
  ava.la_attr.bv_val = const_cast<char*>(attribute);
  ava.la_attr.bv_len = std::strlen(attribute);
  ava.la_value.bv_val = const_cast<char*>(value.data());
  ava.la_value.bv_len = value.size();
  ava.la_flags = LDAP_AVA_STRING;
  LDAPAVA* rdn[] = {&ava, nullptr};
  LDAPRDN rdns[] = {rdn, nullptr};
  char* out = nullptr;
  if (ldap_dn2str(rdns, &out, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS || out == nullptr) {
    return std::string();
  }
  std::string rdnText(out);
  ldap_memfree(out);
  return rdnText;
}

// "(ATTRIBUTE=VALUE)" with VALUE escaped as RFC 4515 asks.
std::string Equals(const char* attribute, const std::string& value) {
  berval in{static_cast<ber_len_t>(value.size()), const_cast<char*>(value.data())};
  berval out{0, nullptr};
  if (ldap_bv2escaped_filter_value(&in, &out) != 0) return std::string();
  std::string filter =
      std::string("(") + attribute + "=" + std::string(out.bv_val, out.bv_len) + ")";
  ber_memfree(out.bv_val);
  return filter;
}

// The second RDN's value of an entry's LDAP DN: its context's ID.
bool ContextOf(const std::string& ldapDN, uint32_t* context) {
  LDAPDN parsed = nullptr;
  if (ldap_str2dn(ldapDN.c_str(), &parsed, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) return false;
  bool found = false;
  if (parsed[0] != nullptr && parsed[1] != nullptr && parsed[1][0] != nullptr) {
    const std::string id(parsed[1][0]->la_value.bv_val, parsed[1][0]->la_value.bv_len);
    char* end = nullptr;
    const unsigned long value = std::strtoul(id.c_str(), &end, 10);
    found = !id.empty() && *end == '\0' && value <= 0xFFFFFFFFul;
    *context = static_cast<uint32_t>(value);
  }
  ldap_dnfree(parsed);
  return found;
}

// A context's ID: the same on every replica for the same name (FNV-1a of its UTF-8), never 0.
uint32_t ContextID(std::u16string_view name) {
  uint32_t hash = 2166136261u;
  for (char c : ToUtf8(name)) {
    hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
  }
  hash &= 0x7FFFFFFFu;
  return hash == 0 ? 1 : hash;
}

// back_mdb keeps each RDN in a key of at most 511 bytes (the RDN twice, as given and
// normalised, an octet string as BER hex): a DN longer than this many UTF-8 bytes is named by
// its key (zelDNKey) instead, and keeps its whole text in zelDN as every entry does.
constexpr std::size_t kLongestNamingDN = 100;

// The key of a long DN: FNV-1a 64 of its UTF-8 and its length, in hex. A lookup compares the
// stored zelDN as well, so two DNs of one key are never taken for each other.
std::string LongDNKey(const std::string& utf8) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : utf8) hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  char key[40];
  std::snprintf(key, sizeof key, "%016llx-%zx", static_cast<unsigned long long>(hash), utf8.size());
  return key;
}

// Attributes to add or replace, owning their values.
class Mods {
 public:
  Mods& add(const char* attribute, std::vector<std::string> values, int op = LDAP_MOD_ADD) {
    items_.push_back(Item{attribute, std::move(values), op, {}, {}});
    return *this;
  }
  LDAPMod** get() {
    mods_.clear();
    pointers_.clear();
    mods_.resize(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) {
      Item& item = items_[i];
      item.bervals.clear();
      for (std::string& value : item.values) {
        item.bervals.push_back(berval{static_cast<ber_len_t>(value.size()), value.data()});
      }
      item.pointers.clear();
      for (berval& value : item.bervals) item.pointers.push_back(&value);
      item.pointers.push_back(nullptr);
      mods_[i].mod_op = item.op | LDAP_MOD_BVALUES;
      mods_[i].mod_type = const_cast<char*>(item.attribute);
      mods_[i].mod_bvalues = item.pointers.data();
      pointers_.push_back(&mods_[i]);
    }
    pointers_.push_back(nullptr);
    return pointers_.data();
  }

 private:
  struct Item {
    const char* attribute;
    std::vector<std::string> values;
    int op;
    std::vector<berval> bervals;
    std::vector<berval*> pointers;
  };
  std::vector<Item> items_;
  std::vector<LDAPMod> mods_;
  std::vector<LDAPMod*> pointers_;
};

// Code-point order of names: the order SQLite keeps DNs in (UTF-8 compared byte by byte).
bool NameBefore(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<uint8_t>(x) < static_cast<uint8_t>(y);
  });
}

const char* kEntryAttributes[] = {"zelDN", "zelUID", "zelClass", "zelValue", nullptr};

// An entry of a search result, its values in the order the entry holds them.
int32_t ReadEntry(LDAP* ld, LDAPMessage* found, uint32_t context, StoredEntry* entry) {
  uint64_t uid = 0;
  if (!ldap::ParseHex(Value(ld, found, "zelUID"), &uid) ||
      !FromUtf8(Value(ld, found, "zelDN"), &entry->dn) ||
      !FromUtf8(Value(ld, found, "zelClass"), &entry->className) ||
      entry->dn.find(u'\0') != std::u16string::npos) {
    return kStoreError;  // written behind the directory's back
  }
  entry->uid = uid;
  entry->context = context;
  std::vector<std::pair<uint32_t, StoredValue>> values;
  for (const std::string& record : Values(ld, found, "zelValue")) {
    values.emplace_back();
    if (!ldap::DecodeValue(record, &values.back().first, &values.back().second)) {
      return kStoreError;
    }
  }
  std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) {
    if (a.second.attribute != b.second.attribute) {
      return NameBefore(ToUtf8(a.second.attribute), ToUtf8(b.second.attribute));
    }
    return a.first < b.first;
  });
  entry->values.clear();
  for (auto& [position, value] : values) entry->values.push_back(std::move(value));
  return 0;
}

}  // namespace

int32_t ParseLdapLocation(const std::string& location, LdapLocation* out) {
  LDAPURLDesc* url = nullptr;
  if (ldap_url_parse(location.c_str(), &url) != LDAP_URL_SUCCESS) return kInvalidArgument;
  std::unique_ptr<LDAPURLDesc, void (*)(LDAPURLDesc*)> owned(url, ldap_free_urldesc);
  const std::string scheme = url->lud_scheme;
  const std::size_t hostStart = scheme.size() + 3;
  const std::size_t path = location.find('/', hostStart);
  if (path == std::string::npos || url->lud_dn == nullptr || url->lud_attrs != nullptr ||
      url->lud_filter != nullptr) {
    return kInvalidArgument;
  }
  out->uri = location.substr(0, path);
  out->base = url->lud_dn;
  out->ldapi = scheme == "ldapi";
  for (char** ext = url->lud_exts; ext != nullptr && *ext != nullptr; ++ext) {
    std::string item = *ext;
    if (!item.empty() && item.front() == '!') item.erase(0, 1);
    const std::size_t equals = item.find('=');
    const std::string key = item.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
    if (key == "bindname") {
      out->bindDN = value;
    } else if (key == "x-password-file") {
      out->passwordFile = value;
    } else if (key == "x-server-id") {
      char* end = nullptr;
      const unsigned long id = std::strtoul(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || id > 4095) return kInvalidArgument;
      out->serverID = static_cast<uint16_t>(id);
    } else {
      return kInvalidArgument;
    }
  }
  if (out->bindDN.empty() != out->passwordFile.empty()) return kInvalidArgument;
  return 0;
}

int32_t LdapStore::Open(const std::string& location, std::unique_ptr<Store>* out) {
  LdapLocation where;
  if (const int32_t parsed = ParseLdapLocation(location, &where)) return parsed;
  std::unique_ptr<LdapStore> store(new LdapStore(std::move(where)));
  if (const int32_t connected = store->connect()) return connected;
  *out = std::move(store);
  return 0;
}

LdapStore::~LdapStore() {
  if (ld_ != nullptr) ldap_unbind_ext_s(ld_, nullptr, nullptr);
}

int32_t LdapStore::codeOf(int result) {
  switch (result) {
    case LDAP_SUCCESS:
      return 0;
    case LDAP_ALREADY_EXISTS:
      return kEntryExists;
    case LDAP_NO_SUCH_OBJECT:
      return kNoSuchEntry;
    case LDAP_INVALID_DN_SYNTAX:
      return kMalformedName;
    case LDAP_INVALID_CREDENTIALS:
    case LDAP_INAPPROPRIATE_AUTH:
    case LDAP_STRONG_AUTH_REQUIRED:
    case LDAP_INSUFFICIENT_ACCESS:
      return kCredentialsRefused;
    case LDAP_UNWILLING_TO_PERFORM:
      return kStoreReadOnly;
    case LDAP_OBJECT_CLASS_VIOLATION:
    case LDAP_UNDEFINED_TYPE:
      return kSchemaMissing;
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
    case LDAP_TIMEOUT:
      if (ld_ != nullptr) ldap_unbind_ext_s(ld_, nullptr, nullptr);
      ld_ = nullptr;
      return kServerUnreachable;
    case LDAP_NO_MEMORY:
      return kNoMemory;
    default:
      return kStoreError;
  }
}

namespace {

// A search answers entries faster than the store turns them into records. With the socket's
// default receive buffer the window closed once per large search, and the server then waited
// for its 200 ms window probe before sending the rest: a group read of 2,000 children took
// 230 ms instead of 30. A larger buffer, set once connected, keeps the window open. The
// system caps it (net.core.rmem_max); a failure leaves the default.
void WidenReceiveBuffer(LDAP* ld) {
  int descriptor = -1;
  if (ldap_get_option(ld, LDAP_OPT_DESC, &descriptor) != LDAP_OPT_SUCCESS || descriptor < 0) {
    return;
  }
  const int bytes = 4 << 20;
  setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

}  // namespace

int32_t LdapStore::ready() { return ld_ != nullptr ? 0 : connect(); }

int32_t LdapStore::connect() {
  if (ldap_initialize(&ld_, where_.uri.c_str()) != LDAP_SUCCESS || ld_ == nullptr) {
    ld_ = nullptr;
    return kInvalidArgument;
  }
  const int version = LDAP_VERSION3;
  ldap_set_option(ld_, LDAP_OPT_PROTOCOL_VERSION, &version);
  timeval networkTimeout{5, 0};
  ldap_set_option(ld_, LDAP_OPT_NETWORK_TIMEOUT, &networkTimeout);
  timeval requestTimeout{static_cast<time_t>(timeoutMs_ / 1000),
                         static_cast<suseconds_t>(timeoutMs_ % 1000) * 1000};
  ldap_set_option(ld_, LDAP_OPT_TIMEOUT, &requestTimeout);
  ldap_set_option(ld_, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);

  int bound = LDAP_SUCCESS;
  if (!where_.bindDN.empty()) {
    std::ifstream file(where_.passwordFile);
    std::string password;
    if (!file || !std::getline(file, password)) {
      ldap_unbind_ext_s(ld_, nullptr, nullptr);
      ld_ = nullptr;
      return kCredentialsRefused;
    }
    berval secret{static_cast<ber_len_t>(password.size()), password.data()};
    bound = ldap_sasl_bind_s(ld_, where_.bindDN.c_str(), LDAP_SASL_SIMPLE, &secret, nullptr,
                             nullptr, nullptr);
  } else if (where_.ldapi) {
    // An empty initial response: without one the server asks for more (result 14).
    berval none{0, const_cast<char*>("")};
    bound = ldap_sasl_bind_s(ld_, nullptr, "EXTERNAL", &none, nullptr, nullptr, nullptr);
  }
  if (bound != LDAP_SUCCESS) {
    const int32_t code = codeOf(bound);
    if (ld_ != nullptr) ldap_unbind_ext_s(ld_, nullptr, nullptr);
    ld_ = nullptr;
    return code == kStoreError ? kCredentialsRefused : code;
  }

  WidenReceiveBuffer(ld_);

  // The schema first (an unknown class in a filter would only match nothing), then the base.
  LDAPMessage* raw = nullptr;
  const char* schemaAttributes[] = {"objectClasses", nullptr};
  int found = ldap_search_ext_s(ld_, "cn=Subschema", LDAP_SCOPE_BASE, "(objectClass=subschema)",
                                const_cast<char**>(schemaAttributes), 0, nullptr, nullptr, nullptr,
                                0, &raw);
  Message schema(raw);
  if (found != LDAP_SUCCESS) return codeOf(found);
  bool known = false;
  LDAPMessage* entry = ldap_first_entry(ld_, schema.get());
  for (const std::string& definition : Values(ld_, entry, "objectClasses")) {
    // An older schema's entries cannot keep their change number: said here, not at each write.
    if (definition.find("NAME 'zelEntry'") != std::string::npos &&
        definition.find("zelChange") != std::string::npos) {
      known = true;
    }
  }
  if (!known) return kSchemaMissing;
  const char* none[] = {"1.1", nullptr};
  found = ldap_search_ext_s(ld_, where_.base.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                            const_cast<char**>(none), 0, nullptr, nullptr, nullptr, 0, &raw);
  Message base(raw);
  if (found == LDAP_NO_SUCH_OBJECT) return kBaseMissing;
  return codeOf(found);
}

std::string LdapStore::contextDN(uint32_t id) const {
  return "zelContextID=" + std::to_string(id) + "," + where_.base;
}

std::string LdapStore::entryDN(uint32_t id, std::u16string_view dn) const {
  const std::string text = ToUtf8(dn);
  const std::string rdn =
      text.size() <= kLongestNamingDN ? Rdn("zelDN", text) : Rdn("zelDNKey", LongDNKey(text));
  return rdn.empty() ? rdn : rdn + "," + contextDN(id);
}

// --- Contexts ---------------------------------------------------------------------------

int32_t LdapStore::bindContext(std::u16string_view key, bool byName, uint32_t* id) {
  if (const int32_t up = ready()) return up;
  const std::string filter = "(&(objectClass=zelContext)" +
                             Equals(byName ? "zelContextName" : "zelContextDN", ToUtf8(key)) + ")";
  const char* attributes[] = {"zelContextID", nullptr};
  LDAPMessage* raw = nullptr;
  const int found =
      ldap_search_ext_s(ld_, where_.base.c_str(), LDAP_SCOPE_ONELEVEL, filter.c_str(),
                        const_cast<char**>(attributes), 0, nullptr, nullptr, nullptr, 0, &raw);
  Message result(raw);
  if (found != LDAP_SUCCESS) return codeOf(found);
  LDAPMessage* entry = ldap_first_entry(ld_, result.get());
  if (entry == nullptr) return kNoSuchContext;
  const std::string text = Value(ld_, entry, "zelContextID");
  char* end = nullptr;
  *id = static_cast<uint32_t>(std::strtoul(text.c_str(), &end, 10));
  return text.empty() || *end != '\0' ? kStoreError : 0;
}

int32_t LdapStore::createContext(std::u16string_view name, std::u16string_view dn) {
  if (const int32_t up = ready()) return up;
  const uint32_t id = ContextID(name);
  Mods mods;
  mods.add("objectClass", {"zelContext"})
      .add("zelContextID", {std::to_string(id)})
      .add("zelContextName", {ToUtf8(name)})
      .add("zelContextDN", {ToUtf8(dn)});
  const int added = ldap_add_ext_s(ld_, contextDN(id).c_str(), mods.get(), nullptr, nullptr);
  if (added != LDAP_ALREADY_EXISTS) return codeOf(added);
  // There already: the same context (0), or another of that name's ID or DN.
  const char* attributes[] = {"zelContextName", "zelContextDN", nullptr};
  LDAPMessage* raw = nullptr;
  const int found =
      ldap_search_ext_s(ld_, contextDN(id).c_str(), LDAP_SCOPE_BASE, "(objectClass=zelContext)",
                        const_cast<char**>(attributes), 0, nullptr, nullptr, nullptr, 0, &raw);
  Message result(raw);
  if (found != LDAP_SUCCESS) return codeOf(found);
  LDAPMessage* entry = ldap_first_entry(ld_, result.get());
  if (entry == nullptr) return kStoreError;
  const bool same = Value(ld_, entry, "zelContextName") == ToUtf8(name) &&
                    Value(ld_, entry, "zelContextDN") == ToUtf8(dn);
  return same ? 0 : kContextConflict;
}

int32_t LdapStore::contextName(uint32_t id, std::u16string* name) {
  if (const int32_t up = ready()) return up;
  const char* attributes[] = {"zelContextName", nullptr};
  LDAPMessage* raw = nullptr;
  const int found =
      ldap_search_ext_s(ld_, contextDN(id).c_str(), LDAP_SCOPE_BASE, "(objectClass=zelContext)",
                        const_cast<char**>(attributes), 0, nullptr, nullptr, nullptr, 0, &raw);
  Message result(raw);
  if (found == LDAP_NO_SUCH_OBJECT) return kNoSuchContext;
  if (found != LDAP_SUCCESS) return codeOf(found);
  LDAPMessage* entry = ldap_first_entry(ld_, result.get());
  if (entry == nullptr) return kNoSuchContext;
  return FromUtf8(Value(ld_, entry, "zelContextName"), name) ? 0 : kStoreError;
}

// --- Entries ----------------------------------------------------------------------------

int32_t LdapStore::findByDN(uint32_t context, std::u16string_view dn, EntryHead* head) {
  if (const int32_t up = ready()) return up;
  const std::string target = entryDN(context, dn);
  if (target.empty()) return kMalformedName;
  const char* attributes[] = {"zelUID", "zelClass", "zelDN", nullptr};
  LDAPMessage* raw = nullptr;
  const int found =
      ldap_search_ext_s(ld_, target.c_str(), LDAP_SCOPE_BASE, "(objectClass=zelEntry)",
                        const_cast<char**>(attributes), 0, nullptr, nullptr, nullptr, 0, &raw);
  Message result(raw);
  if (found != LDAP_SUCCESS) return codeOf(found);
  LDAPMessage* entry = ldap_first_entry(ld_, result.get());
  if (entry == nullptr || Value(ld_, entry, "zelDN") != ToUtf8(dn)) return kNoSuchEntry;
  head->context = context;
  if (!ldap::ParseHex(Value(ld_, entry, "zelUID"), &head->uid) ||
      !FromUtf8(Value(ld_, entry, "zelClass"), &head->className)) {
    return kStoreError;
  }
  return 0;
}

int32_t LdapStore::entryChange(uint32_t context, std::u16string_view dn, uint64_t* uid,
                               uint64_t* number) {
  if (const int32_t up = ready()) return up;
  const std::string target = entryDN(context, dn);
  if (target.empty()) return kMalformedName;
  const char* attributes[] = {"zelUID", "zelDN", "zelChange", nullptr};
  LDAPMessage* raw = nullptr;
  const int found =
      ldap_search_ext_s(ld_, target.c_str(), LDAP_SCOPE_BASE, "(objectClass=zelEntry)",
                        const_cast<char**>(attributes), 0, nullptr, nullptr, nullptr, 0, &raw);
  Message result(raw);
  if (found == LDAP_NO_SUCH_OBJECT) return kNoSuchEntry;
  if (found != LDAP_SUCCESS) return codeOf(found);
  LDAPMessage* entry = ldap_first_entry(ld_, result.get());
  if (entry == nullptr || Value(ld_, entry, "zelDN") != ToUtf8(dn)) return kNoSuchEntry;
  const std::string stamp = Value(ld_, entry, "zelChange");
  *number = 0;
  if (!ldap::ParseHex(Value(ld_, entry, "zelUID"), uid) ||
      (!stamp.empty() && !ldap::ParseHex(stamp, number))) {
    return kStoreError;
  }
  return 0;
}

int32_t LdapStore::locate(uint64_t uid, std::string* ldapDN, StoredEntry* stored) {
  if (const int32_t up = ready()) return up;
  const std::string filter = "(&(objectClass=zelEntry)" + Equals("zelUID", Hex(uid, 16)) + ")";
  const char* headOnly[] = {"zelUID", "zelDN", "zelClass", nullptr};
  LDAPMessage* raw = nullptr;
  const int found =
      ldap_search_ext_s(ld_, where_.base.c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(),
                        const_cast<char**>(stored != nullptr ? kEntryAttributes : headOnly), 0,
                        nullptr, nullptr, nullptr, 0, &raw);
  Message result(raw);
  if (found != LDAP_SUCCESS) return codeOf(found);
  LDAPMessage* entry = ldap_first_entry(ld_, result.get());
  if (entry == nullptr) return kNoSuchEntry;
  *ldapDN = DNOf(ld_, entry);
  uint32_t context = 0;
  if (!ContextOf(*ldapDN, &context)) return kStoreError;
  StoredEntry local;
  return ReadEntry(ld_, entry, context, stored != nullptr ? stored : &local);
}

int32_t LdapStore::findByUID(uint64_t uid, EntryHead* head) {
  std::string ldapDN;
  StoredEntry entry;
  if (const int32_t found = locate(uid, &ldapDN, &entry)) return found;
  *head = EntryHead{entry.uid, entry.context, entry.className};
  return 0;
}

int32_t LdapStore::load(uint64_t uid, StoredEntry* entry) {
  std::string ldapDN;
  return locate(uid, &ldapDN, entry);
}

int32_t LdapStore::reserveBlock() {
  const std::string dn = "zelServerID=" + std::to_string(where_.serverID) + "," + where_.base;
  const char* attributes[] = {"zelNextSequence", nullptr};
  for (int attempt = 0; attempt < 100; ++attempt) {
    LDAPMessage* raw = nullptr;
    const int found =
        ldap_search_ext_s(ld_, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=zelSequence)",
                          const_cast<char**>(attributes), 0, nullptr, nullptr, nullptr, 0, &raw);
    Message result(raw);
    LDAPMessage* entry = found == LDAP_SUCCESS ? ldap_first_entry(ld_, result.get()) : nullptr;
    if (found == LDAP_NO_SUCH_OBJECT || (found == LDAP_SUCCESS && entry == nullptr)) {
      // The server's first block: sequence numbers from 1.
      Mods mods;
      mods.add("objectClass", {"zelSequence"})
          .add("zelServerID", {std::to_string(where_.serverID)})
          .add("zelNextSequence", {std::to_string(1 + kSequenceBlock)});
      const int added = ldap_add_ext_s(ld_, dn.c_str(), mods.get(), nullptr, nullptr);
      if (added == LDAP_ALREADY_EXISTS) continue;  // another process made it first
      if (added != LDAP_SUCCESS) return codeOf(added);
      nextSequence_ = 1;
      endSequence_ = 1 + kSequenceBlock;
      return 0;
    }
    if (found != LDAP_SUCCESS) return codeOf(found);
    const std::string next = Value(ld_, entry, "zelNextSequence");
    const uint64_t first = std::strtoull(next.c_str(), nullptr, 10);
    if (first == 0 || first + kSequenceBlock > 0xFFFFFFFFull) return kStoreError;
    // Compare and swap: removing the value read fails when another process moved it since.
    Mods mods;
    mods.add("zelNextSequence", {next}, LDAP_MOD_DELETE)
        .add("zelNextSequence", {std::to_string(first + kSequenceBlock)}, LDAP_MOD_ADD);
    const int swapped = ldap_modify_ext_s(ld_, dn.c_str(), mods.get(), nullptr, nullptr);
    if (swapped == LDAP_NO_SUCH_ATTRIBUTE) continue;
    if (swapped != LDAP_SUCCESS) return codeOf(swapped);
    nextSequence_ = first;
    endSequence_ = first + kSequenceBlock;
    return 0;
  }
  return kStoreError;
}

int32_t LdapStore::nextUID(uint64_t* uid) {
  if (nextSequence_ == endSequence_) {
    if (const int32_t reserved = reserveBlock()) return reserved;
  }
  *uid = (uint64_t{where_.serverID} << 48) | (0x0121ull << 32) | nextSequence_++;
  return 0;
}

int32_t LdapStore::logChange(uint32_t context, Change* change, std::string* recordDN) {
  const uint64_t micros =
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count());
  uint64_t number = (micros << 12) | where_.serverID;
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (number <= lastChange_) number = (((lastChange_ >> 12) + 1) << 12) | where_.serverID;
    *recordDN = "zelChange=" + Hex(number, 16) + "," + contextDN(context);
    Mods mods;
    mods.add("objectClass", {"zelChangeRecord"})
        .add("zelChange", {Hex(number, 16)})
        .add("zelChangeKind", {std::to_string(change->kind)})
        .add("zelContextID", {std::to_string(context)})
        .add("zelUID", {Hex(change->uid, 16)})
        .add("zelDN", {ToUtf8(change->dn)});
    const int added = ldap_add_ext_s(ld_, recordDN->c_str(), mods.get(), nullptr, nullptr);
    lastChange_ = number;
    if (added == LDAP_ALREADY_EXISTS) continue;  // another process of this server, same moment
    if (added == LDAP_NO_SUCH_OBJECT) return kNoSuchContext;
    if (added != LDAP_SUCCESS) return codeOf(added);
    change->number = number;
    return 0;
  }
  return kStoreError;
}

void LdapStore::dropRecord(const std::string& recordDN) {
  if (ld_ != nullptr) ldap_delete_ext_s(ld_, recordDN.c_str(), nullptr, nullptr);
}

void LdapStore::tell(uint32_t context, const Change& change) {
  std::lock_guard<std::mutex> hold(listenersLock_);
  for (auto& [id, listener] : listeners_) {
    if (listener.context != context) continue;
    listener.listener(context, change);
    listener.told.insert(change.number);  // poll passes over it
  }
}

int32_t LdapStore::insert(uint32_t context, std::u16string_view dn, std::u16string_view className,
                          const std::vector<StoredValue>& values, uint64_t* uid,
                          std::u16string* madeDN) {
  if (const int32_t up = ready()) return up;
  for (const StoredValue& value : values) {
    if (value.attribute.size() > 0x7FFF || value.typeName.size() > 0x7FFF) return kValueTooLarge;
  }
  if (const int32_t made = nextUID(uid)) return made;
  *madeDN = dn.empty() ? u"@" + std::u16string(ZELString::FromUtf8(Hex(*uid, 16)).view())
                       : std::u16string(dn);
  const std::string target = entryDN(context, *madeDN);
  if (target.empty()) return kMalformedName;

  std::vector<std::string> records, texts;
  for (std::size_t i = 0; i < values.size(); ++i) {
    records.push_back(ldap::EncodeValue(static_cast<uint32_t>(i), values[i]));
    const std::u16string text = TextForm(values[i]);
    if (!text.empty()) texts.push_back(ldap::TextKey(values[i].attribute, text));
  }
  std::sort(texts.begin(), texts.end());
  texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
  const ZELString name{std::u16string(*madeDN)};
  Mods mods;
  mods.add("objectClass", {"zelEntry"})
      .add("zelDN", {ToUtf8(*madeDN)})
      .add("zelParent", {ToUtf8(name.parentDistinguishedName().view())})
      .add("zelUID", {Hex(*uid, 16)})
      .add("zelClass", {ToUtf8(className)});
  if (!records.empty()) mods.add("zelValue", std::move(records));
  if (!texts.empty()) mods.add("zelText", std::move(texts));
  const std::string text = ToUtf8(*madeDN);
  if (text.size() > kLongestNamingDN) mods.add("zelDNKey", {LongDNKey(text)});

  Change change{0, Change::kAdded, *uid, *madeDN};
  std::string recordDN;
  if (const int32_t logged = logChange(context, &change, &recordDN)) return logged;
  mods.add("zelChange", {Hex(change.number, 16)});
  const int added = ldap_add_ext_s(ld_, target.c_str(), mods.get(), nullptr, nullptr);
  if (added != LDAP_SUCCESS) {
    dropRecord(recordDN);
    return codeOf(added);
  }
  tell(context, change);
  return 0;
}

int32_t LdapStore::replaceValues(uint64_t uid, const std::vector<std::u16string>& attributes,
                                 const std::vector<StoredValue>& values) {
  std::string ldapDN;
  StoredEntry entry;
  if (const int32_t found = locate(uid, &ldapDN, &entry)) return found;
  std::vector<StoredValue> kept;
  for (StoredValue& value : entry.values) {
    if (std::find(attributes.begin(), attributes.end(), value.attribute) == attributes.end()) {
      kept.push_back(std::move(value));
    }
  }
  kept.insert(kept.end(), values.begin(), values.end());
  std::vector<std::string> records, texts;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (kept[i].attribute.size() > 0x7FFF || kept[i].typeName.size() > 0x7FFF) {
      return kValueTooLarge;
    }
    records.push_back(ldap::EncodeValue(static_cast<uint32_t>(i), kept[i]));
    const std::u16string text = TextForm(kept[i]);
    if (!text.empty()) texts.push_back(ldap::TextKey(kept[i].attribute, text));
  }
  std::sort(texts.begin(), texts.end());
  texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
  Mods mods;
  mods.add("zelValue", std::move(records), LDAP_MOD_REPLACE)
      .add("zelText", std::move(texts), LDAP_MOD_REPLACE);

  Change change{0, Change::kUpdated, uid, entry.dn};
  std::string recordDN;
  if (const int32_t logged = logChange(entry.context, &change, &recordDN)) return logged;
  mods.add("zelChange", {Hex(change.number, 16)}, LDAP_MOD_REPLACE);
  const int modified = ldap_modify_ext_s(ld_, ldapDN.c_str(), mods.get(), nullptr, nullptr);
  if (modified != LDAP_SUCCESS) {
    dropRecord(recordDN);
    return codeOf(modified);
  }
  tell(entry.context, change);
  return 0;
}

int32_t LdapStore::remove(uint64_t uid) {
  std::string ldapDN;
  StoredEntry entry;
  if (const int32_t found = locate(uid, &ldapDN, &entry)) return found;
  Change change{0, Change::kDeleted, uid, entry.dn};
  std::string recordDN;
  if (const int32_t logged = logChange(entry.context, &change, &recordDN)) return logged;
  const int deleted = ldap_delete_ext_s(ld_, ldapDN.c_str(), nullptr, nullptr);
  if (deleted != LDAP_SUCCESS) {
    dropRecord(recordDN);
    return codeOf(deleted);
  }
  tell(entry.context, change);
  return 0;
}

int32_t LdapStore::search(const SearchQuery& query, std::vector<StoredEntry>* matches) {
  if (const int32_t up = ready()) return up;
  // Entries lie flat below their context: one level is an equality on the parent, the subtree
  // takes the context's entries and keeps those below the base.
  std::string filter = "(&(objectClass=zelEntry)";
  const std::string base = ToUtf8(query.base);
  if (!query.subtree) filter += Equals("zelParent", base);
  if (!query.attribute.empty()) {
    filter += Equals("zelText", ldap::TextKey(query.attribute, query.text));
  }
  filter += ")";
  // Each entry is taken as it arrives and freed: a synchronous search would first chain every
  // entry into one result, which costs libldap time that grows faster than the entries.
  // The whole subtree of the context (its entries are all directly below it, and the filter
  // leaves out the context and the change records): slapd takes a subtree search's candidates
  // from the filter's indexes, while a one-level search first lists every child of the base,
  // so a lookup by an indexed text would grow with the context.
  int id = 0;
  const int sent =
      ldap_search_ext(ld_, contextDN(query.context).c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(),
                      const_cast<char**>(kEntryAttributes), 0, nullptr, nullptr, nullptr, 0, &id);
  if (sent != LDAP_SUCCESS) return codeOf(sent);
  timeval wait{static_cast<time_t>(timeoutMs_ / 1000),
               static_cast<suseconds_t>(timeoutMs_ % 1000) * 1000};
  const std::string after = ToUtf8(query.after);
  std::vector<std::pair<std::string, StoredEntry>> kept;
  for (;;) {
    LDAPMessage* raw = nullptr;
    const int type = ldap_result(ld_, id, LDAP_MSG_ONE, &wait, &raw);
    Message message(raw);
    if (type <= 0) {
      ldap_abandon_ext(ld_, id, nullptr, nullptr);
      return codeOf(type == 0 ? LDAP_TIMEOUT : LDAP_SERVER_DOWN);
    }
    if (type == LDAP_RES_SEARCH_RESULT) {
      int code = LDAP_OTHER;
      ldap_parse_result(ld_, message.get(), &code, nullptr, nullptr, nullptr, nullptr, 0);
      if (code == LDAP_NO_SUCH_OBJECT) return 0;  // no such context: nothing below it
      if (code != LDAP_SUCCESS) return codeOf(code);
      break;
    }
    if (type != LDAP_RES_SEARCH_ENTRY) continue;  // a referral: none here
    LDAPMessage* entry = message.get();
    std::string dn = Value(ld_, entry, "zelDN");
    if (!query.after.empty() && !NameBefore(after, dn)) continue;
    StoredEntry stored;
    if (const int32_t read = ReadEntry(ld_, entry, query.context, &stored)) {
      ldap_abandon_ext(ld_, id, nullptr, nullptr);
      return read;
    }
    if (query.subtree && !base.empty()) {
      const ZELString name{stored.dn};
      const std::string parent = ToUtf8(name.parentDistinguishedName().view());
      if (parent != base && parent.compare(0, base.size() + 1, base + "/") != 0) continue;
    }
    kept.emplace_back(std::move(dn), std::move(stored));
  }
  std::sort(kept.begin(), kept.end(),
            [](const auto& a, const auto& b) { return NameBefore(a.first, b.first); });
  if (query.limit != 0 && kept.size() > query.limit) kept.resize(query.limit);
  for (auto& [dn, stored] : kept) matches->push_back(std::move(stored));
  return 0;
}

// --- Changes ----------------------------------------------------------------------------

namespace {

const char* kChangeAttributes[] = {"zelChange", "zelChangeKind", "zelUID", "zelDN", nullptr};

}  // namespace

int32_t LdapStore::changesSince(uint32_t context, uint64_t since, uint32_t maxCount,
                                std::vector<Change>* changes, bool* more) {
  if (const int32_t up = ready()) return up;
  if (since == UINT64_MAX) {
    *more = false;
    return 0;
  }
  const std::string filter =
      "(&(objectClass=zelChangeRecord)(zelChange>=" + Hex(since + 1, 16) + "))";
  LDAPMessage* raw = nullptr;
  const int found = ldap_search_ext_s(ld_, contextDN(context).c_str(), LDAP_SCOPE_ONELEVEL,
                                      filter.c_str(), const_cast<char**>(kChangeAttributes), 0,
                                      nullptr, nullptr, nullptr, 0, &raw);
  Message result(raw);
  *more = false;
  if (found == LDAP_NO_SUCH_OBJECT) return 0;
  if (found != LDAP_SUCCESS) return codeOf(found);
  std::vector<Change> read;
  for (LDAPMessage* entry = ldap_first_entry(ld_, result.get()); entry != nullptr;
       entry = ldap_next_entry(ld_, entry)) {
    Change change;
    const std::string kind = Value(ld_, entry, "zelChangeKind");
    if (!ldap::ParseHex(Value(ld_, entry, "zelChange"), &change.number) ||
        !ldap::ParseHex(Value(ld_, entry, "zelUID"), &change.uid) ||
        !FromUtf8(Value(ld_, entry, "zelDN"), &change.dn) || kind.size() != 1 || kind[0] < '1' ||
        kind[0] > '3') {
      return kStoreError;
    }
    change.kind = static_cast<uint8_t>(kind[0] - '0');
    read.push_back(std::move(change));
  }
  std::sort(read.begin(), read.end(),
            [](const Change& a, const Change& b) { return a.number < b.number; });
  const uint32_t limit = maxCount == 0 ? kChangesAtOnce : maxCount;
  if (read.size() > limit) {
    read.resize(limit);
    *more = true;
  }
  changes->insert(changes->end(), read.begin(), read.end());
  return 0;
}

int32_t LdapStore::changeNumber(uint32_t context, uint64_t* number) {
  std::vector<Change> all;
  bool more = false;
  *number = 0;
  // Only the numbers are needed, but a context's log is read whole here.
  if (const int32_t read = changesSince(context, 0, UINT32_MAX, &all, &more)) return read;
  if (!all.empty()) *number = all.back().number;
  return 0;
}

int32_t LdapStore::subscribe(uint32_t context, ChangeListener listener, uint32_t* subscription) {
  uint64_t now = 0;
  if (const int32_t read = changeNumber(context, &now)) return read;
  std::lock_guard<std::mutex> hold(listenersLock_);
  *subscription = ++lastSubscription_;
  listeners_[*subscription] = Listener{context, std::move(listener), now, now, {}};
  return 0;
}

int32_t LdapStore::unsubscribe(uint32_t subscription) {
  std::lock_guard<std::mutex> hold(listenersLock_);
  return listeners_.erase(subscription) == 1 ? 0 : kInvalidArgument;
}

int32_t LdapStore::setTimeout(uint32_t milliseconds) {
  if (milliseconds == 0) return kInvalidArgument;
  timeoutMs_ = milliseconds;
  if (ld_ == nullptr) return 0;
  timeval requestTimeout{static_cast<time_t>(timeoutMs_ / 1000),
                         static_cast<suseconds_t>(timeoutMs_ % 1000) * 1000};
  return ldap_set_option(ld_, LDAP_OPT_TIMEOUT, &requestTimeout) == LDAP_OPT_SUCCESS ? 0
                                                                                     : kStoreError;
}

int32_t LdapStore::changeStamp(ZEL_DIR_ChangeStamp* /*stamp*/) { return kNotSupported; }

int32_t LdapStore::poll() {
  std::vector<std::pair<uint32_t, uint32_t>> wanted;  // subscription, context
  {
    std::lock_guard<std::mutex> hold(listenersLock_);
    for (const auto& [id, listener] : listeners_) wanted.emplace_back(id, listener.context);
  }
  for (const auto& [id, context] : wanted) {
    uint64_t from = 0;
    {
      std::lock_guard<std::mutex> hold(listenersLock_);
      const auto it = listeners_.find(id);
      if (it == listeners_.end()) continue;
      // Again from a while back: a change numbered before the last one seen may reach this
      // replica after it.
      from = std::max(it->second.start,
                      it->second.seen > kLateWindow ? it->second.seen - kLateWindow : 0);
    }
    std::vector<Change> changes;
    bool more = true;
    while (more) {
      const uint64_t since = changes.empty() ? from : changes.back().number;
      if (const int32_t read = changesSince(context, since, 0, &changes, &more)) return read;
    }
    std::lock_guard<std::mutex> hold(listenersLock_);
    const auto it = listeners_.find(id);
    if (it == listeners_.end()) continue;
    Listener& listener = it->second;
    for (const Change& change : changes) {
      listener.seen = std::max(listener.seen, change.number);
      if (!listener.told.insert(change.number).second) continue;  // told already
      listener.listener(context, change);
    }
    // Numbers older than the window are never read again.
    if (listener.seen > kLateWindow) {
      listener.told.erase(listener.told.begin(),
                          listener.told.lower_bound(listener.seen - kLateWindow));
    }
  }
  return 0;
}

}  // namespace zel::dir
