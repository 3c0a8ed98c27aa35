#include "secrets/logon_gate.h"

namespace zel::secrets {

LogonOutcome LogonGate::Check(const LogonAttempt& attempt, uint64_t* waitMs) {
  if (!attempt.owner) {
    const uint64_t wait = throttle_.WaitMs(attempt.account, attempt.peer);
    if (waitMs != nullptr) *waitMs = wait;
    if (wait > 0) return LogonOutcome::kSlowedDown;
  }
  const bool matched = attempt.hash != nullptr ? hasher_.Verify(*attempt.hash, attempt.password)
                                               : hasher_.VerifyAgainstNothing(attempt.password);
  // The owner's attempts neither count nor clear what others' attempts counted.
  if (!attempt.owner && matched) throttle_.RecordSuccess(attempt.account, attempt.peer);
  if (!attempt.owner && !matched) throttle_.RecordFailure(attempt.account, attempt.peer);
  return matched ? LogonOutcome::kAccepted : LogonOutcome::kRefused;
}

bool PasswordToUtf8(std::u16string_view password, char (&out)[kMaxPasswordBytes],
                    std::size_t* length) {
  std::size_t n = 0, chars = 0;
  for (std::size_t i = 0; i < password.size() && password[i] != u'\0'; ++i, ++chars) {
    char32_t cp = password[i];
    if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= password.size() || password[i + 1] < 0xDC00 || password[i + 1] > 0xDFFF) {
        return false;
      }
      cp = 0x10000 + ((cp - 0xD800) << 10) + (password[++i] - 0xDC00);
    }
    if (chars == 127) return false;
    if (cp < 0x80) {
      out[n++] = static_cast<char>(cp);
    } else if (cp < 0x800) {
      out[n++] = static_cast<char>(0xC0 | cp >> 6);
      out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out[n++] = static_cast<char>(0xE0 | cp >> 12);
      out[n++] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out[n++] = static_cast<char>(0xF0 | cp >> 18);
      out[n++] = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out[n++] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  *length = n;
  return true;
}

}  // namespace zel::secrets
