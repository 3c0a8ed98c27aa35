// The administrator accounts of a logon ticket (interface level 4), with its own stricter codes:
// a failed write or a short reply is 0x80000001, and positive send or reply results end the
// call without output.
#include "admintool/sal/exchange.h"
#include "admintool/trace/trace.h"
#include "zel/admintool/protocol/messages.h"

namespace atp = zel::admintool;

int32_t ZEL_AdminToolSAL5::GetVoAdminAccountsForTicket(uint8_t* ticket,
                                                       _VoAdminAccounts*& accounts) {
  accounts = nullptr;
  if (auto local = zel::sal::ForwardToLocal(*this, [&](AdminToolInterface4& l) {
        return l.GetVoAdminAccountsForTicket(ticket, accounts);
      })) {
    return *local;
  }
  if (ticket == nullptr) return ZEL_E_INVALID_ARG;
  atp::GetVoAdminAccountsForTicketRequest request{ticket};
  zel::sal::Request codes{};
  codes.writeFailedCode = ZEL_E_FAIL;
  codes.shortReplyCode = ZEL_E_FAIL;
  codes.nonzeroSendEnds = true;
  codes.appendCodeAsIs = true;
  auto release = [&] {
    if (accounts != nullptr) zel::sal::ReleasePlain(accounts->accountUIDs);
    zel::sal::ReleasePlain(accounts);
    accounts = nullptr;
  };
  const int32_t result = zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this), zel::sal::RequestFor(request, codes),
      zel::sal::MessageWriter(request),
      [&](ZEL_BUF_BufferReader& reader, int32_t answer) {
        if (answer != 0) {
          zel::trace::TraceCode(zel::trace::kInfo, zel::trace::kTicketReplyResult, answer);
          return answer;  // no output for a positive result either
        }
        accounts = zel::sal::AllocatePlainArray<_VoAdminAccounts>(1);
        if (accounts == nullptr) return ZEL_E_NO_EVENT;
        accounts->accountCount = 0;
        accounts->accountUIDs = nullptr;
        atp::GetVoAdminAccountsForTicketReply reply{*accounts};
        return atp::ReadMessage(reader, reply);
      },
      release);
  if (result < 0) zel::trace::TraceCode(zel::trace::kError, zel::trace::kTicketFailed, result);
  zel::trace::TraceCode(zel::trace::kInfo, zel::trace::kTicketResult, result);
  return result;
}
