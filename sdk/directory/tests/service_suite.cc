// The persistent-store access object's own operations (records by UID and by DN, attributes and
// single values, pages, contexts emptied, caches seeded, scopes, options), on every backend of
// BackendsUnderTest().
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "zel/directory/codes.h"
#include "zel/directory/service.h"
#include "zel/directory/testing/backend.h"

namespace {

using zel::dir::StoredEntry;
using zel::dir::StoredValue;
using zel::dir::testing::Backend;
using Values = ZEL_PS_LDAPSAL::Values;

StoredValue Number(const std::u16string& attribute, uint32_t number) {
  StoredValue value{attribute, u"uint32", 12, std::vector<uint8_t>(4)};
  std::memcpy(value.bytes.data(), &number, 4);
  return value;
}

class ServiceSuite : public ::testing::TestWithParam<Backend> {
 public:
  void SetUp() override {
    under_ = GetParam().make();
    ASSERT_EQ(Dir().CreateDataContext(u"AdminToolObjectContext", u"Root/Notes"), 0);
    ASSERT_EQ(Dir().BindLDAP(u"&AdminToolObjectContext", notes_), 0);
  }
  ZEL_PS_LDAPSAL& Dir() { return under_->Directory(); }
  std::vector<uint32_t> NumbersOf(const Values& values) {
    std::vector<uint32_t> numbers;
    for (const StoredValue& value : values) {
      uint32_t number = 0;
      std::memcpy(&number, value.bytes.data(), 4);
      numbers.push_back(number);
    }
    return numbers;
  }

  std::unique_ptr<zel::dir::testing::DirectoryUnderTest> under_;
  uint32_t notes_ = 0;
};

// Each operation that names an entry works by UID and by DN alike, and only on the class asked
// for; the attribute operations change one attribute and leave the others.
TEST_P(ServiceSuite, EntriesByUidOrDnKeepTheirClassAndOtherAttributes) {
  for (const bool byUID : {true, false}) {
    SCOPED_TRACE(byUID ? "by UID" : "by DN");
    const ZELString dn(byUID ? u"u" : u"d"), cls(u"CLASS-Thing"), other(u"CLASS-Other");
    uint64_t uid = 0;
    ASSERT_EQ(
        Dir().AddEntry(notes_, dn, cls, {Number(u"A", 1), Number(u"A", 2), Number(u"B", 9)}, uid),
        0);
    EXPECT_EQ(Dir().AddEntry(notes_, dn, cls, {}, uid), zel::dir::kEntryExists);
    Values a;
    // Each step's operation, on the entry by UID or by DN in the notes context.
#define ON_ENTRY(operation, ...) \
  (byUID ? Dir().operation(uid, __VA_ARGS__) : Dir().operation(notes_, dn, __VA_ARGS__))
    const struct {
      const char* what;
      std::function<int32_t(const ZELString& cls)> op;
      std::vector<uint32_t> expectedA;  // attribute A afterwards
    } steps[] = {
        {"exists", [&](const ZELString& c) { return ON_ENTRY(DoesEntryExist, c); }, {1, 2}},
        {"append",
         [&](const ZELString& c) { return ON_ENTRY(AddAttributeValue, c, Number(u"A", 3)); },
         {1, 2, 3}},
        {"remove",
         [&](const ZELString& c) { return ON_ENTRY(DelAttributeValue, c, Number(u"A", 1)); },
         {2, 3}},
        {"replace the attribute",
         [&](const ZELString& c) { return ON_ENTRY(UpdateAttribute, c, u"A", {Number(u"x", 5)}); },
         {5}},
        {"update the entry",
         [&](const ZELString& c) {
           return ON_ENTRY(UpdateEntry, c, {Number(u"A", 6), Number(u"A", 7)});
         },
         {6, 7}},
    };
    for (const auto& step : steps) {
      EXPECT_EQ(step.op(other), zel::dir::kNoSuchEntry) << step.what;
      EXPECT_EQ(step.op(cls), 0) << step.what;
      ASSERT_EQ(ON_ENTRY(ReadAttribute, cls, u"A", a), 0);
      EXPECT_EQ(NumbersOf(a), step.expectedA) << step.what;
    }
    // Equal values: appending again and removing what is not there change nothing.
    EXPECT_EQ(Dir().AddAttributeValue(uid, cls, Number(u"A", 7)), zel::dir::kEntryExists);
    EXPECT_EQ(Dir().DelAttributeValue(uid, cls, Number(u"A", 1)), zel::dir::kNoSuchValue);
    StoredEntry entry;
    ASSERT_EQ(Dir().ReadEntry(notes_, dn, cls, entry), 0);
    EXPECT_EQ(entry.uid, uid);
    EXPECT_EQ(entry.values, (Values{Number(u"A", 6), Number(u"A", 7), Number(u"B", 9)}));
    EXPECT_EQ(Dir().DelEntry(uid, other), zel::dir::kNoSuchEntry);
    EXPECT_EQ(ON_ENTRY(DelEntry, cls), 0);
#undef ON_ENTRY
    EXPECT_EQ(Dir().DoesEntryExist(uid, cls), zel::dir::kNoSuchEntry);
    EXPECT_EQ(Dir().ReadEntry(uid, cls, entry), zel::dir::kNoSuchEntry);
  }
}

// A registered class takes only its attributes; the entry rules hold for records too.
TEST_P(ServiceSuite, RegisteredClassesAndEntryRulesRefuseBadRecords) {
  ASSERT_EQ(Dir().RegObjectClass(u"CLASS-Thing", u"A,B"), 0);
  StoredValue innerNul{u"A", u"css", 7, {'a', 0, 0, 0, 'b', 0, 0, 0}};
  uint64_t uid = 0;
  const struct {
    const char* what;
    ZELString dn, cls;
    Values values;
    int32_t code;
  } cases[] = {
      {"declared attributes", u"ok", u"CLASS-Thing", {Number(u"A", 1), Number(u"B", 2)}, 0},
      {"undeclared attribute", u"c", u"CLASS-Thing", {Number(u"C", 1)}, zel::dir::kInvalidArgument},
      {"an undeclared class takes any", u"any", u"CLASS-Free", {Number(u"C", 1)}, 0},
      {"a text with a NUL inside", u"nul", u"CLASS-Free", {innerNul}, zel::dir::kInvalidValue},
      {"a generated name", u"@0000012100000001", u"CLASS-Free", {}, zel::dir::kReservedName},
      {"a malformed DN", u"a\\b", u"CLASS-Free", {}, zel::dir::kMalformedName},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Dir().AddEntry(notes_, c.dn, c.cls, c.values, uid), c.code) << c.what;
  }
  EXPECT_EQ(Dir().RegObjectClass(u"", u"A"), zel::dir::kInvalidArgument);
  EXPECT_EQ(Dir().RegObjectClass(u"CLASS-X", u"A,,B"), zel::dir::kInvalidArgument);
  EXPECT_EQ(Dir().UpdateAttribute(notes_, u"ok", u"CLASS-Thing", u"C", {Number(u"C", 1)}),
            zel::dir::kInvalidArgument);
}

// Pages of a search, a cache seeded from a change number, changes read a few at a time, and a
// context emptied whole.
TEST_P(ServiceSuite, PagesSeedsChangesAndEmptiedContexts) {
  uint64_t uid = 0;
  for (const char16_t* dn : {u"g", u"g/a", u"g/b", u"g/b/deep", u"h"}) {
    ASSERT_EQ(Dir().AddEntry(notes_, dn, u"", {Number(u"N", dn[0])}, uid), 0);
  }
  std::vector<StoredEntry> page;
  ASSERT_EQ(Dir().Search(notes_, u"g", 1, u"", u"g/a", 5, page), 0);
  ASSERT_EQ(page.size(), 1u);
  EXPECT_EQ(page[0].dn, u"g/b");
  page.clear();
  ASSERT_EQ(Dir().Search(notes_, u"", 2, u"N=00000067", u"", 0, page), 0);  // 'g' as hex
  EXPECT_EQ(page.size(), 4u);
  EXPECT_EQ(Dir().Search(notes_, u"", 3, u"", u"", 0, page), zel::dir::kUnsupportedSearch);
  EXPECT_EQ(Dir().Search(notes_, u"", 1, u"N", u"", 0, page), zel::dir::kUnsupportedSearch);

  uint64_t seeded = 0;
  std::vector<StoredEntry> cache;
  ASSERT_EQ(Dir().SeedLocalCache(notes_, u"g", cache, seeded), 0);
  EXPECT_EQ(cache.size(), 3u);
  ASSERT_EQ(Dir().SetPSOption(ZEL_PS_LDAPSAL::kOptionChangesAtOnce, 2), 0);
  EXPECT_EQ(Dir().SetPSOption(99, 1), zel::dir::kInvalidArgument);
  ASSERT_EQ(Dir().DestroyDataContext(notes_), 0);
  std::vector<zel::dir::Change> changes;
  bool more = false;
  ASSERT_EQ(Dir().GetContextEntryChangeInfo(notes_, seeded, 0, changes, more), 0);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_TRUE(more);
  EXPECT_EQ(changes[0].dn, u"h");  // the deepest, and last in DN order, first
  EXPECT_EQ(changes[1].dn, u"g/b/deep");
  uint64_t last = 0;
  ASSERT_EQ(Dir().GetContextChangeNumber(notes_, last), 0);
  EXPECT_GT(last, seeded);
  page.clear();
  ASSERT_EQ(Dir().Search(notes_, u"", 2, u"", u"", 0, page), 0);
  EXPECT_TRUE(page.empty());
  uint32_t id = 0;
  EXPECT_EQ(Dir().BindLDAP(u"&AdminToolObjectContext", id), 0);  // the context stays
  EXPECT_EQ(Dir().DestroyDataContext(notes_ + 1), zel::dir::kNoSuchContext);
}

// Scopes without an object, where the backend holds them; a store closed opens again; the
// timeout is the backend's to keep; the subscription ends with an empty listener.
TEST_P(ServiceSuite, ScopesReopeningTimeoutsAndSubscriptions) {
  uint64_t uid = 0;
  if (GetParam().scopes != Backend::Scopes::kRefused) {
    ASSERT_EQ(Dir().Sync_EnterMSJetCriticalSection(), 0);
    ASSERT_EQ(Dir().AddEntry(notes_, u"undone", u"", {}, uid), 0);
    EXPECT_EQ(Dir().Sync_LeaveMSJetCriticalSection(false), zel::dir::kStoreError);
    // Undone where the scope is atomic; an ordered scope's writes stand.
    EXPECT_EQ(Dir().DoesEntryExist(notes_, u"undone", u""),
              GetParam().scopes == Backend::Scopes::kAtomic ? zel::dir::kNoSuchEntry : 0);
  } else {
    EXPECT_EQ(Dir().Sync_EnterMSJetCriticalSection(), zel::dir::kNotSupported);
  }
  EXPECT_EQ(Dir().Sync_LeaveMSJetCriticalSection(true), zel::dir::kInvalidArgument);
  EXPECT_EQ(Dir().SetTimeout(2000), 0);

  int heard = 0;
  uint32_t subscription = 0;
  ASSERT_EQ(Dir().SubscribeToDirChangeNotification(
                notes_, [&](uint32_t, const zel::dir::Change&) { ++heard; }, subscription),
            0);
  ASSERT_EQ(Dir().AddEntry(notes_, u"told", u"", {}, uid), 0);
  ASSERT_EQ(Dir().SubscribeToDirChangeNotification(notes_, nullptr, subscription), 0);
  ASSERT_EQ(Dir().AddEntry(notes_, u"untold", u"", {}, uid), 0);
  EXPECT_EQ(heard, 1);

  ASSERT_EQ(Dir().UnInitialize(), 0);
  EXPECT_EQ(Dir().DoesEntryExist(notes_, u"told", u""), 0);  // opened again
  EXPECT_EQ(Dir().InstallLDAP(), 0);
  EXPECT_EQ(Dir().Initialize(), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, ServiceSuite,
                         ::testing::ValuesIn(zel::dir::testing::BackendsUnderTest()),
                         [](const auto& param) { return param.param.name; });

}  // namespace
