#include "zel/directory/transaction.h"

#include "backend.h"
#include "zel/directory/codes.h"

ZEL_DIR_Transaction::ZEL_DIR_Transaction(ZEL_DIR_ServiceInterface* service) {
  if (service == nullptr) {
    status_ = zel::dir::kNoStore;
    return;
  }
  zel::dir::Store* store = service->OpenStore(&status_);
  if (store == nullptr) return;
  status_ = store->enterScope();
  if (status_ == 0) store_ = store;
}

ZEL_DIR_Transaction::~ZEL_DIR_Transaction() {
  if (store_ != nullptr && !ended_) store_->leaveScope(false);
}

int32_t ZEL_DIR_Transaction::Commit() {
  if (store_ == nullptr) return status_;
  if (ended_) return 0;
  ended_ = true;
  return store_->leaveScope(true);
}
