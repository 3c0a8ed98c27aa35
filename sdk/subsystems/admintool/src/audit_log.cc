// Audit records are entries of the audit context, directly below it, with names the directory
// makes up ("@" and the UID in 16 hex digits), so that name order is the order they were added.
// The cookie of a page is the UID of its last record:
//
//   cookie = uid:uint64 (little-endian), or empty for the first page
#include "zel/subsystem/audit_log.h"

#include <algorithm>

#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/subsystem/codes.h"

namespace zel::subsystem {

namespace {

constexpr const char16_t* kContextName = u"ZelAuditContext";
constexpr const char16_t* kContextBinding = u"&ZelAuditContext";
constexpr const char16_t* kContextDN = u"ZelFarm/Audit";
constexpr const char16_t* kRecordClass = u"zelAuditRecord";
constexpr uint16_t kCssCode = 7;

class RecordEntry : public ZEL_DIR_Entry {
 public:
  RecordEntry(ZEL_DIR_ServiceInterface* service, uint32_t context)
      : ZEL_DIR_Entry(service, ZELString(), context, kRecordClass, 0) {}

  int32_t DataMapHandler(uint8_t direction) override {
    if (direction == 1) {
      AddValue(u"when", u"uint64", 13, &record.when, sizeof record.when);
      Text(u"actor", record.actor);
      Text(u"peer", record.peer);
      AddValue(u"event", u"uint16", 11, &record.eventID, sizeof record.eventID);
      Text(u"what", record.what);
      AddValue(u"result", u"uint32", 12, &record.result, sizeof record.result);
      return 0;
    }
    record = zel::protocol::AuditRecord{};
    MapFixSizeDataFromDir(u"when", &record.when, sizeof record.when);
    MapStringDataFromDir(u"actor", record.actor);
    MapStringDataFromDir(u"peer", record.peer);
    MapFixSizeDataFromDir(u"event", &record.eventID, sizeof record.eventID);
    MapStringDataFromDir(u"what", record.what);
    MapFixSizeDataFromDir(u"result", &record.result, sizeof record.result);
    return 0;
  }

  zel::protocol::AuditRecord record;

 private:
  void Text(const char16_t* attribute, const ZELString& text) {
    AddValue(attribute, u"css", kCssCode, text.getName(), text.getLength());
  }
};

std::vector<uint8_t> CookieOf(uint64_t uid) {
  std::vector<uint8_t> cookie(8);
  for (int i = 0; i < 8; ++i) cookie[static_cast<size_t>(i)] = static_cast<uint8_t>(uid >> (8 * i));
  return cookie;
}

}  // namespace

int32_t AuditLog::Open() {
  if (context_ != 0) return 0;
  if (const int32_t created = directory_.CreateDataContext(kContextName, kContextDN)) {
    return created;
  }
  return directory_.BindLDAP(kContextBinding, context_);
}

int32_t AuditLog::Append(const zel::protocol::AuditRecord& record) {
  if (const int32_t opened = Open()) return opened;
  RecordEntry entry(&directory_, context_);
  entry.record = record;
  return entry.Add();
}

int32_t AuditLog::Query(const zel::protocol::AuditQueryRequest& query,
                        zel::protocol::AuditQueryReply* reply) {
  reply->records.clear();
  reply->cookie.clear();
  uint64_t after = 0;
  if (!query.cookie.empty()) {
    if (query.cookie.size() != 8) return kMalformedRequest;
    for (int i = 7; i >= 0; --i) after = (after << 8) | query.cookie[static_cast<size_t>(i)];
  }
  if (const int32_t opened = Open()) return opened;
  ZELString filter;
  if (!query.actor.isEmpty()) filter = ZELString(u"actor=") += query.actor;
  ZEL_DIR_SearchHelper search(&directory_, ZEL_DIR_SearchHelper::kOneLevel, ZELString(), context_,
                              filter, ZELString(u"*"));
  uint32_t count = 0;
  if (const int32_t searched = search.Search(count)) return searched;
  // Pages stop at the count asked or at what one event holds, whichever comes first.
  const uint32_t most = query.maxCount != 0 ? query.maxCount : UINT32_MAX;
  uint64_t size = zel::protocol::EncodedSize(*reply);
  ZELString name;
  RecordEntry entry(&directory_, context_);
  uint64_t last = 0;
  for (int32_t got = search.GetFirstEntry(name, entry); got != zel::dir::kNoMore;
       got = search.GetNextEntry(name, entry)) {
    if (got != 0) return got;
    const uint64_t uid = entry.GetUID();
    const zel::protocol::AuditRecord& r = entry.record;
    if (uid <= after || r.when < query.from || (query.to != 0 && r.when >= query.to)) continue;
    const uint64_t grown = size + zel::protocol::EncodedSize(r);
    if (reply->records.size() == most || grown + 8 > zel::protocol::kMaxPayload) {
      reply->cookie = CookieOf(last);
      return 0;
    }
    size = grown;
    reply->records.push_back(r);
    last = uid;
  }
  return 0;
}

}  // namespace zel::subsystem
