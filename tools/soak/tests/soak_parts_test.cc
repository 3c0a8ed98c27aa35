// The soak's own bookkeeping: latency quantiles and their text form, and the check that tells a
// node lost from one whose request was cut off.
#include <map>
#include <string>

#include "../histogram.h"
#include "../ledger.h"
#include "gtest/gtest.h"

namespace zel::soak {
namespace {

TEST(HistogramTest, QuantilesLieWithinFivePercentAbove) {
  struct Case {
    const char* name;
    std::vector<uint64_t> samples;
    double fraction;
    uint64_t atLeast;
  };
  std::vector<uint64_t> hundred;
  for (uint64_t i = 1; i <= 100; ++i) hundred.push_back(i * 1000);
  const Case cases[] = {
      {"none", {}, 0.5, 0},
      {"one", {700}, 0.99, 700},
      {"median of 1..100 ms", hundred, 0.5, 50000},
      {"p99 of 1..100 ms", hundred, 0.99, 99000},
      {"a slow outlier", {10, 10, 10, 10000000}, 1.0, 10000000},
      {"zero micros", {0, 0}, 0.5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Histogram h;
    for (uint64_t s : c.samples) h.Add(s);
    const uint64_t q = h.Quantile(c.fraction);
    EXPECT_GE(q, c.atLeast);
    EXPECT_LE(q, c.atLeast * 105 / 100 + 1);
    Histogram back;
    ASSERT_TRUE(Histogram::Decode(h.Encode(), &back));
    EXPECT_EQ(back.Count(), c.samples.size());
    EXPECT_EQ(back.Quantile(c.fraction), q);
  }
}

TEST(HistogramTest, DecodeRefusesWhatItDidNotWrite) {
  for (const char* text : {"x", "3", "3:", ":4", "3:4x", "600:1", "-1:2", "3:4 5"}) {
    SCOPED_TRACE(text);
    Histogram h;
    h.Add(10);
    EXPECT_FALSE(Histogram::Decode(text, &h));
    EXPECT_EQ(h.Count(), 1u);
  }
}

TEST(LedgerTest, CheckTellsLossesFromRequestsInDoubt) {
  enum Op { kAdd, kAddFailed, kRetitle, kRetitleFailed, kDelete, kDeleteFailed };
  struct Step {
    Op op;
    const char16_t* title;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;  // on node "a", uid 7
    bool found;
    const char16_t* foundTitle;
    uint64_t foundUID;
    std::size_t differences;
    bool presentAfter;
  };
  const Case cases[] = {
      {"written and there", {{kAdd, u"t1"}}, true, u"t1", 7, 0, true},
      {"written and missing", {{kAdd, u"t1"}}, false, u"", 0, 1, false},
      {"written, other uid", {{kAdd, u"t1"}}, true, u"t1", 8, 1, true},
      {"add in doubt, missing", {{kAddFailed, u"t1"}}, false, u"", 0, 0, false},
      {"add in doubt, there", {{kAddFailed, u"t1"}}, true, u"t1", 7, 0, true},
      {"retitled, old title", {{kAdd, u"t1"}, {kRetitle, u"t2"}}, true, u"t1", 7, 1, true},
      {"retitle in doubt, old", {{kAdd, u"t1"}, {kRetitleFailed, u"t2"}}, true, u"t1", 7, 0, true},
      {"retitle in doubt, new", {{kAdd, u"t1"}, {kRetitleFailed, u"t2"}}, true, u"t2", 7, 0, true},
      {"retitle in doubt, other",
       {{kAdd, u"t1"}, {kRetitleFailed, u"t2"}},
       true,
       u"t3",
       7,
       1,
       true},
      {"deleted and gone", {{kAdd, u"t1"}, {kDelete, nullptr}}, false, u"", 0, 0, false},
      {"deleted and back", {{kAdd, u"t1"}, {kDelete, nullptr}}, true, u"t1", 7, 1, true},
      {"delete in doubt, there",
       {{kAdd, u"t1"}, {kDeleteFailed, nullptr}},
       true,
       u"t1",
       7,
       0,
       true},
      {"never written, there", {}, true, u"t1", 7, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ledger ledger;
    for (const Step& s : c.steps) {
      switch (s.op) {
        case kAdd:
          ledger.Added(u"a", 7, s.title, true);
          break;
        case kAddFailed:
          ledger.Added(u"a", 7, s.title, false);
          break;
        case kRetitle:
          ledger.Retitled(u"a", s.title, true);
          break;
        case kRetitleFailed:
          ledger.Retitled(u"a", s.title, false);
          break;
        case kDelete:
          ledger.Deleted(u"a", true);
          break;
        case kDeleteFailed:
          ledger.Deleted(u"a", false);
          break;
      }
    }
    std::map<std::u16string, FoundNode> found;
    if (c.found) found[u"a"] = FoundNode{c.foundUID, c.foundTitle};
    EXPECT_EQ(ledger.Check(found).size(), c.differences);
    EXPECT_EQ(ledger.Present().size(), c.presentAfter ? 1u : 0u);
    // Each difference is told once: a second check of the same folder finds none.
    EXPECT_TRUE(ledger.Check(found).empty());
  }
}

}  // namespace
}  // namespace zel::soak
