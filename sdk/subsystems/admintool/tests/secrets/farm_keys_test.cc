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
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  ::chmod(path.c_str(), mode);
}

class FarmKeysTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GE(sodium_init(), 0); }
  void TearDown() override { ZEL_SECURE_ClearKeys(); }
  std::string Dir() const { return folder_.File("keys"); }
  std::string Path(const char* name) const { return Dir() + "/" + name; }
  rt::testing::TempFolder folder_{"zel-farm-keys"};
};

TEST_F(FarmKeysTest, MadeKeysAreOwnerOnlyAndTheTransportKeyIsThePasswordCipherKey) {
  std::string error;
  ASSERT_TRUE(InitFarmKeys(Dir(), &error)) << error;
  for (const char* name : {kTransportKeyFile, kTicketKeyFile}) {
    struct stat st;
    ASSERT_EQ(::stat(Path(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
    const std::string text = ReadAll(Path(name));
    ASSERT_EQ(text.size(), 65u) << name;
    EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), 64u) << name;
  }
  EXPECT_NE(ReadAll(Path(kTransportKeyFile)), ReadAll(Path(kTicketKeyFile)));

  FarmKeys keys;
  ASSERT_TRUE(LoadFarmKeys(Dir(), &keys, &error)) << error;
  // What the runtime now enciphers under 0x3A is ChaCha20 (RFC 8439) with the file's key,
  // nonce = the key ID, counter 1: libsodium's own ChaCha20 says the same.
  std::vector<uint8_t> key(32);
  ASSERT_EQ(sodium_hex2bin(key.data(), 32, ReadAll(Path(kTransportKeyFile)).c_str(), 64, nullptr,
                           nullptr, nullptr),
            0);
  const std::vector<uint8_t> plain = {'p', 0, 'w', 0, 0, 0};
  std::vector<uint8_t> ours = plain, theirs(plain.size());
  ASSERT_EQ(ZEL_SECURE_EncryptData(ours.data(), static_cast<uint32_t>(ours.size()), 0x3A), 0);
  const uint8_t nonce[12] = {0x3A};
  crypto_stream_chacha20_ietf_xor_ic(theirs.data(), plain.data(), plain.size(), nonce, 1,
                                     key.data());
  EXPECT_EQ(ours, theirs);
  EXPECT_EQ(std::vector<uint8_t>(keys.transport.data(), keys.transport.data() + 32), key);

  // Existing keys are never replaced.
  const std::string before = ReadAll(Path(kTicketKeyFile));
  EXPECT_FALSE(InitFarmKeys(Dir(), &error));
  EXPECT_NE(error.find("exists already"), std::string::npos) << error;
  EXPECT_EQ(ReadAll(Path(kTicketKeyFile)), before);
}

TEST_F(FarmKeysTest, BadKeyFilesAreRefusedWithTheReason) {
  struct Row {
    const char* what;
    std::string text;
    mode_t mode;
    const char* error;
  };
  const std::string good(64, 'a');
  const Row rows[] = {
      {"good", good + "\n", 0600, nullptr},
      {"no newline", good, 0400, nullptr},
      {"upper case", std::string(64, 'F') + "\n", 0600, nullptr},
      {"group reads", good + "\n", 0640, "open to others (mode 0640)"},
      {"all read", good + "\n", 0644, "open to others (mode 0644)"},
      {"others write", good + "\n", 0602, "open to others"},
      {"short", std::string(63, 'a') + "\n", 0600, "no key"},
      {"cut", std::string(40, 'a'), 0600, "short: 40 of 64"},
      {"empty", "", 0600, "short: 0 of 64"},
      {"long", good + "a\n", 0600, "no key"},
      {"not hex", std::string(63, 'a') + "g\n", 0600, "no key"},
      {"two lines", good + "\n\n", 0600, "no key"},
      {"spaced", " " + good, 0600, "no key"},
  };
  ASSERT_EQ(::mkdir(Dir().c_str(), 0700), 0);
  for (const Row& row : rows) {
    const std::string path = Path("some.key");
    ::unlink(path.c_str());
    WriteFile(path, row.text, row.mode);
    SecretKey key;
    std::string error;
    EXPECT_EQ(LoadKeyFile(path, &key, &error), row.error == nullptr) << row.what;
    if (row.error != nullptr) {
      EXPECT_NE(error.find(row.error), std::string::npos) << row.what << ": " << error;
      EXPECT_NE(error.find(path), std::string::npos) << row.what << ": " << error;
    }
  }
  SecretKey key;
  std::string error;
  EXPECT_FALSE(LoadKeyFile(Path("none.key"), &key, &error));
  EXPECT_NE(error.find("missing key file"), std::string::npos) << error;
  EXPECT_FALSE(LoadKeyFile(Dir(), &key, &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  ASSERT_EQ(::symlink(Path("some.key").c_str(), Path("link.key").c_str()), 0);
  EXPECT_FALSE(LoadKeyFile(Path("link.key"), &key, &error));
}

TEST_F(FarmKeysTest, AFarmWithABadTicketKeySetsNoKeyAtAll) {
  std::string error;
  ASSERT_TRUE(InitFarmKeys(Dir(), &error)) << error;
  ::chmod(Path(kTicketKeyFile).c_str(), 0644);
  FarmKeys keys;
  EXPECT_FALSE(LoadFarmKeys(Dir(), &keys, &error));
  EXPECT_NE(error.find(kTicketKeyFile), std::string::npos) << error;
  uint8_t probe[4] = {};
  EXPECT_EQ(ZEL_SECURE_EncryptData(probe, sizeof probe, 0x3A), rt::kNoKey);
  ::unlink(Path(kTicketKeyFile).c_str());
  EXPECT_FALSE(LoadFarmKeys(Dir(), &keys, &error));
  EXPECT_NE(error.find("missing key file"), std::string::npos) << error;
}

}  // namespace
}  // namespace zel::secrets
