// Tickets: issued by the subsystem to the acting administrator (a request of ours), checked by
// the library's GetVoAdminAccountsForTicket. A ticket is a secret: it goes to a file of mode
// 0600, or as hex to stdout when no file is named.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <iterator>

#include "commands.h"
#include "zel/protocol/credentials.h"

namespace zeladmin {
namespace {

using nlohmann::json;

constexpr int32_t kBadFile = static_cast<int32_t>(0x80010005u);  // kInvalidArgument

}  // namespace

int TicketIssue(Command& c, const std::string& out) {
  zel::protocol::IssueTicketRequest request;
  zel::protocol::IssueTicketReply reply;
  const int32_t result = c.farm.Ours(request, &reply);
  if (result < 0) return Fail({"issuing a ticket", result, ""});
  if (out.empty()) {
    std::string hex;
    for (const uint8_t b : reply.ticket) {
      static const char kDigits[] = "0123456789abcdef";
      hex += kDigits[b >> 4];
      hex += kDigits[b & 15];
    }
    std::cout << (c.out.json ? json{{"ticket", hex}}.dump() : hex) << '\n';
    return kExitOk;
  }
  const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const bool written = fd >= 0 && fchmod(fd, 0600) == 0 &&
                       write(fd, reply.ticket.data(), reply.ticket.size()) ==
                           static_cast<ssize_t>(reply.ticket.size());
  if (fd >= 0) close(fd);
  if (!written) return Fail({"writing the ticket to " + out, kBadFile, "cannot write it"});
  if (c.out.json) std::cout << json{{"file", out}, {"bytes", reply.ticket.size()}}.dump() << '\n';
  return kExitOk;
}

int TicketAccounts(Command& c, const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> ticket((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
  if (ticket.size() != zel::protocol::kTicketSize) {
    return Fail({"reading the ticket " + file, kBadFile,
                 "a ticket is 120 bytes, this file holds " + std::to_string(ticket.size())});
  }
  _VoAdminAccounts* accounts = nullptr;
  const int32_t result = c.farm.Sal().GetVoAdminAccountsForTicket(ticket.data(), accounts);
  if (result < 0) return Fail({"checking the ticket " + file, result, ""});
  json uids = json::array();
  for (uint32_t i = 0; accounts != nullptr && i < accounts->accountCount; ++i) {
    char uid[24];
    std::snprintf(uid, sizeof uid, "0x%016llx",
                  static_cast<unsigned long long>(accounts->accountUIDs[i]));
    uids.push_back(uid);
  }
  if (accounts != nullptr) {  // the UID array first, then the structure
    c.farm.Sal().FreeMemory(accounts->accountUIDs, ZEL_AdminToolSAL3::kFreePlainArray);
    c.farm.Sal().FreeMemory(accounts, ZEL_AdminToolSAL3::kFreePlainArray);
  }
  if (c.out.json) {
    std::cout << json{{"accounts", uids}}.dump() << '\n';
  } else {
    for (const auto& uid : uids) std::cout << uid.get<std::string>() << '\n';
  }
  return kExitOk;
}

}  // namespace zeladmin
