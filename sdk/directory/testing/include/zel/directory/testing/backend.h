// Backends for the directory's store suite: each gives a directory service on a fresh, empty
// store of its kind. The suite (tests/store_suite.cc) runs unchanged on every backend listed
// where it is instantiated.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "zel/directory/service.h"
#include "zel/directory/testing/temp_store.h"
#include "zel/runtime/testing/scripted_host.h"

namespace zel::dir {
// A change reads in a failed expectation as its number, kind, UID and DN.
inline void PrintTo(const Change& change, std::ostream* out) {
  *out << "{#" << change.number << " kind " << int{change.kind} << " uid " << std::hex << change.uid
       << std::dec << " " << ZELString(std::u16string_view(change.dn)).toUtf8() << "}";
}
}  // namespace zel::dir

namespace zel::dir::testing {

// One directory under test; everything it started ends with it.
class DirectoryUnderTest {
 public:
  virtual ~DirectoryUnderTest() = default;
  virtual ZEL_PS_LDAPSAL& Directory() = 0;
};

struct Backend {
  std::string name;  // the suite's instance name: letters and digits
  std::function<std::unique_ptr<DirectoryUnderTest>()> make;
  // What a transaction scope is: writes that succeed or fail together; writes that stand one
  // by one while the scope answers the first failure; or refused (kNotSupported).
  enum class Scopes { kAtomic, kOrdered, kRefused };
  Scopes scopes = Scopes::kAtomic;
};
inline void PrintTo(const Backend& backend, std::ostream* out) { *out << backend.name; }

// SQLite on a real store file in a temporary folder.
class SqliteDirectory final : public DirectoryUnderTest {
 public:
  SqliteDirectory() { host_.Plugins().Offer(kZelDirectoryStoreInterface, &store_); }
  ZEL_PS_LDAPSAL& Directory() override { return directory_; }

 private:
  TempStore store_;
  zel::rt::testing::ScriptedHost host_;
  ZEL_PS_LDAPSAL directory_{host_};
};

// A directory on the store location `location` (a path, a URI, an LDAP URL), as another
// process would have it.
class DirectoryAt : public DirectoryUnderTest {
 public:
  explicit DirectoryAt(const std::string& location) : location_(location) {
    host_.Plugins().Offer(kZelDirectoryStoreInterface, &location_);
  }
  ZEL_PS_LDAPSAL& Directory() override { return directory_; }

 private:
  StoreAt location_;
  zel::rt::testing::ScriptedHost host_;
  ZEL_PS_LDAPSAL directory_{host_};
};

inline Backend SqliteBackend() {
  return Backend{"SQLite", [] { return std::make_unique<SqliteDirectory>(); },
                 Backend::Scopes::kAtomic};
}

// The backends the store suite runs on: defined once by each test program that runs it.
std::vector<Backend> BackendsUnderTest();

}  // namespace zel::dir::testing
