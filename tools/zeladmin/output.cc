#include "output.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include <unistd.h>

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
    {0x80030003u, "kNoSuchContext"},
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
    {0x80070101u, "kNoSuchFolder"},
    {0x80070102u, "kNameTaken"},
    {0x80070103u, "kFolderNotEmpty"},
    {0x80070104u, "kNoSuchMember"},
    {0x80070105u, "kInvalidMove"},
    {0x80070106u, "kInvalidName"},
    {0x80070107u, "kTooManyNodes"},
    {0x80070108u, "kTreeChanged"},
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

int Fail(const Failure& failure) {
  std::cerr << "zeladmin: " << ErrorLine(failure) << '\n';
  return ExitStatus(failure);
}

int Usage(const std::string& message) {
  std::cerr << "zeladmin: " << message << '\n';
  return kExitUsage;
}

std::string Hex(uint64_t uid) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(uid));
  return text;
}

void Progress(const char* what, std::size_t done, std::size_t total) {
  if (isatty(STDERR_FILENO) == 0 || total == 0) return;
  constexpr std::size_t kWidth = 30;
  const std::size_t filled = done * kWidth / total;
  std::cerr << '\r' << what << " [" << std::string(filled, '#') << std::string(kWidth - filled, ' ')
            << "] " << done << "/" << total << std::flush;
  if (done == total) std::cerr << '\n';
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
