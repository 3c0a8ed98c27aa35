// Blanking what a monitor must not see: one row per payload, the input and the expected bytes
// written out by hand (hex, spaces between fields), of the library's events and of ours. Secret
// contents become zero bytes with their counts kept; whatever follows the last field read whole
// becomes zero bytes too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zel/admintool/protocol/describe.h"

namespace {

using zel::protocol::Direction;

std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::string digits;
  for (const char c : text) {
    if (c != ' ') digits += c;
  }
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string Repeat(const std::string& hex, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += hex;
  return out;
}

TEST(BlankSecretsTest, ZeroesSecretsAndWhatCannotBeClassified) {
  const struct {
    const char* what;
    uint16_t event;
    Direction direction;
    std::string input;
    std::string expected;
    uint32_t kept;  // what BlankSecrets answers
  } kCases[] = {
      {"SetCredential: both passwords' contents", 1005, Direction::kRequest,
       "0100000000000000 02000000 6162 03000000 78797a",
       "0100000000000000 02000000 0000 03000000 000000", 21},
      {"SetCredential: a count past the end stops at that field", 1005, Direction::kRequest,
       "0100000000000000 02000000 6162 09000000 78797a",
       "0100000000000000 02000000 0000 00000000 000000", 14},
      {"SetCredential: a password that is not UTF-8 stops at that field", 1005, Direction::kRequest,
       "0100000000000000 02000000 6162 01000000 ff", "0100000000000000 02000000 0000 00000000 00",
       14},
      {"IssueTicket reply: the ticket", 1007, Direction::kReply, "00000000 " + Repeat("ab", 120),
       "00000000 " + Repeat("00", 120), 124},
      {"IssueTicket reply: a failure carries nothing, trailing bytes zeroed", 1007,
       Direction::kReply, "fbffffff abcd", "fbffffff 0000", 4},
      {"ImportCredentials: each hash", 1023, Direction::kRequest,
       "01000000 0200000000000000 03000000 aabbcc", "01000000 0200000000000000 03000000 000000",
       19},
      {"Logon2 request: the credentials, the name kept", 65, Direction::kRequest,
       "06000000 6a006f000000 04000000 01020304", "06000000 6a006f000000 04000000 00000000", 18},
      {"Logon2 reply: a failure's trailing bytes", 65, Direction::kReply, "ffffffff 1234",
       "ffffffff 0000", 4},
      {"event 82: the enciphered password after the node head and account", 82, Direction::kRequest,
       "02000000 0000 02000000 0000 02000000 0000 0000 1600 0000000000000000 0700000000000000 "
       "04000000 61000000 02000000 5a5a",
       "02000000 0000 02000000 0000 02000000 0000 0000 1600 0000000000000000 0700000000000000 "
       "04000000 61000000 02000000 0000",
       52},
      {"DeleteUser: no secret, nothing changed", 27, Direction::kRequest,
       "02000000 0100000000000000 0200000000000000", "02000000 0100000000000000 0200000000000000",
       20},
      {"DeleteUser: trailing bytes zeroed", 27, Direction::kRequest, "01000000 0100000000000000 ff",
       "01000000 0100000000000000 00", 12},
      {"DeleteUser: a count that cannot fit zeroes from the count", 27, Direction::kRequest,
       "05000000 0100000000000000", "00000000 0000000000000000", 0},
      {"an event without a message that way: all of it", 1005, Direction::kNotification,
       "0100000000000000", "0000000000000000", 0},
      {"an unknown event: all of it", 500, Direction::kRequest, "01020304", "00000000", 0},
  };
  for (const auto& c : kCases) {
    std::vector<uint8_t> payload = Hex(c.input);
    const std::vector<uint8_t> expected = Hex(c.expected);
    ASSERT_EQ(payload.size(), expected.size()) << c.what;
    const uint32_t kept = zel::admintool::BlankSecrets(c.event, c.direction, payload.data(),
                                                       static_cast<uint32_t>(payload.size()));
    EXPECT_EQ(payload, expected) << c.what;
    EXPECT_EQ(kept, c.kept) << c.what;
    // What was blanked still reads as the original did: the same fields, secrets as zeros.
    const auto original = zel::admintool::DescribeEvent(c.event, c.direction, Hex(c.input).data(),
                                                        static_cast<uint32_t>(payload.size()));
    const auto blanked = zel::admintool::DescribeEvent(c.event, c.direction, payload.data(),
                                                       static_cast<uint32_t>(payload.size()));
    if (original.parsed && original.trailing == 0) {
      EXPECT_EQ(blanked.Text(), original.Text()) << c.what;
    }
  }
}

}  // namespace
