#include "secrets/password_hash.h"

#include <gtest/gtest.h>

#include <string>

namespace zel::secrets {
namespace {

using protocol::SecretBytes;

TEST(PasswordHashTest, VerifiesOnlyTheSamePasswordAndRefusesWhatIsNone) {
  struct Row {
    std::string stored, tried;
    HashResult hashed;
    bool match;
  };
  const std::string longest(127, 'x');
  const Row rows[] = {
      {"s3cret", "s3cret", HashResult::kOk, true},
      {"s3cret", "s3creT", HashResult::kOk, false},
      {"s3cret", "", HashResult::kOk, false},
      {"p\xc3\xa4ss", "p\xc3\xa4ss", HashResult::kOk, true},
      {longest, longest, HashResult::kOk, true},
      {longest, longest + "x", HashResult::kOk, false},
      {std::string("a\0b", 3), "a", HashResult::kOk, false},  // every byte counts
      {longest + "x", "", HashResult::kInvalidPassword, false},
      {"\xc0\xaf", "", HashResult::kInvalidPassword, false},      // overlong
      {"\xed\xa0\x80", "", HashResult::kInvalidPassword, false},  // a surrogate
  };
  PasswordHasher hasher(HashLimits::kMin);
  ASSERT_TRUE(hasher.ok());
  for (const Row& row : rows) {
    SecretBytes hash(std::string_view("untouched"));
    ASSERT_EQ(hasher.Hash(row.stored, &hash), row.hashed) << row.stored;
    if (row.hashed != HashResult::kOk) {
      EXPECT_EQ(hash.view(), "untouched");
      continue;
    }
    EXPECT_TRUE(IsStoredHash(hash.view())) << hash.view();
    EXPECT_EQ(hash.view().find("s3cret"), std::string_view::npos);
    EXPECT_EQ(hasher.Verify(hash, row.tried), row.match) << row.stored << " / " << row.tried;
  }
}

TEST(PasswordHashTest, SaltsDummyAndEmptyPasswords) {
  PasswordHasher hasher(HashLimits::kMin);
  SecretBytes first, second, empty;
  ASSERT_EQ(hasher.Hash("same", &first), HashResult::kOk);
  ASSERT_EQ(hasher.Hash("same", &second), HashResult::kOk);
  EXPECT_NE(first.view(), second.view());
  EXPECT_TRUE(hasher.Verify(second, "same"));
  EXPECT_FALSE(hasher.VerifyAgainstNothing("same"));
  // A SecretBytes without bytes may hold a null pointer; libsodium must never see it.
  ASSERT_EQ(hasher.Hash(SecretBytes().view(), &empty), HashResult::kOk);
  EXPECT_TRUE(hasher.Verify(empty, ""));
  EXPECT_FALSE(hasher.VerifyAgainstNothing(SecretBytes().view()));
  // A damaged hash matches nothing.
  std::string damaged(first.view());
  damaged.back() = damaged.back() == 'A' ? 'B' : 'A';
  EXPECT_FALSE(hasher.Verify(SecretBytes(std::string_view(damaged)), "same"));
  EXPECT_FALSE(hasher.Verify(SecretBytes(std::string_view("same")), "same"));
}

TEST(PasswordHashTest, StoredHashesAreBoundedInCost) {
  PasswordHasher hasher(HashLimits::kMin);
  SecretBytes made;
  ASSERT_EQ(hasher.Hash("pw", &made), HashResult::kOk);
  const std::string real(made.view());
  const std::string tail = real.substr(real.find(",p=1$"));  // ",p=1$salt$hash"
  const std::pair<std::string, bool> rows[] = {
      {real, true},
      {"$argon2id$v=19$m=262144,t=3" + tail, true},   // moderate
      {"$argon2id$v=19$m=262145,t=3" + tail, false},  // more memory than moderate
      {"$argon2id$v=19$m=8,t=4" + tail, false},       // more passes
      {"$argon2id$v=19$m=,t=1" + tail, false},
      {"$argon2i$v=19$m=8,t=1" + tail, false},
      {"$argon2id$v=19$m=8,t=1,p=2" + tail.substr(4), false},
      {real.substr(0, real.rfind('$') + 2), false},  // a hash of less than a byte
      {real + "=", false},
      {"", false},
  };
  for (const auto& [hash, stored] : rows) EXPECT_EQ(IsStoredHash(hash), stored) << hash;
}

}  // namespace
}  // namespace zel::secrets
