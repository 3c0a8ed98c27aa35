#include "output.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace zeladmin {
namespace {

struct Named {
  uint32_t code;
  const char* name;
};

// The codes a console meets: the runtime's and the transport's, the subsystem's, the
// directory's and the library's most common ones.
constexpr Named kNames[] = {
    {0x80010001u, "kNoMemory"},
    {0x80010002u, "kEventTooLarge"},
    {0x80010003u, "kNoSuchSubsystem"},
    {0x80010004u, "kNoTransport"},
    {0x80010005u, "kInvalidArgument"},
    {0x80010006u, "kNoSuchInterface"},
    {0x80010007u, "kNoReply"},
    {0x80010008u, "kNotAccepted"},
    {0x80010009u, "kServerGone"},
    {0x8001000Au, "kConnectionBroken"},
    {0x8001000Bu, "kTimeout"},
    {0x8001000Cu, "kRefused"},
    {0x8001000Du, "kVersionMismatch"},
    {0x80070001u, "kNotSupported"},
    {0x80070002u, "kMalformedRequest"},
    {0x80070003u, "kAccessDenied"},
    {0x80070004u, "kNoSuchAdministrator"},
    {0x80070005u, "kInvalidAccount"},
    {0x80070006u, "kInvalidRequest"},
    {0x80070007u, "kReplyTooLarge"},
    {0x80070008u, "kNotAdministrator"},
    {0x80070009u, "kInternalError"},
    {0x80070020u, "kLogonRefused"},
    {0x80070021u, "kLogonSlowed"},
    {0x80070022u, "kTicketInvalid"},
    {0x80070023u, "kNoFarmKeys"},
    {0x80000001u, "ZEL_E_FAIL"},
    {0x80000002u, "ZEL_E_NO_EVENT"},
    {0x80000003u, "ZEL_E_INVALID_ARG"},
    {0x80060008u, "ZEL_E_SHORT_REPLY"},
    {0x80060009u, "ZEL_E_WRITE_FAILED"},
    {0x8006000Du, "ZEL_E_DIR_NOT_FOUND"},
    {0x80060015u, "ZEL_E_DIR_NO_MORE"},
    {0x80060020u, "ZEL_E_NO_DISPATCHER"},
};

}  // namespace

std::string CodeName(int32_t code) {
  for (const Named& n : kNames) {
    if (n.code == static_cast<uint32_t>(code)) return n.name;
  }
  return "";
}

std::string ErrorLine(const Failure& failure) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<uint32_t>(failure.code));
  std::string line = hex;
  const std::string name = CodeName(failure.code);
  if (!name.empty()) line += " " + name;
  line += ": " + failure.doing;
  if (!failure.detail.empty()) line += ": " + failure.detail;
  return line;
}

int ExitStatus(const Failure& failure) {
  switch (static_cast<uint32_t>(failure.code)) {
    case 0x80010004u:  // no transport
    case 0x80010009u:  // server gone
    case 0x8001000Au:  // connection broken
    case 0x8001000Bu:  // timeout
    case 0x8001000Cu:  // refused
    case 0x8001000Du:  // another protocol version
      return kExitUnreachable;
    default:
      return kExitFailed;
  }
}

void PrintTable(const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths(header.size(), 0);
  auto widen = [&](const std::vector<std::string>& row) {
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      widths[i] = std::max(widths[i], row[i].size());
    }
  };
  widen(header);
  for (const auto& row : rows) widen(row);
  auto print = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    std::cout << line << '\n';
  };
  print(header);
  for (const auto& row : rows) print(row);
}

}  // namespace zeladmin
