#include "zel/subsystem/admintool.h"

#include <chrono>
#include <exception>
#include <utility>

#include "src/store_follower.h"
#include "zel/admintool/exceptions.h"
#include "zel/runtime/codes.h"
#include "zel/subsystem/codes.h"

namespace zel::subsystem {

namespace {

constexpr ZELVersion kReplyVersion{1, 0};

}  // namespace

uint64_t Context::Now() const {
  if (options.clock) return options.clock();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

void DispatchTable::Add(uint16_t eventID, Effect effect, Handler handler) {
  entries_.insert_or_assign(eventID, Entry{effect, std::move(handler)});
}

const DispatchTable::Entry* DispatchTable::Find(uint16_t eventID) const {
  const auto found = entries_.find(eventID);
  return found != entries_.end() ? &found->second : nullptr;
}

std::vector<uint16_t> DispatchTable::EventIDs() const {
  std::vector<uint16_t> ids;
  for (const auto& [id, entry] : entries_) ids.push_back(id);
  return ids;
}

void RegisterAllHandlers(DispatchTable& table) {
  RegisterAdminHandlers(table);
  RegisterCapabilityHandlers(table);
  RegisterAuditHandlers(table);
  RegisterCredentialHandlers(table);
  RegisterTreeHandlers(table);
  RegisterDirectoryHandlers(table);
}

void ExpectEnd(const ZEL_BUF_BufferReader& in) {
  if (in.GetRemaining() != 0) {
    throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kMalformed);
  }
}

AdminToolSubsystem::AdminToolSubsystem(ZEL_PIF_ISubSystem& host, Options options)
    : host_(host),
      options_(std::move(options)),
      directory_(host),
      admins_(directory_),
      authoriser_(admins_, sessions_),
      audit_(directory_),
      notifier_(host),
      credentials_(options_),
      context_{host_,  directory_, admins_,  sessions_,   authoriser_,
               audit_, notifier_,  options_, credentials_} {
  RegisterAllHandlers(table_);
}

AdminToolSubsystem::~AdminToolSubsystem() = default;

int32_t AdminToolSubsystem::FollowOtherServers(const std::function<void(std::string_view)>& log) {
  std::lock_guard lock(mutex_);
  if (!follower_) follower_ = std::make_unique<StoreFollower>(host_, options_.serverID, log);
  return follower_->Follow();
}

void AdminToolSubsystem::Attach(zel::rt::FarmSubsystem& host) {
  host.SetCallerRequestHandler(
      [this](const zel::rt::Caller& caller, const ZEL_BUF_EventBuffer& request,
             ZEL_BUF_EventBuffer** reply) { return Handle(caller, request, reply); });
}

int32_t AdminToolSubsystem::Run(Call& call) {
  const DispatchTable::Entry* entry = table_.Find(call.request.GetEventID());
  if (entry == nullptr) return kNotSupported;
  int32_t result = kInternalError;
  try {
    result = entry->handler(context_, call);
  } catch (const ZEL_BUF_ReadException& e) {
    result =
        e.reason() == ZEL_BUF_ReadException::Reason::kNoMemory ? kInternalError : kMalformedRequest;
  } catch (const ZEL_BUF_AppendException&) {
    result = kReplyTooLarge;
  } catch (const std::exception&) {  // no storage, or a failure no handler foresaw
    result = kInternalError;
  } catch (const ::bad_alloc&) {  // the library's records without storage
    result = kInternalError;
  }
  if (entry->effect == Effect::kChanges) {
    if (call.what.empty()) call.what.push_back('-');  // (an assign trips GCC 12's -Wrestrict)
    Audit(call.caller, call.request.GetEventID(), call.what, result);
  }
  return result;
}

void AdminToolSubsystem::Audit(const zel::rt::Caller& caller, uint16_t eventID,
                               const std::string& what, int32_t result) {
  Identity who;
  const std::string actor = authoriser_.Identify(caller, &who) == 0 ? who.Text() : caller.peer;
  zel::protocol::AuditRecord record;
  record.when = context_.Now();
  record.actor = ZELString::FromUtf8(actor);
  record.peer = ZELString::FromUtf8(caller.peer);
  record.eventID = eventID;
  record.what = ZELString::FromUtf8(what);
  record.result = result;
  audit_.Append(record);  // a change is not undone because its record could not be kept
}

int32_t AdminToolSubsystem::Handle(const zel::rt::Caller& caller,
                                   const ZEL_BUF_EventBuffer& request,
                                   ZEL_BUF_EventBuffer** reply) {
  *reply = nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  admins_.NewRequest();
  ZEL_BUF_BufferReader in(const_cast<ZEL_BUF_EventBuffer*>(&request), 0);
  ZEL_BUF_EventBuffer fields(request.GetEventID(), kReplyVersion, 0);
  Call call{caller, request, in, fields, {}, {}};
  const int32_t result = Run(call);
  if (call.replacement && result >= 0) {
    *reply = call.replacement.release();
    return 0;
  }
  const auto makeReply = [&]() -> std::unique_ptr<ZEL_BUF_EventBuffer> {
    ZEL_BUF_EventBuffer* made = nullptr;
    if (request.CreateReplyEvent(&made, request.GetEventID(), kReplyVersion,
                                 static_cast<uint16_t>(host_.GetSubsystemUID()), 0) < 0) {
      return nullptr;
    }
    return std::unique_ptr<ZEL_BUF_EventBuffer>(made);
  };
  std::unique_ptr<ZEL_BUF_EventBuffer> answer = makeReply();
  if (!answer) return zel::rt::kNoMemory;
  try {
    *answer << result;
    if (result >= 0 && fields.GetSize() != 0) {
      const int32_t appended = answer->AppendData(fields.GetData(), fields.GetSize());
      if (appended < 0) throw ZEL_BUF_AppendException(appended);
    }
  } catch (const ZEL_BUF_AppendException&) {
    answer = makeReply();  // the fields do not fit: the code alone
    if (!answer) return zel::rt::kNoMemory;
    *answer << kReplyTooLarge;
  }
  *reply = answer.release();
  return 0;
}

void AdminToolSubsystem::ConnectionClosed(uint64_t connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.ConnectionClosed(connection);
  table_.ConnectionClosed(connection);
}

}  // namespace zel::subsystem
