// Entries, values and searches on a real store file.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>
#include <string>
#include <vector>

#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/directory/testing/temp_store.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/testing/child_process.h"
#include "zel/runtime/testing/scripted_host.h"

namespace {

using zel::dir::testing::StoreAt;
using zel::dir::testing::TempStore;
using zel::rt::testing::ChildProcess;

// An entry with one mapped field, like the library's entry classes.
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

class EntryTest : public ::testing::Test {
 protected:
  EntryTest() {
    host_.Plugins().Offer(kZelDirectoryStoreInterface, &store_);
    directory_.CreateDataContext(ZELString(u"Notes"), ZELString(u"Root/Notes"));
    directory_.BindLDAP(ZELString(u"&Notes"), context_);
  }
  int32_t AddNote(const ZELString& dn, const char16_t* text, uint16_t code) {
    NoteEntry note(&directory_, dn, context_);
    note.text = text;
    note.code = code;
    return note.Add();
  }

  TempStore store_;
  zel::rt::testing::ScriptedHost host_;
  ZEL_PS_LDAPSAL directory_{host_};
  uint32_t context_ = 0;
};

TEST_F(EntryTest, EntriesAreAddedReadUpdatedAndDeletedByDnOrUid) {
  const ZELString dn(u"Root/Notes/a \"quoted\" name\\/with separator");
  ASSERT_EQ(AddNote(dn, u"first", 7), 0);
  EXPECT_EQ(AddNote(dn, u"again", 8), zel::dir::kEntryExists);

  NoteEntry read(&directory_, dn, context_);
  ASSERT_EQ(read.Sync(), 0);
  EXPECT_EQ(read.text, ZELString(u"first"));
  EXPECT_EQ(read.code, 7);
  EXPECT_EQ(read.GetUID() >> 32, 0x0121u);  // the directory's UIDs carry 0x0121 in bits 32-47

  NoteEntry byUID(&directory_, read.GetUID());
  ASSERT_EQ(byUID.Sync(), 0);
  EXPECT_EQ(byUID.GetDN(), dn);
  byUID.text = u"second";
  const uint32_t extra = 9;
  byUID.AddValue(u"ATTRIBUTE-Extra", u"uint32", 12, &extra, 4);
  ASSERT_EQ(byUID.Update(), 0);
  ASSERT_EQ(read.Sync(), 0);
  EXPECT_EQ(read.text, ZELString(u"second"));

  // An update rewrites only what it changed: a fresh entry keeps the stored extra value.
  NoteEntry fresh(&directory_, dn, context_);
  fresh.text = u"third";
  ASSERT_EQ(fresh.Update(), 0);
  ASSERT_EQ(read.Sync(), 0);
  uint32_t count = 0;
  read.GetValueCount(u"ATTRIBUTE-Extra", count);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(read.text, ZELString(u"third"));

  ASSERT_EQ(read.DelEntry(), 0);
  EXPECT_EQ(read.DelEntry(), zel::dir::kNoSuchEntry);
  EXPECT_EQ(read.Sync(), zel::dir::kNoSuchEntry);
  EXPECT_EQ(read.Update(), zel::dir::kNoSuchEntry);
  NoteEntry foreign(&directory_, uint64_t{0x0007000000000001});
  EXPECT_EQ(foreign.Sync(), zel::dir::kNoSuchEntry);
}

TEST_F(EntryTest, ValuesAreTypedOrderedAndMultiValued) {
  NoteEntry note(&directory_, ZELString(u"Root/Notes/n"), context_);
  const uint32_t a = 1, b = 2;
  note.AddValue(u"ATTRIBUTE-Many", u"uint32", 12, &a, 4);
  note.AddValue(u"ATTRIBUTE-Many", u"uint32", 12, &b, 4);
  ASSERT_EQ(note.Add(), 0);
  NoteEntry read(&directory_, ZELString(u"Root/Notes/n"), context_);
  ASSERT_EQ(read.Sync(), 0);
  uint32_t count = 0, value = 0, size = 4, type = 0;
  ASSERT_EQ(read.GetValueCount(u"ATTRIBUTE-Many", count), 0);
  EXPECT_EQ(count, 2u);
  ASSERT_EQ(read.GetFirstValue(u"ATTRIBUTE-Many", &value, size, type), 0);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(type, 12u);
  ASSERT_EQ(read.GetNextValue(u"ATTRIBUTE-Many", &value, size, type), 0);
  EXPECT_EQ(value, 2u);
  EXPECT_EQ(read.GetNextValue(u"ATTRIBUTE-Many", &value, size, type), zel::dir::kNoMore);
  uint16_t small = 0;
  size = 1;
  EXPECT_EQ(read.GetFirstValue(u"ATTRIBUTE-Code", &small, size, type), zel::dir::kValueTooLarge);
  EXPECT_EQ(size, 2u);

  void* copy = nullptr;
  uint32_t copySize = 0;
  ASSERT_EQ(read.MapVarySizeDataFromDir(u"ATTRIBUTE-Many", copy, copySize), 0);
  EXPECT_EQ(copySize, 4u);
  read.FreeUserMemory(copy);
  void* debug = nullptr;  // user memory is the runtime's debug storage: either kind goes back
  ASSERT_EQ(ZEL_BUF_Allocate_Debug(8, &debug, "entry_test", __LINE__), 0);
  read.FreeUserMemory(debug);
  EXPECT_EQ(zel::rt::OutstandingDebugBlocks(), 0u);
}

TEST_F(EntryTest, OneLevelSearchesWithAndWithoutAFilter) {
  ASSERT_EQ(AddNote(ZELString(u"Root/Notes/b"), u"x", 0x1f2e), 0);
  ASSERT_EQ(AddNote(ZELString(u"Root/Notes/a"), u"y", 0x0001), 0);
  ASSERT_EQ(AddNote(ZELString(u"Root/Notes/a/deeper"), u"z", 0x1f2e), 0);
  NoteEntry made(&directory_, ZELString(), context_);  // the directory makes its DN up
  made.code = 0x1f2e;
  ASSERT_EQ(made.Add(), 0);
  EXPECT_EQ(made.GetDN().view().substr(0, 5), std::u16string_view(u"@0000"));

  ZEL_DIR_SearchHelper below(&directory_, 1, ZELString(u"Root/Notes"), context_, ZELString(),
                             ZELString(u"*"));
  uint32_t count = 0;
  ASSERT_EQ(below.Search(count), 0);
  EXPECT_EQ(count, 2u);  // a and b, not a/deeper
  ZELString name;
  NoteEntry found(&directory_, ZELString(), context_);
  ASSERT_EQ(below.GetFirstEntry(name, found), 0);
  EXPECT_EQ(name, ZELString(u"a"));
  EXPECT_EQ(found.text, ZELString(u"y"));
  ASSERT_EQ(below.GetNextEntry(name, found), 0);
  EXPECT_EQ(name, ZELString(u"b"));
  EXPECT_EQ(below.GetNextEntry(name, found), zel::dir::kNoMore);

  ZEL_DIR_SearchHelper top(&directory_, 1, ZELString(), context_, ZELString(u"ATTRIBUTE-Code=1f2e"),
                           ZELString(u"*"));
  ASSERT_EQ(top.Search(count), 0);
  EXPECT_EQ(count, 1u);  // only the made-up entry is directly below the context
  ZEL_DIR_SearchHelper bad(&directory_, 2, ZELString(), context_, ZELString(), ZELString(u"*"));
  EXPECT_EQ(bad.Search(count), zel::dir::kUnsupportedSearch);
}

TEST_F(EntryTest, LookupsAndSearchesUseIndexes) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(store_.StorePath().c_str(), &db), SQLITE_OK);
  AddNote(ZELString(u"Root/Notes/x"), u"x", 1);
  auto plan = [&](const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    std::string detail;
    sqlite3_prepare_v2(db, (std::string("EXPLAIN QUERY PLAN ") + sql).c_str(), -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      detail += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3));
      detail += "; ";
    }
    sqlite3_finalize(stmt);
    return detail;
  };
  for (const char* sql :
       {"SELECT id FROM entries WHERE context = 1 AND dn = 'x'",
        "SELECT e.id, e.dn, e.class, v.attribute, v.type_name, v.type_code, v.data FROM entries "
        "e LEFT JOIN attribute_values v ON v.entry = e.id WHERE e.context = 1 AND e.parent = 'x' "
        "ORDER BY e.dn, v.attribute, v.position",
        "SELECT e.id, e.dn, e.class, v.attribute, v.type_name, v.type_code, v.data FROM (SELECT "
        "DISTINCT entry FROM attribute_values WHERE attribute = 'a' AND text = 'b') m CROSS JOIN "
        "entries e ON e.id = m.entry LEFT JOIN attribute_values v ON v.entry = e.id WHERE "
        "e.context = 1 AND e.parent = '' ORDER BY e.dn, v.attribute, v.position"}) {
    const std::string detail = plan(sql);
    EXPECT_EQ(detail.find("SCAN e"), std::string::npos) << sql << " -> " << detail;
    EXPECT_EQ(detail.find("SCAN attribute_values"), std::string::npos) << sql << " -> " << detail;
    // A filtered search starts from the value index, not from all the siblings.
    if (std::string(sql).find("text = 'b'") != std::string::npos) {
      EXPECT_NE(detail.find("values_by_text"), std::string::npos) << detail;
    }
  }
  sqlite3_close(db);
}

constexpr int kNotesPerWriter = 20;

// Another process adds its notes ("WRITER STORE-PATH"); its exit code is how many failed.
const zel::rt::testing::ChildRole kNoteWriter("note-writer", [](const std::string& argument) {
  const std::size_t space = argument.find(' ');
  StoreAt store(argument.substr(space + 1));
  zel::rt::testing::ScriptedHost host;
  host.Plugins().Offer(kZelDirectoryStoreInterface, &store);
  ZEL_PS_LDAPSAL own(host);
  uint32_t context = 0;
  if (own.BindLDAP(ZELString(u"&Notes"), context) != 0) return 100;
  int failures = 0;
  for (int i = 0; i < kNotesPerWriter; ++i) {
    NoteEntry note(
        &own,
        ZELString::FromUtf8("Root/Notes/p" + argument.substr(0, space) + "-" + std::to_string(i)),
        context);
    failures += note.Add() != 0;
  }
  return failures;
});

TEST_F(EntryTest, ProcessesShareTheStoreAndAForeignFileIsRefused) {
  const int kChildren = 3;
  std::vector<ChildProcess> writers;
  for (int c = 0; c < kChildren; ++c) {
    writers.push_back(
        ChildProcess::StartRole("note-writer", std::to_string(c) + " " + store_.StorePath()));
    ASSERT_TRUE(writers.back().Started());
  }
  for (ChildProcess& writer : writers) EXPECT_EQ(writer.Wait(), 0);
  ZEL_DIR_SearchHelper all(&directory_, 1, ZELString(u"Root/Notes"), context_, ZELString(),
                           ZELString(u"*"));
  uint32_t count = 0;
  ASSERT_EQ(all.Search(count), 0);
  EXPECT_EQ(count, static_cast<uint32_t>(kChildren * kNotesPerWriter));

  struct Foreign final : ZEL_DIR_StoreLocation {
    std::string path;
    std::string StorePath() override { return path; }
  } foreign;
  foreign.path = store_.Folder() + "/not-a-database";
  std::ofstream(foreign.path) << std::string(4096, 'x');
  zel::rt::testing::ScriptedHost other;
  other.Plugins().Offer(kZelDirectoryStoreInterface, &foreign);
  ZEL_PS_LDAPSAL refused(other);
  uint32_t id = 0;
  EXPECT_EQ(refused.BindLDAP(ZELString(u"&Notes"), id), zel::dir::kStoreError);
}

}  // namespace
