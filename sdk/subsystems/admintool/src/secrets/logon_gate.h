// The one way a password is checked, for Logon2 and for event 82's credentials alike: the
// throttle first (an attempt that must still wait is not checked), then the stored hash, or
// the dummy hash when the name has none, so a refusal costs the same and says nothing about
// which part was wrong.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "secrets/logon_throttle.h"
#include "secrets/password_hash.h"

namespace zel::secrets {

enum class LogonOutcome {
  kAccepted,
  kRefused,     // no such name, no password set, or the wrong password: one answer for all
  kSlowedDown,  // too many failures from this peer for this name: try again later
};

struct LogonAttempt {
  std::string account;  // the throttle's key: the name as the caller gave it, normalised
  std::string peer;
  std::string_view password;                    // UTF-8
  const protocol::SecretBytes* hash = nullptr;  // null: nobody of that name, or no password
  bool owner = false;                           // the farm's owner is never slowed down
};

class LogonGate {
 public:
  LogonGate(const PasswordHasher& hasher, LogonThrottle& throttle)
      : hasher_(hasher), throttle_(throttle) {}

  // *waitMs (when not null) gets how long a slowed-down caller must wait.
  LogonOutcome Check(const LogonAttempt& attempt, uint64_t* waitMs = nullptr);

 private:
  const PasswordHasher& hasher_;
  LogonThrottle& throttle_;
};

// Event 82 carries its password as UTF-16 (deciphered by the group-enumeration helper); hashes
// are of UTF-8. Converts up to the first NUL into `out`; false for a lone surrogate or more
// than 127 characters. The caller wipes `out`.
inline constexpr std::size_t kMaxPasswordBytes = 4 * 127;
bool PasswordToUtf8(std::u16string_view password, char (&out)[kMaxPasswordBytes],
                    std::size_t* length);

}  // namespace zel::secrets
