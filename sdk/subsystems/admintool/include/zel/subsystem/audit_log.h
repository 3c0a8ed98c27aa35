// The farm's audit: one record per change the subsystem was asked for, kept in a directory
// context of its own (who acted and from which peer, when, which event, what, the result). A
// record never holds a secret: handlers describe changes by names and UIDs only.
#pragma once

#include <cstdint>
#include <functional>

#include "zel/directory/service.h"
#include "zel/protocol/audit.h"

namespace zel::subsystem {

class AuditLog {
 public:
  explicit AuditLog(ZEL_PS_LDAPSAL& directory) : directory_(directory) {}

  // Binds (creating when missing) the audit context.
  int32_t Open();
  // Appends one record (in its own transaction unless a scope is open).
  int32_t Append(const zel::protocol::AuditRecord& record);
  // One page of the records the query selects, oldest first (see zel/protocol/audit.h); the
  // reply's cookie goes on after its last record. kMalformedRequest for a cookie that is not
  // one of ours.
  int32_t Query(const zel::protocol::AuditQueryRequest& query,
                zel::protocol::AuditQueryReply* reply);

 private:
  ZEL_PS_LDAPSAL& directory_;
  uint32_t context_ = 0;
};

}  // namespace zel::subsystem
