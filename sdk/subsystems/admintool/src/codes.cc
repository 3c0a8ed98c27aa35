#include "zel/subsystem/codes.h"

namespace zel::subsystem {

const char* CodeText(int32_t code) {
  switch (code) {
    case kOk:
      return "success";
    case kUnrestricted:
      return "the owner: no folder limits";
    case kNotSupported:
      return "the subsystem does not answer this event";
    case kMalformedRequest:
      return "the request does not parse";
    case kAccessDenied:
      return "the acting identity lacks the privilege";
    case kNoSuchAdministrator:
      return "no such administrator";
    case kInvalidAccount:
      return "the account is not valid";
    case kInvalidRequest:
      return "the request asks for something the subsystem refuses";
    case kReplyTooLarge:
      return "the reply does not fit in one event";
    case kNotAdministrator:
      return "the caller is no administrator";
    case kInternalError:
      return "the subsystem failed";
    case kLogonRefused:
      return "the name or the password is wrong";
    case kLogonSlowed:
      return "too many failed logons: try again later";
    case kTicketInvalid:
      return "the ticket is not valid";
    case kNoFarmKeys:
      return "the farm has no keys";
    default:
      return "";
  }
}

}  // namespace zel::subsystem
