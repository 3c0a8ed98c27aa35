// The directory service: data contexts of the farm's directory, kept in the store the host
// subsystem names: an embedded SQLite file, or (for a console) the farm server's store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "zel/directory/export.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/pif.h"
#include "zel/runtime/strings.h"

// Interface number, in the host subsystem's plug-in API table, of the store location.
inline constexpr uint32_t kZelDirectoryStoreInterface = 2400;

// What a host offers under kZelDirectoryStoreInterface: where the farm's directory lives.
class ZEL_DIR_StoreLocation {
 public:
  // The store location (UTF-8):
  // - "farm:": the farm server's store. Every operation is a request of ours to the AdminTool
  //   subsystem (UID 22) through the host's send path, which the server runs after checking
  //   the caller's privileges; only the library's contexts are reached. A transaction scope
  //   answers kNotSupported (each write is atomic by itself).
  // - "sqlite:PATH", a plain path or a "file:" URI: a SQLite store file, created when missing;
  //   a URI's "?mode=ro" opens it for reading only. A store that cannot be written is read;
  //   writes to it answer kStoreReadOnly.
  // - "ldap://", "ldaps://", "ldapi://" URLs: kNotSupported (no LDAP backend yet).
  // An empty location, "sqlite:" alone or anything after "farm:" is kInvalidArgument.
  virtual std::string StorePath() = 0;

 protected:
  ~ZEL_DIR_StoreLocation() = default;
};

namespace zel::dir {
class Store;
}

// What tells a reader that the store may have changed since it last looked: commits by other
// connections (other processes, other services on the file), changes made through this one, and
// transaction scopes ended (a rollback undoes changes without counting any). Equal stamps, with
// no scope open, mean nothing changed in between; inside a scope what is read may still be
// rolled back.
struct ZEL_DIR_ChangeStamp {
  uint64_t commitsElsewhere = 0;
  uint64_t changesHere = 0;
  uint64_t scopesEnded = 0;
  bool inScope = false;
  bool operator==(const ZEL_DIR_ChangeStamp&) const = default;
};

// The service the entry and search classes work through.
class ZEL_DIRECTORY_API ZEL_DIR_ServiceInterface {
 public:
  virtual ~ZEL_DIR_ServiceInterface();
  // The open store backend, or null with the reason in *code.
  virtual zel::dir::Store* OpenStore(int32_t* code) = 0;
};

// The persistent-store access object, built on a host subsystem. It opens the store at its
// first operation (and again after a failure to open), never at construction.
class ZEL_DIRECTORY_API ZEL_PS_LDAPSAL : public ZEL_DIR_ServiceInterface,
                                         public zel::rt::SeamAllocated {
 public:
  explicit ZEL_PS_LDAPSAL(ZEL_PIF_ISubSystem& host);
  ZEL_PS_LDAPSAL(const ZEL_PS_LDAPSAL&) = delete;
  ZEL_PS_LDAPSAL& operator=(const ZEL_PS_LDAPSAL&) = delete;
  ~ZEL_PS_LDAPSAL() override;

  // The ID of a context into contextID: 0, or a negative code. A name that begins with '&'
  // names the context by the name it was created with; any other names it by its DN.
  virtual int32_t BindLDAP(const ZELString& contextName, uint32_t& contextID);
  // Creates the context `contextName` at `dn`: 0 (also when it exists with that DN), or a
  // negative code.
  virtual int32_t CreateDataContext(const ZELString& contextName, const ZELString& dn);

  zel::dir::Store* OpenStore(int32_t* code) override;

  // The store's change stamp (opening the store first): 0, or the reason it cannot be had
  // (kNotSupported over `farm:`, whose store changes behind the console's back). A caller that
  // keeps what it read may keep using it while the stamp stays the same.
  int32_t ChangeStamp(ZEL_DIR_ChangeStamp* stamp);

 private:
  ZEL_PIF_ISubSystem& host_;
  std::unique_ptr<zel::dir::Store> store_;
};
