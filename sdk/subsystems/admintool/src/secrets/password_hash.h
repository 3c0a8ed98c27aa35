// Administrators' passwords are kept only as Argon2id hashes in libsodium's string form
// ("$argon2id$v=19$m=KIB,t=PASSES,p=1$SALT$HASH"): each carries its own salt and cost, so a
// hash made under other limits still verifies.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zel/protocol/grammar.h"

namespace zel::secrets {

// How much a hash costs: "min" (tests), "interactive" (the default), "moderate".
enum class HashLimits { kMin, kInteractive, kModerate };

// False (and *limits untouched) for any other text.
bool ParseHashLimits(std::string_view text, HashLimits* limits);

enum class HashResult {
  kOk,
  kInvalidPassword,  // not UTF-8, or longer than 127 characters
  kFailed,           // no memory for the hash (or libsodium could not start)
};

class PasswordHasher {
 public:
  // Computes the dummy hash that unknown names are checked against, once.
  explicit PasswordHasher(HashLimits limits);
  PasswordHasher(const PasswordHasher&) = delete;
  PasswordHasher& operator=(const PasswordHasher&) = delete;

  // False when libsodium could not start or the dummy hash could not be made; every check
  // then fails.
  bool ok() const { return ok_; }
  HashLimits limits() const { return limits_; }

  // A fresh hash (new salt) of `password`: UTF-8 without terminator, at most 127 characters.
  HashResult Hash(std::string_view password, protocol::SecretBytes* hash) const;

  // Whether `password` matches `hash` (constant time in the password; a hash that does not
  // parse matches nothing).
  bool Verify(const protocol::SecretBytes& hash, std::string_view password) const;

  // Costs what Verify costs and answers false: the check for a name that has no hash, so a
  // failed logon takes as long whatever was wrong.
  bool VerifyAgainstNothing(std::string_view password) const;

  // Whether `hash` was made with other limits than this hasher's (worth hashing again at the
  // next successful logon).
  bool NeedsRehash(const protocol::SecretBytes& hash) const;

 private:
  HashLimits limits_;
  unsigned long long opsLimit_;
  std::size_t memLimit_;
  bool ok_ = false;
  protocol::SecretBytes dummy_;
};

// Whether `hash` is a stored hash this program would verify: the Argon2id string form with a
// cost no larger than the "moderate" limits, so an imported hash cannot make a logon take
// unbounded memory or time.
bool IsStoredHash(std::string_view hash);

}  // namespace zel::secrets
