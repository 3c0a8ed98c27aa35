#include "secrets/logon_throttle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace zel::secrets {
namespace {

class LogonThrottleTest : public ::testing::Test {
 protected:
  LogonThrottle Make(ThrottlePolicy policy = {}) {
    return LogonThrottle([this] { return now_; }, policy);
  }
  void Fail(LogonThrottle& t, const char* account, const char* peer, int times) {
    for (int i = 0; i < times; ++i) t.RecordFailure(account, peer);
  }
  uint64_t now_ = 1'000'000;
};

TEST_F(LogonThrottleTest, DelaysDoubleAfterTheFreeFailuresUpToTheCeiling) {
  struct Row {
    int failures;
    uint64_t waitMs;
  };
  const Row rows[] = {{0, 0},     {1, 0},       {2, 0},       {3, 1000},    {4, 2000},    {5, 4000},
                      {8, 32000}, {12, 512000}, {13, 900000}, {14, 900000}, {200, 900000}};
  for (const Row& row : rows) {
    LogonThrottle t = Make();
    Fail(t, "alice", "unix:bob", row.failures);
    EXPECT_EQ(t.WaitMs("alice", "unix:bob"), row.waitMs) << row.failures;
    if (row.waitMs == 0) continue;
    now_ += row.waitMs - 1;
    EXPECT_EQ(t.WaitMs("alice", "unix:bob"), 1u) << row.failures;
    now_ += 1;
    EXPECT_EQ(t.WaitMs("alice", "unix:bob"), 0u) << row.failures;
    // Waiting never resets the count: the next failure waits twice as long.
    t.RecordFailure("alice", "unix:bob");
    EXPECT_EQ(t.WaitMs("alice", "unix:bob"), std::min<uint64_t>(2 * row.waitMs, 900000));
  }
}

TEST_F(LogonThrottleTest, EachAccountAndPeerIsSlowedAlone) {
  struct Row {
    const char* account;
    const char* peer;
    uint64_t waitMs;
  };
  LogonThrottle t = Make();
  Fail(t, "alice", "unix:bob", 4);
  Fail(t, "alice2", "unix:bob", 3);
  const Row rows[] = {
      {"alice", "unix:bob", 2000},  {"alice", "unix:carol", 0}, {"alice", "", 0},
      {"alice2", "unix:bob", 1000}, {"Alice", "unix:bob", 0},   {"alic", "unix:bob", 0}};
  for (const Row& row : rows) {
    EXPECT_EQ(t.WaitMs(row.account, row.peer), row.waitMs) << row.account << " " << row.peer;
  }
}

TEST_F(LogonThrottleTest, SuccessUnlockAndTimeClearIt) {
  struct Row {
    const char* what;
    uint64_t aliceBob, aliceCarol, alice2;
  };
  const Row rows[] = {
      {"success", 0, 1000, 1000},
      {"unlock", 0, 0, 1000},
      {"an hour", 0, 0, 0},
  };
  for (const Row& row : rows) {
    LogonThrottle t = Make();
    Fail(t, "alice", "unix:bob", 3);
    Fail(t, "alice", "unix:carol", 3);
    Fail(t, "alice2", "unix:bob", 3);
    const std::string what = row.what;
    if (what == "success") t.RecordSuccess("alice", "unix:bob");
    if (what == "unlock") t.Unlock("alice");
    if (what == "an hour") now_ += 60 * 60 * 1000;
    EXPECT_EQ(t.WaitMs("alice", "unix:bob"), row.aliceBob) << what;
    EXPECT_EQ(t.WaitMs("alice", "unix:carol"), row.aliceCarol) << what;
    EXPECT_EQ(t.WaitMs("alice2", "unix:bob"), row.alice2) << what;
    // After any of them the count starts again: three more failures before a delay.
    Fail(t, "alice", "unix:bob", 2);
    EXPECT_EQ(t.WaitMs("alice", "unix:bob"), 0u) << what;
  }
}

TEST_F(LogonThrottleTest, MadeUpNamesCannotGrowTheTable) {
  ThrottlePolicy policy;
  policy.maxTracked = 3;
  LogonThrottle t = Make(policy);
  Fail(t, "target", "unix:mallory", 3);
  for (int i = 0; i < 100; ++i) {
    now_ += 10;
    t.RecordFailure("guess" + std::to_string(i), "unix:mallory");
    EXPECT_LE(t.tracked(), 3u);
  }
  // The newest pairs are kept; the oldest went first.
  EXPECT_EQ(t.WaitMs("target", "unix:mallory"), 0u);
  Fail(t, "guess99", "unix:mallory", 2);
  EXPECT_EQ(t.WaitMs("guess99", "unix:mallory"), 1000u);
}

}  // namespace
}  // namespace zel::secrets
