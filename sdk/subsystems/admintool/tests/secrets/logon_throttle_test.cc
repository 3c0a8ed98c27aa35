#include "secrets/logon_throttle.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace zel::secrets {
namespace {

TEST(LogonThrottleTest, DelaysDoubleAfterTheFreeFailuresUpToTheCeiling) {
  // Failures so far, the wait they bring, and the wait after one more (waiting never resets
  // the count).
  const std::tuple<int, uint64_t, uint64_t> rows[] = {
      {2, 0, 1000},         {3, 1000, 2000},      {4, 2000, 4000},      {8, 32000, 64000},
      {12, 512000, 900000}, {13, 900000, 900000}, {200, 900000, 900000}};
  for (const auto& [failures, waitMs, nextMs] : rows) {
    uint64_t now = 1'000'000;
    LogonThrottle t([&] { return now; });
    for (int i = 0; i < failures; ++i) t.RecordFailure("alice", "unix:bob");
    EXPECT_EQ(t.WaitMs("alice", "unix:bob"), waitMs) << failures;
    EXPECT_EQ(t.WaitMs("alice", "unix:carol"), 0u) << failures;
    now += waitMs;
    EXPECT_EQ(t.WaitMs("alice", "unix:bob"), 0u) << failures;
    t.RecordFailure("alice", "unix:bob");
    EXPECT_EQ(t.WaitMs("alice", "unix:bob"), nextMs) << failures;
  }
}

TEST(LogonThrottleTest, AnHourWithoutFailuresForgetsAndTheTableStaysBounded) {
  uint64_t now = 1'000'000;
  ThrottlePolicy policy;
  policy.maxTracked = 3;
  LogonThrottle t([&] { return now; }, policy);
  for (int i = 0; i < 3; ++i) t.RecordFailure("alice", "unix:bob");
  now += 60 * 60 * 1000;
  EXPECT_EQ(t.WaitMs("alice", "unix:bob"), 0u);
  t.RecordFailure("alice", "unix:bob");
  EXPECT_EQ(t.WaitMs("alice", "unix:bob"), 0u) << "the count started over";
  for (int i = 0; i < 100; ++i) {
    now += 10;
    t.RecordFailure("guess" + std::to_string(i), "unix:mallory");
    EXPECT_LE(t.tracked(), 3u);
  }
  t.RecordFailure("guess99", "unix:mallory");
  t.RecordFailure("guess99", "unix:mallory");
  EXPECT_EQ(t.WaitMs("guess99", "unix:mallory"), 1000u) << "the newest pairs are kept";
}

}  // namespace
}  // namespace zel::secrets
