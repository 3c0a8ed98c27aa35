#include "secrets/password_hash.h"

#include <gtest/gtest.h>

#include <string>

namespace zel::secrets {
namespace {

using protocol::SecretBytes;

TEST(HashLimitsTest, NamesAreTheOptionsWords) {
  struct Row {
    const char* text;
    bool known;
    HashLimits limits;
  };
  const Row rows[] = {
      {"min", true, HashLimits::kMin},           {"interactive", true, HashLimits::kInteractive},
      {"moderate", true, HashLimits::kModerate}, {"", false, HashLimits::kMin},
      {"Min", false, HashLimits::kMin},          {"sensitive", false, HashLimits::kMin}};
  for (const Row& row : rows) {
    HashLimits limits = HashLimits::kModerate;
    EXPECT_EQ(ParseHashLimits(row.text, &limits), row.known) << row.text;
    EXPECT_EQ(limits, row.known ? row.limits : HashLimits::kModerate) << row.text;
  }
}

class PasswordHashTest : public ::testing::Test {
 protected:
  PasswordHasher hasher_{HashLimits::kMin};
};

TEST_F(PasswordHashTest, VerifiesOnlyTheSamePassword) {
  struct Row {
    std::string stored, tried;
    bool match;
  };
  const std::string longest(127, 'x');
  const Row rows[] = {
      {"s3cret", "s3cret", true},
      {"s3cret", "s3creT", false},
      {"s3cret", "s3cret ", false},
      {"s3cret", "", false},
      {"", "", true},
      {"p\xc3\xa4ss", "p\xc3\xa4ss", true},
      {"p\xc3\xa4ss", "pass", false},
      {longest, longest, true},
      {longest, longest + "x", false},
      {std::string("a\0b", 3), "a", false},
  };
  ASSERT_TRUE(hasher_.ok());
  for (const Row& row : rows) {
    SecretBytes hash;
    ASSERT_EQ(hasher_.Hash(row.stored, &hash), HashResult::kOk) << row.stored;
    EXPECT_TRUE(IsStoredHash(hash.view())) << hash.view();
    EXPECT_EQ(hash.view().find("s3cret"), std::string_view::npos);
    EXPECT_EQ(hasher_.Verify(hash, row.tried), row.match) << row.stored << " / " << row.tried;
  }
}

TEST_F(PasswordHashTest, RefusesWhatIsNoPassword) {
  const std::string rows[] = {std::string(128, 'x'), "\xff", "\xc0\xaf", "\xed\xa0\x80",
                              std::string(127, 'x') + "\xc3\xa4"};
  for (const std::string& row : rows) {
    SecretBytes hash(std::string_view("untouched"));
    EXPECT_EQ(hasher_.Hash(row, &hash), HashResult::kInvalidPassword) << row.size();
    EXPECT_EQ(hash.view(), "untouched");
  }
}

TEST_F(PasswordHashTest, AnEmptyPasswordMayHaveNoBytesAtAll) {
  const std::string_view none = SecretBytes().view();  // its data() may be null
  SecretBytes hash;
  ASSERT_EQ(hasher_.Hash(none, &hash), HashResult::kOk);
  EXPECT_TRUE(hasher_.Verify(hash, none));
  EXPECT_TRUE(hasher_.Verify(hash, ""));
  EXPECT_FALSE(hasher_.VerifyAgainstNothing(none));
}

TEST_F(PasswordHashTest, EachHashHasItsOwnSalt) {
  SecretBytes first, second;
  ASSERT_EQ(hasher_.Hash("same", &first), HashResult::kOk);
  ASSERT_EQ(hasher_.Hash("same", &second), HashResult::kOk);
  EXPECT_NE(first.view(), second.view());
  EXPECT_TRUE(hasher_.Verify(first, "same"));
  EXPECT_TRUE(hasher_.Verify(second, "same"));
}

TEST_F(PasswordHashTest, NothingAndDamagedHashesMatchNothing) {
  SecretBytes hash;
  ASSERT_EQ(hasher_.Hash("pw", &hash), HashResult::kOk);
  std::string damaged(hash.view());
  damaged.back() = damaged.back() == 'A' ? 'B' : 'A';
  EXPECT_FALSE(hasher_.VerifyAgainstNothing("pw"));
  EXPECT_FALSE(hasher_.Verify(SecretBytes(std::string_view(damaged)), "pw"));
  EXPECT_FALSE(hasher_.Verify(SecretBytes(std::string_view("")), "pw"));
  EXPECT_FALSE(hasher_.Verify(SecretBytes(std::string_view("pw")), "pw"));
}

TEST_F(PasswordHashTest, StoredHashesAreBoundedInCost) {
  SecretBytes made;
  ASSERT_EQ(hasher_.Hash("pw", &made), HashResult::kOk);
  const std::string real(made.view());
  const std::string cost = real.substr(0, real.find(",p=1$"));  // "$argon2id$v=19$m=8,t=1"
  const std::string tail = real.substr(cost.size());
  auto with = [&](const std::string& head) { return head + tail; };
  struct Row {
    std::string hash;
    bool stored;
  };
  const Row rows[] = {
      {real, true},
      {with("$argon2id$v=19$m=262144,t=3"), true},   // moderate
      {with("$argon2id$v=19$m=262145,t=3"), false},  // more memory than moderate
      {with("$argon2id$v=19$m=4194304,t=1"), false},
      {with("$argon2id$v=19$m=8,t=4"), false},  // more passes than moderate
      {with("$argon2id$v=19$m=,t=1"), false},
      {with("$argon2i$v=19$m=8,t=1"), false},
      {with("$argon2id$v=16$m=8,t=1"), false},
      {cost + ",p=2" + tail.substr(4), false},
      {real.substr(0, real.rfind('$') + 2), false},  // a hash of less than a byte
      {real + "$", false},
      {real + "=", false},
      {"", false},
  };
  for (const Row& row : rows) EXPECT_EQ(IsStoredHash(row.hash), row.stored) << row.hash;
}

TEST(PasswordHashLimitsTest, AHashOfOtherLimitsStillVerifiesAndAsksForARehash) {
  PasswordHasher cheap(HashLimits::kMin);
  PasswordHasher dear(HashLimits::kInteractive);
  SecretBytes hash;
  ASSERT_EQ(cheap.Hash("pw", &hash), HashResult::kOk);
  EXPECT_TRUE(dear.Verify(hash, "pw"));
  EXPECT_TRUE(dear.NeedsRehash(hash));
  EXPECT_FALSE(cheap.NeedsRehash(hash));
}

}  // namespace
}  // namespace zel::secrets
