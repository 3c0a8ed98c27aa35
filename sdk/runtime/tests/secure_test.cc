#include "zel/runtime/secure.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "zel/runtime/codes.h"
#include "zel/runtime/testing/portable.h"

namespace {

class SecureTest : public ::testing::Test {
 protected:
  void TearDown() override { ZEL_SECURE_ClearKeys(); }
};

TEST_F(SecureTest, TheKeystreamIsChaCha20) {
  // RFC 8439, appendix A.1, test vector #2: key 0, nonce 0 (our key ID 0), block counter 1.
  const uint8_t zeroKey[32] = {};
  ASSERT_EQ(ZEL_SECURE_SetKey(0, zeroKey, 32), 0);
  std::vector<uint8_t> stream(16, 0);
  ASSERT_EQ(ZEL_SECURE_EncryptData(stream.data(), 16, 0), 0);
  EXPECT_EQ(stream, (std::vector<uint8_t>{0x9f, 0x07, 0xe7, 0xbe, 0x55, 0x51, 0x38, 0x7a, 0x98,
                                          0xba, 0x97, 0x7c, 0x73, 0x2d, 0x08, 0x0d}));
}

TEST_F(SecureTest, RoundTripsUnderItsKeyOnlyAndNeedsAKey) {
  const std::u16string password = u"s3cret-p\u00e4ss";
  const auto* first = reinterpret_cast<const uint8_t*>(password.c_str());
  const std::vector<uint8_t> plain(first, first + password.size() * 2 + 2);
  std::vector<uint8_t> bytes = plain;
  const auto size = static_cast<uint32_t>(bytes.size());
  EXPECT_EQ(ZEL_SECURE_EncryptData(bytes.data(), size, 0x3A), zel::rt::kNoKey);
  EXPECT_EQ(bytes, plain);

  uint8_t key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_EQ(ZEL_SECURE_SetKey(0x3A, key, 32), 0);
  ASSERT_EQ(ZEL_SECURE_EncryptData(bytes.data(), size, 0x3A), 0);
  EXPECT_NE(bytes, plain);
  std::vector<uint8_t> other = bytes;
  key[0] ^= 1;  // another farm's key
  ASSERT_EQ(ZEL_SECURE_SetKey(0x3A, key, 32), 0);
  ZEL_SECURE_DecryptData(other.data(), size, 0x3A);
  EXPECT_NE(other, plain);
  key[0] ^= 1;
  ASSERT_EQ(ZEL_SECURE_SetKey(0x3A, key, 32), 0);
  ASSERT_EQ(ZEL_SECURE_DecryptData(bytes.data(), size, 0x3A), 0);
  EXPECT_EQ(bytes, plain);
  EXPECT_EQ(ZEL_SECURE_SetKey(1, key, 31), zel::rt::kInvalidArgument);
}

TEST_F(SecureTest, KeyFilesHoldSixtyFourHexDigits) {
  const zel::rt::testing::TempFolder folder("zel-secure");
  const std::string path = folder.File("farm.key");
  auto write = [&](const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), f);
    std::fclose(f);
  };
  write(std::string(64, 'a') + "\n");
  EXPECT_EQ(ZEL_SECURE_LoadKeyFile(0x3A, path.c_str()), 0);
  write(std::string(63, 'a'));
  EXPECT_EQ(ZEL_SECURE_LoadKeyFile(0x3A, path.c_str()), zel::rt::kInvalidArgument);
  write(std::string(64, 'g'));
  EXPECT_EQ(ZEL_SECURE_LoadKeyFile(0x3A, path.c_str()), zel::rt::kInvalidArgument);
  std::remove(path.c_str());
  EXPECT_EQ(ZEL_SECURE_LoadKeyFile(0x3A, path.c_str()), zel::rt::kInvalidArgument);
}

}  // namespace
