// What zeladmin prints: aligned tables for people, JSON for scripts, and one line per error.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace zeladmin {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitUnreachable = 3;

// A failed step: what was being done and the code it answered.
struct Failure {
  std::string doing;
  int32_t code = 0;
  std::string detail;  // the words, when the code alone does not say enough
};

// The code's symbolic name ("kAccessDenied"), or "" for one no table here knows.
std::string CodeName(int32_t code);
// The line an error prints: "0x80070003 kAccessDenied: reading the administrators: ...".
std::string ErrorLine(const Failure& failure);
// The exit status of a failure: 3 when the farm could not be reached, else 1.
int ExitStatus(const Failure& failure);

struct Output {
  bool json = false;
  bool quiet = false;
};

// Prints the failure's line on stderr and answers its exit status.
int Fail(const Failure& failure);
// Prints "zeladmin: MESSAGE" on stderr and answers the usage error's status.
int Usage(const std::string& message);
// A UID as scripts read it: "0x" and 16 lower-case hex digits.
std::string Hex(uint64_t uid);
// "done/total" on stderr when it is a terminal (the line rewritten in place), nothing on a pipe.
void Progress(const char* what, std::size_t done, std::size_t total);

// Prints rows under a header, each column as wide as its widest cell.
void PrintTable(const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows);

}  // namespace zeladmin
