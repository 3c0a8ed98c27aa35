// The administrator accounts of a logon ticket (interface level 4), with its own stricter codes:
// a failed write or a short reply is 0x80000001, and positive send or reply results end the
// call without output.
#include "admintool/admins/record_wire.h"
#include "admintool/sal/exchange.h"
#include "admintool/trace/trace.h"

namespace {

constexpr uint32_t kTicketBytes = 120;

}  // namespace

int32_t ZEL_AdminToolSAL5::GetVoAdminAccountsForTicket(uint8_t* ticket,
                                                       _VoAdminAccounts*& accounts) {
  accounts = nullptr;
  int32_t forwarded = 0;
  if (zel::sal::ForwardToLocal(
          *this,
          [&](AdminToolInterface4& local) {
            return local.GetVoAdminAccountsForTicket(ticket, accounts);
          },
          &forwarded)) {
    return forwarded;
  }
  if (ticket == nullptr) return ZEL_E_INVALID_ARG;
  const zel::sal::Request request{86, kTicketBytes, 4, nullptr, ZEL_E_FAIL, ZEL_E_FAIL, true};
  auto release = [&] {
    if (accounts != nullptr) zel::sal::ReleasePlain(accounts->accountUIDs);
    zel::sal::ReleasePlain(accounts);
    accounts = nullptr;
  };
  const int32_t result = zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this), request,
      [&](ZEL_BUF_EventBuffer& event) { return event.AppendData(ticket, kTicketBytes); },
      [&](ZEL_BUF_BufferReader& reply, int32_t answer) -> int32_t {
        if (answer != 0) {
          zel::trace::TraceCode(zel::trace::kInfo, zel::trace::kTicketReplyResult, answer);
          return answer;  // no output for a positive result either
        }
        try {
          accounts = zel::sal::AllocatePlainArray<_VoAdminAccounts>(1);
          if (accounts == nullptr) throw ::bad_alloc();
          accounts->accountUIDs = nullptr;
          reply >> accounts->accountCount;
          int32_t code = 0;
          if (accounts->accountCount != 0) {
            code =
                zel::admins::ReadPlainArray(reply, accounts->accountCount, &accounts->accountUIDs);
          }
          if (code < 0) return code;
          reply >> accounts->value1 >> accounts->value2 >> accounts->value3 >> accounts->value4;
          return code;
        } catch (const ::bad_alloc&) {
          release();
          return ZEL_E_NO_EVENT;
        }
      },
      release);
  if (result < 0) zel::trace::TraceCode(zel::trace::kError, zel::trace::kTicketFailed, result);
  zel::trace::TraceCode(zel::trace::kInfo, zel::trace::kTicketResult, result);
  return result;
}
