#include "secrets/farm_keys.h"

#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "zel/runtime/codes.h"
#include "zel/runtime/secure.h"
#include "zel/runtime/testing/portable.h"

namespace zel::secrets {
namespace {

std::string ReadAll(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

class FarmKeysTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GE(sodium_init(), 0); }
  void TearDown() override { ZEL_SECURE_ClearKeys(); }
  std::string Path(const char* name) const { return dir_ + "/" + name; }
  rt::testing::TempFolder folder_{"zel-farm-keys"};
  std::string dir_ = folder_.File("keys");
  std::string error_;
};

TEST_F(FarmKeysTest, MadeKeysAreOwnerOnlyAndTheTransportKeyIsThePasswordCipherKey) {
  ASSERT_TRUE(InitFarmKeys(dir_, &error_)) << error_;
  for (const char* name : {kTransportKeyFile, kTicketKeyFile}) {
    struct stat st;
    ASSERT_EQ(::stat(Path(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
    const std::string text = ReadAll(Path(name));
    EXPECT_EQ(text.size(), 65u) << name;
    EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), 64u) << name;
  }
  EXPECT_NE(ReadAll(Path(kTransportKeyFile)), ReadAll(Path(kTicketKeyFile)));

  FarmKeys keys;
  ASSERT_TRUE(LoadFarmKeys(dir_, &keys, &error_)) << error_;
  // What the runtime now enciphers under 0x3A is ChaCha20 (RFC 8439) with the file's key,
  // nonce = the key ID, counter 1: libsodium's own ChaCha20 says the same.
  uint8_t key[32];
  ASSERT_EQ(sodium_hex2bin(key, 32, ReadAll(Path(kTransportKeyFile)).c_str(), 64, nullptr, nullptr,
                           nullptr),
            0);
  const std::vector<uint8_t> plain = {'p', 0, 'w', 0, 0, 0};
  std::vector<uint8_t> ours = plain, theirs(plain.size());
  ASSERT_EQ(ZEL_SECURE_EncryptData(ours.data(), static_cast<uint32_t>(ours.size()), 0x3A), 0);
  const uint8_t nonce[12] = {0x3A};
  crypto_stream_chacha20_ietf_xor_ic(theirs.data(), plain.data(), plain.size(), nonce, 1, key);
  EXPECT_EQ(ours, theirs);

  // Existing keys are never replaced.
  const std::string before = ReadAll(Path(kTicketKeyFile));
  EXPECT_FALSE(InitFarmKeys(dir_, &error_));
  EXPECT_NE(error_.find("exists already"), std::string::npos) << error_;
  EXPECT_EQ(ReadAll(Path(kTicketKeyFile)), before);
}

TEST_F(FarmKeysTest, BadKeyFilesAreRefusedWithTheReason) {
  struct Row {
    std::string text;
    mode_t mode;
    const char* error;  // null: loads
  };
  const std::string good(64, 'a');
  const Row rows[] = {
      {good + "\n", 0600, nullptr},
      {std::string(64, 'F'), 0400, nullptr},
      {good + "\n", 0640, "open to others (mode 0640)"},
      {good + "\n", 0602, "open to others (mode 0602)"},
      {std::string(40, 'a'), 0600, "short: 40 of 64"},
      {"", 0600, "short: 0 of 64"},
      {std::string(63, 'a') + "\n", 0600, "no key"},
      {good + "a\n", 0600, "no key"},
      {std::string(63, 'a') + "g\n", 0600, "no key"},
      {good + "\n\n", 0600, "no key"},
  };
  ASSERT_EQ(::mkdir(dir_.c_str(), 0700), 0);
  const std::string path = Path("some.key");
  for (const Row& row : rows) {
    ::unlink(path.c_str());
    std::ofstream(path, std::ios::binary) << row.text;
    ::chmod(path.c_str(), row.mode);
    SecretKey key;
    EXPECT_EQ(LoadKeyFile(path, &key, &error_), row.error == nullptr) << row.text;
    if (row.error == nullptr) continue;
    EXPECT_NE(error_.find(row.error), std::string::npos) << error_;
    EXPECT_NE(error_.find(path), std::string::npos) << error_;
  }
  const std::pair<std::string, const char*> others[] = {
      {Path("none.key"), "missing key file"},
      {dir_, "not a regular file"},
      {Path("link.key"), "cannot open key file"},  // never through a link
  };
  ASSERT_EQ(::symlink(path.c_str(), Path("link.key").c_str()), 0);
  for (const auto& [other, error] : others) {
    SecretKey key;
    EXPECT_FALSE(LoadKeyFile(other, &key, &error_)) << other;
    EXPECT_NE(error_.find(error), std::string::npos) << error_;
  }

  // A farm whose ticket key is bad sets no key at all.
  ::unlink(path.c_str());
  ASSERT_TRUE(InitFarmKeys(dir_, &error_)) << error_;
  ::chmod(Path(kTicketKeyFile).c_str(), 0644);
  FarmKeys keys;
  EXPECT_FALSE(LoadFarmKeys(dir_, &keys, &error_));
  EXPECT_NE(error_.find(kTicketKeyFile), std::string::npos) << error_;
  uint8_t probe[4] = {};
  EXPECT_EQ(ZEL_SECURE_EncryptData(probe, sizeof probe, 0x3A), rt::kNoKey);
}

}  // namespace
}  // namespace zel::secrets
