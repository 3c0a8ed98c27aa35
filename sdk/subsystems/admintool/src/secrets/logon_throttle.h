// Failed logons slow down per (account, peer): the first few failures in a row cost nothing,
// then every further attempt must wait, twice as long after each failure, up to a ceiling.
// Nothing is ever locked for good: waiting always helps, and a success or Unlock clears it.
// An attempt made while it must still wait is not checked at all, so guessing goes no faster
// than the delays allow. The same holds for names that are no administrator's, so the delay
// tells nothing about which names exist.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

namespace zel::secrets {

struct ThrottlePolicy {
  uint32_t freeFailures = 3;             // failures in a row before the first delay
  uint64_t firstDelayMs = 1000;          // after failure freeFailures; doubled after each next
  uint64_t maxDelayMs = 15 * 60 * 1000;  // the ceiling
  // Failures are forgotten after this long without a new one.
  uint64_t forgetAfterMs = 60 * 60 * 1000;
  // The most (account, peer) pairs kept: names made up by a guesser cannot grow it further.
  std::size_t maxTracked = 10000;
};

class LogonThrottle {
 public:
  // Milliseconds of a monotonic clock; tests hand in their own.
  using Clock = std::function<uint64_t()>;

  explicit LogonThrottle(Clock clock = SteadyClock(), ThrottlePolicy policy = {});

  // How many milliseconds (account, peer) must still wait before its next attempt is
  // checked; 0: check it now.
  uint64_t WaitMs(const std::string& account, const std::string& peer) const;

  void RecordFailure(const std::string& account, const std::string& peer);
  void RecordSuccess(const std::string& account, const std::string& peer);
  // Clears the failures of `account` from every peer.
  void Unlock(const std::string& account);

  // The delay that follows `failures` failures in a row.
  uint64_t DelayAfter(uint32_t failures) const;
  std::size_t tracked() const { return failures_.size(); }

  static Clock SteadyClock();

 private:
  struct Failures {
    uint32_t count = 0;
    uint64_t lastMs = 0;
  };
  using Key = std::pair<std::string, std::string>;

  bool Forgotten(const Failures& f, uint64_t now) const;
  void MakeRoom(uint64_t now);

  Clock clock_;
  ThrottlePolicy policy_;
  std::map<Key, Failures> failures_;
};

}  // namespace zel::secrets
