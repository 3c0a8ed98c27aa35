#include "backend.h"

#include "zel/directory/codes.h"

namespace zel::dir {

Store::~Store() = default;

int32_t Store::enterScope() {
  if (scopes() == Scopes::kRefused) return kNotSupported;
  if (scopeDepth_ == 0) {
    if (const int32_t begun = begin()) return begun;
    scopeFailure_ = 0;
  }
  ++scopeDepth_;
  return 0;
}

int32_t Store::leaveScope(bool commit) {
  if (!commit) failScope(kStoreError);
  if (--scopeDepth_ > 0) return scopeFailure_;
  ++scopesEnded_;
  if (scopeFailure_ != 0) {
    rollback();
    return scopeFailure_;
  }
  if (this->commit() == 0) return 0;
  rollback();  // a failed COMMIT leaves the transaction open
  return kStoreError;
}

int32_t Store::setTimeout(uint32_t /*milliseconds*/) { return kNotSupported; }

int32_t Store::poll() { return kNotSupported; }

int32_t Store::entryChange(uint32_t, std::u16string_view, uint64_t*, uint64_t*) {
  return kNotSupported;
}

int32_t Store::deliver(const ZEL_BUF_EventBuffer& /*notification*/) { return kNotSupported; }

}  // namespace zel::dir
