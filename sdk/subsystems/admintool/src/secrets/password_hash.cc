#include "secrets/password_hash.h"

#include <sodium.h>

#include <charconv>
#include <cstring>

namespace zel::secrets {
namespace {

constexpr std::string_view kPrefix = "$argon2id$v=19$m=";

struct Cost {
  unsigned long long ops;
  std::size_t mem;
};

Cost CostOf(HashLimits limits) {
  switch (limits) {
    case HashLimits::kMin:
      return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN};
    case HashLimits::kInteractive:
      return {crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE};
    case HashLimits::kModerate:
      break;
  }
  return {crypto_pwhash_OPSLIMIT_MODERATE, crypto_pwhash_MEMLIMIT_MODERATE};
}

// Reads decimal digits at the front of `text` into *value and drops them.
bool TakeNumber(std::string_view* text, uint64_t* value) {
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), *value);
  if (error != std::errc() || end == text->data()) return false;
  text->remove_prefix(static_cast<std::size_t>(end - text->data()));
  return true;
}

bool TakeLiteral(std::string_view* text, std::string_view literal) {
  if (text->substr(0, literal.size()) != literal) return false;
  text->remove_prefix(literal.size());
  return true;
}

bool IsBase64Run(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alnum && c != '+' && c != '/') return false;
  }
  return true;
}

// libsodium declares its pointers never null, even for no bytes; an empty view may hold null.
const char* BytesOf(std::string_view password) {
  return password.data() != nullptr ? password.data() : "";
}

bool ValidPassword(std::string_view password) {
  return protocol::IsPasswordText(password, protocol::kMaxPasswordChars);
}

// libsodium reads the hash as a C string: a terminated copy, wiped by the caller.
struct TerminatedHash {
  char text[crypto_pwhash_STRBYTES] = {};
  ~TerminatedHash() { sodium_memzero(text, sizeof text); }
};

bool Terminate(std::string_view hash, TerminatedHash* out) {
  if (hash.size() >= sizeof out->text) return false;
  std::memcpy(out->text, hash.data(), hash.size());
  return true;
}

}  // namespace

bool ParseHashLimits(std::string_view text, HashLimits* limits) {
  if (text == "min") {
    *limits = HashLimits::kMin;
  } else if (text == "interactive") {
    *limits = HashLimits::kInteractive;
  } else if (text == "moderate") {
    *limits = HashLimits::kModerate;
  } else {
    return false;
  }
  return true;
}

bool IsStoredHash(std::string_view hash) {
  std::string_view rest = hash;
  uint64_t kib = 0, passes = 0;
  if (!TakeLiteral(&rest, kPrefix) || !TakeNumber(&rest, &kib) || !TakeLiteral(&rest, ",t=") ||
      !TakeNumber(&rest, &passes) || !TakeLiteral(&rest, ",p=1$")) {
    return false;
  }
  const Cost most = CostOf(HashLimits::kModerate);
  if (kib > most.mem / 1024 || passes > most.ops) return false;
  const std::size_t split = rest.find('$');
  if (split == std::string_view::npos || !IsBase64Run(rest.substr(0, split)) ||
      !IsBase64Run(rest.substr(split + 1))) {
    return false;
  }
  // libsodium's own parser has the last word (salt and hash lengths, the least cost).
  TerminatedHash text;
  return Terminate(hash, &text) &&
         crypto_pwhash_str_needs_rehash(text.text, most.ops, most.mem) != -1;
}

PasswordHasher::PasswordHasher(HashLimits limits) : limits_(limits) {
  const Cost cost = CostOf(limits);
  opsLimit_ = cost.ops;
  memLimit_ = cost.mem;
  if (sodium_init() < 0) return;
  // The dummy is the hash of a random password nobody knows, made with the same limits as
  // every new hash, so checking against it costs what checking a real one does.
  uint8_t unknown[16];
  randombytes_buf(unknown, sizeof unknown);
  char hex[2 * sizeof unknown + 1];
  sodium_bin2hex(hex, sizeof hex, unknown, sizeof unknown);
  ok_ = Hash(std::string_view(hex, 2 * sizeof unknown), &dummy_) == HashResult::kOk;
  sodium_memzero(unknown, sizeof unknown);
  sodium_memzero(hex, sizeof hex);
}

HashResult PasswordHasher::Hash(std::string_view password, protocol::SecretBytes* hash) const {
  if (!ValidPassword(password)) return HashResult::kInvalidPassword;
  char text[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(text, BytesOf(password), password.size(), opsLimit_, memLimit_) != 0) {
    return HashResult::kFailed;
  }
  *hash = protocol::SecretBytes(std::string_view(text, std::strlen(text)));
  sodium_memzero(text, sizeof text);
  return HashResult::kOk;
}

bool PasswordHasher::Verify(const protocol::SecretBytes& hash, std::string_view password) const {
  if (!ok_ || !ValidPassword(password)) return false;
  TerminatedHash text;
  if (!IsStoredHash(hash.view()) || !Terminate(hash.view(), &text)) {
    return VerifyAgainstNothing(password);
  }
  return crypto_pwhash_str_verify(text.text, BytesOf(password), password.size()) == 0;
}

bool PasswordHasher::VerifyAgainstNothing(std::string_view password) const {
  // What is no password is refused without hashing, by Verify too: equally fast either way.
  if (!ValidPassword(password)) return false;
  TerminatedHash text;
  if (ok_ && Terminate(dummy_.view(), &text)) {
    // The answer is known (nobody knows the dummy's password); only the cost matters.
    [[maybe_unused]] const int answer =
        crypto_pwhash_str_verify(text.text, BytesOf(password), password.size());
  }
  return false;
}

bool PasswordHasher::NeedsRehash(const protocol::SecretBytes& hash) const {
  TerminatedHash text;
  return !Terminate(hash.view(), &text) ||
         crypto_pwhash_str_needs_rehash(text.text, opsLimit_, memLimit_) != 0;
}

}  // namespace zel::secrets
