#include "zel/directory/service.h"

#include "names.h"
#include "store.h"
#include "zel/directory/codes.h"
#include "zel/runtime/alloc.h"

ZEL_DIR_ServiceInterface::~ZEL_DIR_ServiceInterface() = default;

ZEL_PS_LDAPSAL::ZEL_PS_LDAPSAL(ZEL_PIF_ISubSystem& host) : host_(host) {}

ZEL_PS_LDAPSAL::~ZEL_PS_LDAPSAL() = default;

zel::dir::Store* ZEL_PS_LDAPSAL::OpenStore(int32_t* code) {
  if (store_) return store_.get();
  ZelPluginApiTable* table = host_.GetPluginApis();
  void* offered = nullptr;
  if (table == nullptr || table->AcquireInterface(kZelDirectoryStoreInterface, &offered) < 0 ||
      offered == nullptr) {
    *code = zel::dir::kNoStore;
    return nullptr;
  }
  const std::string path = static_cast<ZEL_DIR_StoreLocation*>(offered)->StorePath();
  table->ReleaseInterface(kZelDirectoryStoreInterface, offered);
  *code = zel::dir::Store::Open(path, &store_);
  return store_.get();
}

int32_t ZEL_PS_LDAPSAL::ChangeStamp(ZEL_DIR_ChangeStamp* stamp) {
  int32_t code = 0;
  zel::dir::Store* db = OpenStore(&code);
  if (db == nullptr) return code;
  // data_version moves with every commit of another connection; total_changes counts the rows
  // this connection changed (a rolled back change too, which only costs a reader a reload).
  zel::dir::Statement version = db->prepare("PRAGMA data_version");
  if (version.step() != SQLITE_ROW) return zel::dir::kStoreError;
  stamp->commitsElsewhere = static_cast<uint64_t>(version.columnInt(0));
  stamp->changesHere = static_cast<uint64_t>(sqlite3_total_changes64(db->db()));
  stamp->scopesEnded = db->scopesEnded();
  stamp->inScope = db->inScope();
  return 0;
}

int32_t ZEL_PS_LDAPSAL::BindLDAP(const ZELString& contextName, uint32_t& contextID) {
  if (contextName.isEmpty()) return zel::dir::kInvalidArgument;
  int32_t code = 0;
  zel::dir::Store* db = OpenStore(&code);
  if (db == nullptr) return code;
  const bool byName = contextName.view().front() == u'&';
  zel::dir::Statement lookup = db->prepare(byName ? "SELECT id FROM contexts WHERE name = ?1"
                                                  : "SELECT id FROM contexts WHERE dn = ?1");
  const ZELString key = byName ? ZELString(contextName.view().substr(1)) : contextName;
  lookup.bind(1, key.view());
  const int stepped = lookup.step();
  if (stepped == SQLITE_DONE) return zel::dir::kNoSuchContext;
  if (stepped != SQLITE_ROW) return zel::dir::kStoreError;
  contextID = static_cast<uint32_t>(lookup.columnInt(0));
  return 0;
}

int32_t ZEL_PS_LDAPSAL::CreateDataContext(const ZELString& contextName, const ZELString& dn) {
  if (contextName.isEmpty() || contextName.view().front() == u'&') {
    return zel::dir::kInvalidArgument;
  }
  if (!zel::dir::IsWellFormedDN(dn.view())) return zel::dir::kMalformedName;
  int32_t code = 0;
  zel::dir::Store* db = OpenStore(&code);
  if (db == nullptr) return code;
  // One statement: a context that exists with the same DN is not an error, so processes that
  // race to create it all succeed.
  zel::dir::Statement insert =
      db->prepare("INSERT INTO contexts(name, dn) VALUES(?1, ?2) ON CONFLICT(name) DO NOTHING");
  insert.bind(1, contextName.view()).bind(2, dn.view());
  if (insert.step() != SQLITE_DONE) {
    return db->readOnly() ? zel::dir::kStoreReadOnly : zel::dir::kStoreError;
  }
  zel::dir::Statement check = db->prepare("SELECT dn = ?2 FROM contexts WHERE name = ?1");
  check.bind(1, contextName.view()).bind(2, dn.view());
  if (check.step() != SQLITE_ROW) return zel::dir::kStoreError;
  return check.columnInt(0) != 0 ? 0 : zel::dir::kContextConflict;
}
