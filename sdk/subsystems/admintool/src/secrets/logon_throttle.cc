#include "secrets/logon_throttle.h"

#include <chrono>

namespace zel::secrets {

LogonThrottle::Clock LogonThrottle::SteadyClock() {
  return [] {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  };
}

LogonThrottle::LogonThrottle(Clock clock, ThrottlePolicy policy)
    : clock_(std::move(clock)), policy_(policy) {}

uint64_t LogonThrottle::DelayAfter(uint32_t failures) const {
  if (failures < policy_.freeFailures) return 0;
  uint64_t delay = policy_.firstDelayMs;
  for (uint32_t i = policy_.freeFailures; i < failures && delay < policy_.maxDelayMs; ++i) {
    delay *= 2;
  }
  return delay < policy_.maxDelayMs ? delay : policy_.maxDelayMs;
}

bool LogonThrottle::Forgotten(const Failures& f, uint64_t now) const {
  return now - f.lastMs >= policy_.forgetAfterMs;
}

uint64_t LogonThrottle::WaitMs(const std::string& account, const std::string& peer) const {
  const auto found = failures_.find(Key(account, peer));
  if (found == failures_.end()) return 0;
  const uint64_t now = clock_();
  const Failures& f = found->second;
  if (Forgotten(f, now)) return 0;
  const uint64_t until = f.lastMs + DelayAfter(f.count);
  return until > now ? until - now : 0;
}

void LogonThrottle::RecordFailure(const std::string& account, const std::string& peer) {
  const uint64_t now = clock_();
  auto found = failures_.find(Key(account, peer));
  if (found == failures_.end()) {
    MakeRoom(now);
    found = failures_.emplace(Key(account, peer), Failures{}).first;
  }
  Failures& f = found->second;
  if (Forgotten(f, now)) f.count = 0;
  if (f.count < UINT32_MAX) ++f.count;
  f.lastMs = now;
}

void LogonThrottle::RecordSuccess(const std::string& account, const std::string& peer) {
  failures_.erase(Key(account, peer));
}

void LogonThrottle::Unlock(const std::string& account) {
  auto it = failures_.lower_bound(Key(account, std::string()));
  while (it != failures_.end() && it->first.first == account) it = failures_.erase(it);
}

// Drops what is forgotten anyway; when the table is still full, the pair that failed longest
// ago goes (it has waited longest, so losing its count costs least).
void LogonThrottle::MakeRoom(uint64_t now) {
  if (failures_.size() < policy_.maxTracked) return;
  std::erase_if(failures_, [&](const auto& entry) { return Forgotten(entry.second, now); });
  while (!failures_.empty() && failures_.size() >= policy_.maxTracked) {
    auto oldest = failures_.begin();
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
      if (it->second.lastMs < oldest->second.lastMs) oldest = it;
    }
    failures_.erase(oldest);
  }
}

}  // namespace zel::secrets
