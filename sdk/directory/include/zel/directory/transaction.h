// A transaction scope on the directory service: several entry writes that succeed or fail
// together.
//
//   {
//     ZEL_DIR_Transaction scope(&directory);
//     if (scope.status() != 0) return scope.status();
//     ... entry.Add(), other.Update(), third.DelEntry() ...
//     return scope.Commit();
//   }
//
// While a scope is open on a service, every Add, Update and DelEntry (and context creation)
// through it joins the scope instead of being a transaction of its own. Scopes nest: an inner
// scope joins the outermost one. Only the outermost writes: its Commit commits when every write
// inside succeeded, and otherwise rolls back and answers the first failure. A scope that ends
// without Commit (abandoned: an early return, an exception) rolls everything back; an inner one
// that is abandoned makes the outermost roll back.
//
// A scope belongs to one thread and one service object; other services (other connections to
// the store, other processes) wait for it as for any write.
#pragma once

#include <cstdint>

#include "zel/directory/export.h"
#include "zel/directory/service.h"

class ZEL_DIRECTORY_API ZEL_DIR_Transaction {
 public:
  explicit ZEL_DIR_Transaction(ZEL_DIR_ServiceInterface* service);
  ZEL_DIR_Transaction(const ZEL_DIR_Transaction&) = delete;
  ZEL_DIR_Transaction& operator=(const ZEL_DIR_Transaction&) = delete;
  // Rolls back when it was not committed (see above).
  ~ZEL_DIR_Transaction();

  // 0 when the scope is open (begun, or joined); else why it is not (kNoStore, kStoreReadOnly,
  // kStoreError; kNotSupported over `farm:`, where each write is a request of its own), and
  // every write through the service then answers as it would without it.
  int32_t status() const { return status_; }
  // Ends the scope. An inner scope answers 0 (or the failure seen so far); the outermost one
  // commits and answers 0, or rolls back and answers the first failed write's code (or
  // kStoreError when the commit itself failed). Once ended, a scope does nothing more.
  int32_t Commit();

 private:
  zel::dir::Store* store_ = nullptr;
  int32_t status_ = 0;
  bool ended_ = false;
};
