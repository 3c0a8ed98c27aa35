#include "secrets/logon_gate.h"

#include <gtest/gtest.h>

#include <string>

namespace zel::secrets {
namespace {

using protocol::SecretBytes;

class LogonGateTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(hasher_.Hash("right", &hash_), HashResult::kOk); }
  LogonOutcome Try(const char* password, bool known = true, bool owner = false) {
    LogonAttempt attempt{"NORTH\\alice", "unix:bob", password, known ? &hash_ : nullptr, owner};
    return gate_.Check(attempt);
  }
  PasswordHasher hasher_{HashLimits::kMin};
  uint64_t now_ = 5'000'000;
  LogonThrottle throttle_{[this] { return now_; }};
  LogonGate gate_{hasher_, throttle_};
  SecretBytes hash_;
};

TEST_F(LogonGateTest, AttemptsInARow) {
  struct Row {
    const char* password;
    bool known, owner;
    uint64_t advanceMs;  // before the attempt
    LogonOutcome outcome;
  };
  using O = LogonOutcome;
  const Row rows[] = {
      {"right", true, false, 0, O::kAccepted},
      {"wrong", true, false, 0, O::kRefused},
      {"right", false, false, 0, O::kRefused},    // the name is nobody's: the same answer
      {"", true, false, 0, O::kRefused},          // third failure: the next waits 1 s
      {"right", true, false, 0, O::kSlowedDown},  // not even checked
      {"right", true, true, 0, O::kAccepted},     // the owner is never slowed, nor clears it
      {"right", true, false, 999, O::kSlowedDown},
      {"wrong", true, false, 1, O::kRefused},  // checked again; the next waits 2 s
      {"right", true, false, 1999, O::kSlowedDown},
      {"wrong", true, true, 0, O::kRefused},  // an owner's failure counts for nothing
      {"right", true, false, 1, O::kAccepted},
      {"wrong", true, false, 0, O::kRefused},  // a success started the count again
      {"wrong", true, false, 0, O::kRefused},
      {"right", true, false, 0, O::kAccepted},
  };
  int i = 0;
  for (const Row& row : rows) {
    now_ += row.advanceMs;
    EXPECT_EQ(Try(row.password, row.known, row.owner), row.outcome) << "attempt " << i;
    ++i;
  }
}

TEST(PasswordToUtf8Test, ConvertsUpToTheFirstNulAndRefusesBrokenText) {
  struct Row {
    std::u16string in;
    bool ok;
    std::string out;
  };
  const std::u16string longest(127, u'\u00e4');
  std::u16string astral;
  for (int i = 0; i < 127; ++i) astral += u"\U0001F600";
  std::string astralUtf8;
  for (int i = 0; i < 127; ++i) astralUtf8 += "\xf0\x9f\x98\x80";
  const Row rows[] = {
      {u"abc", true, "abc"},
      {u"", true, ""},
      {u"p\u00e4\u20ac", true, "p\xc3\xa4\xe2\x82\xac"},
      {u"\U0001F600", true, "\xf0\x9f\x98\x80"},
      {std::u16string(u"ab\0cd", 5), true, "ab"},
      {longest, true, std::string(127 * 2, ' ')},  // only the length is compared
      {astral, true, astralUtf8},
      {longest + u"x", false, ""},
      {std::u16string(1, char16_t{0xD83D}), false, ""},
      {std::u16string{char16_t{0xD83D}, u'a'}, false, ""},
      {std::u16string(1, char16_t{0xDE00}), false, ""},
  };
  for (const Row& row : rows) {
    char out[kMaxPasswordBytes];
    std::size_t length = 0;
    EXPECT_EQ(PasswordToUtf8(row.in, out, &length), row.ok) << row.out;
    if (!row.ok) continue;
    if (row.in == longest) {
      EXPECT_EQ(length, 254u);
    } else {
      EXPECT_EQ(std::string(out, length), row.out);
    }
  }
}

}  // namespace
}  // namespace zel::secrets
