// What every directory backend does: contexts, entries, values, one-level searches, and the rules
// for names, classes and parents. Runs unchanged on each backend of BackendsUnderTest().
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/directory/records.h"
#include "zel/directory/testing/backend.h"
#include "zel/directory/transaction.h"

namespace {

using zel::dir::testing::Backend;
using Names = std::vector<std::u16string>;

// An entry with two mapped fields, like the library's entry classes.
class NoteEntry : public ZEL_DIR_Entry {
 public:
  NoteEntry(ZEL_DIR_ServiceInterface* service, const ZELString& dn, uint32_t context)
      : ZEL_DIR_Entry(service, dn, context, u"CLASS-Note", 0) {}
  NoteEntry(ZEL_DIR_ServiceInterface* service, uint64_t uid)
      : ZEL_DIR_Entry(service, uid, u"CLASS-Note") {}
  int32_t DataMapHandler(uint8_t direction) override {
    if (direction == 1) {
      DeleteAllValues(u"ATTRIBUTE-Text");
      AddValue(u"ATTRIBUTE-Text", u"css", 7, text.getName(), text.getLength());
      DeleteAllValues(u"ATTRIBUTE-Code");
      AddValue(u"ATTRIBUTE-Code", u"uint16", 11, &code, 2);
    } else {
      MapStringDataFromDir(u"ATTRIBUTE-Text", text);
      MapFixSizeDataFromDir(u"ATTRIBUTE-Code", &code, 2);
    }
    return 0;
  }
  ZELString text;
  uint16_t code = 0;
};

// The suite's two contexts carry names of the library's contexts: the farm server reaches no
// others over `farm:`.
class StoreSuite : public ::testing::TestWithParam<Backend> {
 public:
  void SetUp() override {
    under_ = GetParam().make();
    ASSERT_EQ(Dir().CreateDataContext(u"AdminToolObjectContext", u"Root/Notes"), 0);
    ASSERT_EQ(Dir().CreateDataContext(u"AdminToolIconContext", u"Root/Other"), 0);
    ASSERT_EQ(Dir().BindLDAP(u"&AdminToolObjectContext", notes_), 0);
    ASSERT_EQ(Dir().BindLDAP(u"&AdminToolIconContext", other_), 0);
  }
  ZEL_PS_LDAPSAL& Dir() { return under_->Directory(); }
  int32_t AddNote(const ZELString& dn, const char16_t* text = u"", uint16_t code = 0,
                  uint64_t* uid = nullptr) {
    NoteEntry note(&Dir(), dn, notes_);
    note.text = text;
    note.code = code;
    const int32_t added = note.Add();
    if (uid != nullptr) *uid = note.GetUID();
    return added;
  }
  // The names found directly below `base` of the notes context (optionally filtered).
  Names NamesBelow(const ZELString& base, const ZELString& filter = {}) {
    ZEL_DIR_SearchHelper search(&Dir(), 1, base, notes_, filter, u"*");
    uint32_t count = 0;
    EXPECT_EQ(search.Search(count), 0);
    Names names;
    ZELString name;
    ZEL_DIR_BaseEntry found(&Dir(), ZELString(), notes_);
    for (int32_t r = search.GetFirstEntry(name, found); r == 0;
         r = search.GetNextEntry(name, found))
      names.emplace_back(name.view());
    EXPECT_EQ(names.size(), count);
    return names;
  }

  std::unique_ptr<zel::dir::testing::DirectoryUnderTest> under_;
  uint32_t notes_ = 0, other_ = 0;
};

TEST_P(StoreSuite, ContextsBindByNameOrDnAndCreatingAgainIsFine) {
  uint32_t id = 77, byDn = 0;
  EXPECT_EQ(Dir().BindLDAP(u"&AdminToolPluginContext", id), zel::dir::kNoSuchContext);
  EXPECT_EQ(id, 77u);
  ASSERT_EQ(Dir().BindLDAP(u"Root/Notes", byDn), 0);
  EXPECT_EQ(byDn, notes_);
  EXPECT_NE(notes_, other_);
  // Processes race to create a context: the same DN again is fine, another DN is not.
  EXPECT_EQ(Dir().CreateDataContext(u"AdminToolObjectContext", u"Root/Notes"), 0);
  EXPECT_EQ(Dir().CreateDataContext(u"AdminToolObjectContext", u"Elsewhere"),
            zel::dir::kContextConflict);
  EXPECT_EQ(Dir().CreateDataContext(u"&Bad", u"X"), zel::dir::kInvalidArgument);
  EXPECT_EQ(Dir().CreateDataContext(u"Bad", u"X\\"), zel::dir::kMalformedName);
  EXPECT_EQ(Dir().BindLDAP(ZELString(), id), zel::dir::kInvalidArgument);
}

TEST_P(StoreSuite, EntriesAreAddedReadUpdatedAndDeletedByDnOrUid) {
  const ZELString dn(u"Root/Notes/a \"quoted\" name\\/with separator");
  uint64_t uid = 0;
  ASSERT_EQ(AddNote(dn, u"first", 7, &uid), 0);
  EXPECT_EQ((uid >> 32) & 0xFFFF, 0x0121u);  // what GetIconByUID asks with finds Add's entry
  EXPECT_EQ(AddNote(dn, u"again", 8), zel::dir::kEntryExists);
  NoteEntry byUID(&Dir(), uid);
  ASSERT_EQ(byUID.Sync(), 0);
  EXPECT_EQ(byUID.GetDN(), dn);
  EXPECT_EQ(byUID.code, 7);
  const uint32_t extra = 9;
  byUID.AddValue(u"ATTRIBUTE-Extra", u"uint32", 12, &extra, 4);
  ASSERT_EQ(byUID.Update(), 0);
  // An update rewrites only what it changed: a fresh entry keeps the stored extra value.
  NoteEntry fresh(&Dir(), dn, notes_);
  fresh.text = u"third";
  ASSERT_EQ(fresh.Update(), 0);
  NoteEntry read(&Dir(), dn, notes_);
  ASSERT_EQ(read.Sync(), 0);
  uint32_t count = 0;
  read.GetValueCount(u"ATTRIBUTE-Extra", count);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(read.text, ZELString(u"third"));
  ASSERT_EQ(read.DelEntry(), 0);
  for (int32_t again : {read.DelEntry(), read.Sync(), read.Update(),
                        NoteEntry(&Dir(), uint64_t{0x0007000000000001}).Sync()}) {
    EXPECT_EQ(again, zel::dir::kNoSuchEntry);
  }
}

TEST_P(StoreSuite, ValuesAreTypedOrderedAndMultiValued) {
  NoteEntry note(&Dir(), u"n", notes_);
  const uint32_t a = 1, b = 2;
  note.AddValue(u"ATTRIBUTE-Many", u"uint32", 12, &a, 4);
  note.AddValue(u"ATTRIBUTE-Many", u"uint32", 12, &b, 4);
  ASSERT_EQ(note.Add(), 0);
  NoteEntry read(&Dir(), u"n", notes_);
  ASSERT_EQ(read.Sync(), 0);
  uint32_t value = 0, size = 4, type = 0;
  ASSERT_EQ(read.GetFirstValue(u"ATTRIBUTE-Many", &value, size, type), 0);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(type, 12u);
  ASSERT_EQ(read.GetNextValue(u"ATTRIBUTE-Many", &value, size, type), 0);
  EXPECT_EQ(value, 2u);
  EXPECT_EQ(read.GetNextValue(u"ATTRIBUTE-Many", &value, size, type), zel::dir::kNoMore);
  size = 1;
  EXPECT_EQ(read.GetFirstValue(u"ATTRIBUTE-Code", &value, size, type), zel::dir::kValueTooLarge);
  EXPECT_EQ(size, 2u);
}

TEST_P(StoreSuite, OneLevelSearchesWithAndWithoutAFilter) {
  ASSERT_EQ(AddNote(u"Root/Notes/b", u"x", 0x1f2e), 0);
  ASSERT_EQ(AddNote(u"Root/Notes/a", u"y", 0x0001), 0);
  ASSERT_EQ(AddNote(u"Root/Notes/a/deeper", u"z", 0x1f2e), 0);
  NoteEntry made(&Dir(), ZELString(), notes_);  // the directory gives it its DN
  made.code = 0x1f2e;
  ASSERT_EQ(made.Add(), 0);
  EXPECT_EQ(made.GetDN().view().substr(0, 1), u"@");
  EXPECT_EQ(NamesBelow(u"Root/Notes"), (Names{u"a", u"b"}));  // not a/deeper
  // Only the made entry is directly below the context with that code.
  EXPECT_EQ(NamesBelow(ZELString(), u"ATTRIBUTE-Code=1f2e"), Names{made.GetDN().getName()});
  EXPECT_EQ(NamesBelow(u"Root/Notes", u"ATTRIBUTE-Text=y"), Names{u"a"});
  uint32_t count = 0;
  for (uint8_t scope : {0, 3}) {
    ZEL_DIR_SearchHelper bad(&Dir(), scope, ZELString(), notes_, ZELString(), u"*");
    EXPECT_EQ(bad.Search(count), zel::dir::kUnsupportedSearch);
  }
}

TEST_P(StoreSuite, SubtreeSearchesTakeEveryDepthBelowTheBase) {
  const Names belowNotes = {u"Root/Notes/a", u"Root/Notes/a/deeper", u"Root/Notes/b",
                            u"Root/Notes/gone/below"};
  const Names all = {u"Root",         u"Root/Notes/a",          u"Root/Notes/a/deeper",
                     u"Root/Notes/b", u"Root/Notes/gone/below", u"Root/Notes\\/x/e",
                     u"Root/Notesx/c"};  // in DN order, added in the reverse
  for (auto dn = all.rbegin(); dn != all.rend(); ++dn)
    ASSERT_EQ(AddNote(ZELString(*dn), u"t", 7), 0);
  NoteEntry elsewhere(&Dir(), u"Root/Notes/z", other_);
  ASSERT_EQ(elsewhere.Add(), 0);
  const struct {
    const char16_t* base;
    const char16_t* filter;
    Names dns;
  } cases[] = {
      {u"Root/Notes", u"", belowNotes},
      {u"Root/Notes/a", u"", {u"Root/Notes/a/deeper"}},
      {u"", u"", all},
      {u"Root/Notes", u"ATTRIBUTE-Code=0007", belowNotes},
      {u"Root/Notes", u"ATTRIBUTE-Code=0008", {}},
      {u"Nowhere", u"", {}},
  };
  for (const auto& c : cases) {
    ZEL_DIR_SearchHelper search(&Dir(), ZEL_DIR_SearchHelper::kSubtree, c.base, notes_, c.filter,
                                u"*");
    uint32_t count = 0;
    ASSERT_EQ(search.Search(count), 0);
    Names dns;
    ZELString name;
    NoteEntry found(&Dir(), ZELString(), notes_);
    for (int32_t r = search.GetFirstEntry(name, found); r == 0;
         r = search.GetNextEntry(name, found)) {
      dns.emplace_back(found.GetDN().view());
      EXPECT_EQ(found.code, 7);
    }
    EXPECT_EQ(dns, c.dns) << ZELString(c.base).toUtf8() << " " << ZELString(c.filter).toUtf8();
    EXPECT_EQ(count, dns.size());
  }
}

// A lookup finds only an entry of the context and class it asks for.
TEST_P(StoreSuite, LookupsFindOnlyTheContextAndClassAskedFor) {
  uint64_t note = 0;
  ASSERT_EQ(AddNote(u"n", u"kept", 1, &note), 0);
  ZEL_DIR_BaseEntry classless(&Dir(), u"n/plain", notes_);
  ASSERT_EQ(classless.Add(), 0);
  NoteEntry elsewhere(&Dir(), u"n", other_);
  ASSERT_EQ(elsewhere.Add(), 0);
  const struct {
    const char* what;
    uint64_t uid;  // by UID when nonzero, else by the DN "n" in the notes context
    const char16_t* cls;
  } cases[] = {
      {"another class, by UID", note, u"CLASS-Icon"},
      {"a classed entry as classless, by UID", note, u""},
      {"a classless entry with a class, by UID", classless.GetUID(), u"CLASS-Note"},
      {"another class, by DN", 0, u"CLASS-Icon"},
      {"a classed entry as classless, by DN", 0, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto make = [&] {
      return c.uid != 0 ? std::make_unique<ZEL_DIR_Entry>(&Dir(), c.uid, c.cls)
                        : std::make_unique<ZEL_DIR_Entry>(&Dir(), u"n", notes_, c.cls, 0);
    };
    EXPECT_EQ(make()->Sync(), zel::dir::kNoSuchEntry);
    auto update = make();
    update->DeleteAllValues(u"ATTRIBUTE-Text");
    EXPECT_EQ(update->Update(), zel::dir::kNoSuchEntry);
    EXPECT_EQ(make()->DelEntry(), zel::dir::kNoSuchEntry);
  }
  // Nothing was touched; a loaded entry stays in the context it was read from.
  NoteEntry read(&Dir(), note), second(&Dir(), elsewhere.GetUID());
  ASSERT_EQ(read.Sync(), 0);
  EXPECT_EQ(read.text, ZELString(u"kept"));
  ASSERT_EQ(second.Sync(), 0);
  EXPECT_EQ(second.GetContextID(), other_);
  EXPECT_EQ(ZEL_DIR_BaseEntry(&Dir(), u"n/plain", notes_).Sync(), 0);
}

// Two different names never land on one entry: names the directory gives are kept for it,
// malformed DNs are refused, every other name reads back exactly as it was added.
TEST_P(StoreSuite, NamesAreGivenRefusedOrKeptExactly) {
  NoteEntry first(&Dir(), ZELString(), notes_);
  ASSERT_EQ(first.Add(), 0);
  char next[24];
  std::snprintf(next, sizeof next, "@%016llx", static_cast<unsigned long long>(first.GetUID() + 1));
  const struct {
    ZELString dn;
    int32_t code;
  } cases[] = {
      {ZELString::FromUtf8(next), zel::dir::kReservedName},
      {u"@", zel::dir::kReservedName},
      {u"@x", zel::dir::kReservedName},
      {u"Root/Notes/zz\\", zel::dir::kMalformedName},
      {u"Root/Notes/a\\b", zel::dir::kMalformedName},
      {u"x\\/y\\", zel::dir::kMalformedName},
      {ZELString(std::u16string_view(u"Root/Notes/zz\0tail", 16)), zel::dir::kMalformedName},
      {ZELString(first.GetDN()).appendDistinguishedName(u"child"), 0},
      {u"x@", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dn.toUtf8());
    EXPECT_EQ(AddNote(c.dn), c.code);
    if (c.code != zel::dir::kMalformedName) continue;
    EXPECT_EQ(NoteEntry(&Dir(), c.dn, notes_).Sync(), c.code);
    EXPECT_EQ(NoteEntry(&Dir(), c.dn, notes_).DelEntry(), c.code);
    ZEL_DIR_SearchHelper below(&Dir(), 1, c.dn, notes_, ZELString(), u"*");
    uint32_t count = 0;
    EXPECT_EQ(below.Search(count), c.code);
  }
  for (int i = 0; i < 2; ++i) EXPECT_EQ(AddNote(ZELString()), 0);  // not blocked by anyone

  // Long names too: "Root/Notes/" and 89 or 90 letters are DNs of 100 and 101 bytes of UTF-8
  // (where a directory server may name them otherwise), and two names of 6,000 bytes.
  const std::u16string n89(89, u'n'), n90(90, u'n'), e3000(3000, u'\u00e9');
  const Names names = {u"zz\\", u"zz\\\\", u"zz", u"a/b", u"\\/",
                       u"/",    n89,       n90,   e3000,  e3000.substr(1) + u"\u00e8"};
  for (const std::u16string& name : names) {
    ASSERT_EQ(AddNote(ZELString(u"Root/Notes").appendDistinguishedName(ZELString(name))), 0);
  }
  const Names found = NamesBelow(u"Root/Notes");
  EXPECT_EQ(std::set(found.begin(), found.end()), std::set(names.begin(), names.end()));
  for (const std::u16string& name : names) {
    const ZELString dn = ZELString(u"Root/Notes").appendDistinguishedName(ZELString(name));
    EXPECT_EQ(AddNote(dn), zel::dir::kEntryExists);
    EXPECT_EQ(NoteEntry(&Dir(), dn, notes_).DelEntry(), 0);
  }
}

// A text value with a NUL inside is refused whole: it is not cut to what precedes the NUL.
TEST_P(StoreSuite, TextValuesWithANulInsideAreRefused) {
  const char16_t secret[] = u"secret\0tail";  // and its terminator
  NoteEntry note(&Dir(), u"s", notes_);
  EXPECT_EQ(note.AddValue(u"ATTRIBUTE-Other", u"css", 7, secret, sizeof secret),
            zel::dir::kInvalidValue);
  EXPECT_EQ(note.Add(), zel::dir::kInvalidValue);
  EXPECT_EQ(NoteEntry(&Dir(), u"s", notes_).Sync(), zel::dir::kNoSuchEntry);
  ASSERT_EQ(AddNote(u"Root/Notes/t", u"secret"), 0);
  NoteEntry update(&Dir(), u"Root/Notes/t", notes_);
  ASSERT_EQ(update.Sync(), 0);
  update.AddValue(u"ATTRIBUTE-Other", u"css", 7, secret, sizeof secret - 2);  // no terminator
  EXPECT_EQ(update.Update(), zel::dir::kInvalidValue);
  EXPECT_EQ(NamesBelow(u"Root/Notes", u"ATTRIBUTE-Other=secret"), Names{});
  // A terminator at the end is the text's own, as ZELString writes it.
  EXPECT_EQ(NamesBelow(u"Root/Notes", u"ATTRIBUTE-Text=secret"), Names{u"t"});
}

// The rule for parents: an entry may be added below a DN where no entry is, and deleting an
// entry deletes it alone; its children stay where they are.
TEST_P(StoreSuite, ParentsNeedNotExistAndChildrenOutliveTheirParent) {
  ASSERT_EQ(AddNote(u"p/q/r", u"deep"), 0);
  EXPECT_EQ(NoteEntry(&Dir(), u"p/q", notes_).Sync(), zel::dir::kNoSuchEntry);
  EXPECT_EQ(NamesBelow(u"p/q"), Names{u"r"});
  ASSERT_EQ(AddNote(u"p/q"), 0);
  ASSERT_EQ(NoteEntry(&Dir(), u"p/q", notes_).DelEntry(), 0);
  NoteEntry child(&Dir(), u"p/q/r", notes_);
  ASSERT_EQ(child.Sync(), 0);
  EXPECT_EQ(child.text, ZELString(u"deep"));
  EXPECT_EQ(NamesBelow(u"p/q"), Names{u"r"});
}

// Each row runs a script of writes inside one outermost scope, then commits the scope (or
// abandons it). The script, a word a write:
//   +N  adds N (answered 0)      =N  adds N where it is already (kEntryExists)
//   -N  deletes N (answered 0)   ?N  updates N, which is missing (kNoSuchEntry)
//   (   opens an inner scope     )   commits the inner scope (an inner scope left open at the
//                                    end of the script is abandoned)
TEST_P(StoreSuite, TransactionScopesCommitTogetherOrNotAtAll) {
  ZEL_DIR_Transaction none(nullptr);
  EXPECT_EQ(none.status(), zel::dir::kNoStore);
  EXPECT_EQ(none.Commit(), zel::dir::kNoStore);
  if (GetParam().scopes == Backend::Scopes::kRefused) {
    // Each write is atomic by itself; a scope says that it cannot hold several.
    ZEL_DIR_Transaction scope(&Dir());
    EXPECT_EQ(scope.status(), zel::dir::kNotSupported);
    EXPECT_EQ(AddNote(u"alone"), 0);
    EXPECT_EQ(scope.Commit(), zel::dir::kNotSupported);
    EXPECT_EQ(NamesBelow(u""), Names{u"alone"});
    return;
  }
  const struct {
    Names before;  // added before the scope
    const char* script;
    bool commit;
    int32_t committed;
    Names after;     // where the scope is atomic
    Names standing;  // where each write stands by itself, in order
  } cases[] = {
      {{}, "+a +b", true, 0, {u"a", u"b"}, {u"a", u"b"}},
      {{}, "+a +b", false, 0, {}, {u"a", u"b"}},
      {{}, "+a ?nobody", true, zel::dir::kNoSuchEntry, {}, {u"a"}},
      {{}, "+a =a", true, 0, {u"a"}, {u"a"}},  // an entry already there is no failure
      {{}, "( +b ) +c", true, 0, {u"b", u"c"}, {u"b", u"c"}},
      {{}, "+a ( +b", true, zel::dir::kStoreError, {}, {u"a", u"b"}},
      {{u"kept"}, "-kept", false, 0, {u"kept"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    SetUp();  // a fresh store for each row
    for (const std::u16string& name : c.before) ASSERT_EQ(AddNote(ZELString(name)), 0);
    {
      ZEL_DIR_Transaction scope(&Dir());
      ASSERT_EQ(scope.status(), 0);
      std::unique_ptr<ZEL_DIR_Transaction> inner;
      std::istringstream words(c.script);
      for (std::string word; words >> word;) {
        const ZELString name = ZELString::FromUtf8(word.substr(1));
        int32_t answer = 0;
        if (word == "(") inner = std::make_unique<ZEL_DIR_Transaction>(&Dir());
        if (word == ")") answer = inner->Commit();
        if (word[0] == '+' || word[0] == '=') answer = AddNote(name);
        if (word[0] == '-') answer = NoteEntry(&Dir(), name, notes_).DelEntry();
        if (word[0] == '?') answer = NoteEntry(&Dir(), name, notes_).Update();
        EXPECT_EQ(answer, word[0] == '='   ? zel::dir::kEntryExists
                          : word[0] == '?' ? zel::dir::kNoSuchEntry
                                           : 0)
            << word;
      }
      inner.reset();
      if (c.commit) {
        EXPECT_EQ(scope.Commit(), c.committed);
      }
    }
    const bool atomic = GetParam().scopes == Backend::Scopes::kAtomic;
    EXPECT_EQ(NamesBelow(u""), atomic ? c.after : c.standing);
    // After the scope, writes are transactions of their own again.
    EXPECT_EQ(AddNote(u"later"), 0);
  }
}

// Each committed change of a context gets the next number, is kept in the context's log and is
// told once to each listener of that context; a refused write and another context's changes
// are not.
TEST_P(StoreSuite, ChangesAreNumberedLoggedAndToldOnceEach) {
  using zel::dir::Change;
  uint64_t start = 99;
  ASSERT_EQ(zel::dir::ChangeNumber(Dir(), notes_, &start), 0);
  EXPECT_EQ(start, 0u);
  std::vector<Change> heard;
  uint32_t subscription = 0;
  ASSERT_EQ(zel::dir::Subscribe(
                Dir(), notes_,
                [&](uint32_t context, const Change& change) {
                  EXPECT_EQ(context, notes_);
                  heard.push_back(change);
                },
                &subscription),
            0);
  uint64_t a = 0;
  ASSERT_EQ(AddNote(u"a", u"one", 1, &a), 0);
  NoteEntry update(&Dir(), u"a", notes_);
  update.text = u"two";
  ASSERT_EQ(update.Update(), 0);
  EXPECT_EQ(AddNote(u"a"), zel::dir::kEntryExists);
  EXPECT_EQ(NoteEntry(&Dir(), u"missing", notes_).DelEntry(), zel::dir::kNoSuchEntry);
  ASSERT_EQ(NoteEntry(&Dir(), u"elsewhere", other_).Add(), 0);
  NoteEntry made(&Dir(), ZELString(), notes_);  // the directory gives it its DN
  ASSERT_EQ(made.Add(), 0);
  ASSERT_EQ(NoteEntry(&Dir(), u"a", notes_).DelEntry(), 0);

  // Numbered in order; otherwise the changes made here, and only those.
  std::vector<Change> told = heard;
  uint64_t previous = start;
  for (Change& change : told) {
    EXPECT_GT(change.number, previous);
    previous = std::exchange(change.number, 0);
  }
  const std::u16string madeDN(made.GetDN().view());
  ASSERT_EQ(told, (std::vector<Change>{{0, Change::kAdded, a, u"a"},
                                       {0, Change::kUpdated, a, u"a"},
                                       {0, Change::kAdded, made.GetUID(), madeDN},
                                       {0, Change::kDeleted, a, u"a"}}));
  // The log holds the same, and pages by number.
  std::vector<Change> logged;
  bool more = true;
  ASSERT_EQ(zel::dir::ChangesSince(Dir(), notes_, start, 0, &logged, &more), 0);
  EXPECT_EQ(logged, heard);
  EXPECT_FALSE(more);
  uint64_t last = 0;
  ASSERT_EQ(zel::dir::ChangeNumber(Dir(), notes_, &last), 0);
  EXPECT_EQ(last, heard.back().number);
  std::vector<Change> page;
  ASSERT_EQ(zel::dir::ChangesSince(Dir(), notes_, heard[0].number, 2, &page, &more), 0);
  EXPECT_EQ(page, (std::vector<Change>{heard[1], heard[2]}));
  EXPECT_TRUE(more);

  // Unsubscribed, the listener hears nothing more; nor does a subscription nobody holds end.
  ASSERT_EQ(zel::dir::Unsubscribe(Dir(), subscription), 0);
  ASSERT_EQ(AddNote(u"later"), 0);
  EXPECT_EQ(heard.size(), told.size());
  EXPECT_LT(zel::dir::Unsubscribe(Dir(), subscription + 1000), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreSuite,
                         ::testing::ValuesIn(zel::dir::testing::BackendsUnderTest()),
                         [](const auto& param) { return param.param.name; });

}  // namespace
