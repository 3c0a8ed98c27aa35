// Byte-exact anchors: the expected bytes are spelled out by hand, not made by the writer under
// test, so a change of the wire form shows here.
#include <gtest/gtest.h>

#include <initializer_list>

#include "samples.h"
#include "zel/protocol/messages.h"

namespace zel::protocol {
namespace {

using samples::Bytes;
using samples::EncodeBytes;

// Little-endian pieces, concatenated.
struct Spell {
  Bytes bytes;
  Spell& Le(uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return *this;
  }
  Spell& U32(uint32_t value) { return Le(value, 4); }
  Spell& U64(uint64_t value) { return Le(value, 8); }
  Spell& Raw(std::initializer_list<uint8_t> raw) {
    bytes.insert(bytes.end(), raw);
    return *this;
  }
  // A text: byte length with terminator, UTF-16LE units, terminator (ASCII only here).
  Spell& Text(const char* ascii) {
    const std::string text(ascii);
    U32(static_cast<uint32_t>(2 * (text.size() + 1)));
    for (const char c : text) Raw({static_cast<uint8_t>(c), 0});
    return Raw({0, 0});
  }
};

TEST(AnchorsTest, FolderMessages) {
  EXPECT_EQ(EncodeBytes(FolderOperationReply{0, 0x0000012100000009}),
            Spell().Raw({0, 0, 0, 0, 9, 0, 0, 0, 0x21, 0x01, 0, 0}).bytes);
  EXPECT_EQ(EncodeBytes(FolderOperationReply{static_cast<int32_t>(0x80060008u), 0}),
            Spell().Raw({0x08, 0, 0x06, 0x80}).bytes);
  EXPECT_EQ(EncodeBytes(MoveFolderMembersRequest{{1, 2}, 5, 6}),
            Spell().U32(2).U64(1).U64(2).U64(5).U64(6).bytes);
  EXPECT_EQ(EncodeBytes(CreateFolderRequest{12, ZELString(u"Reports")}),
            Spell().U64(12).Text("Reports").bytes);
  EXPECT_EQ(EncodeBytes(DeleteFolderRequest{12}), Spell().U64(12).bytes);
}

TEST(AnchorsTest, ReadersRefuseWhatNoWriterSends) {
  struct Row {
    const char* what;
    uint16_t eventID;
    Direction direction;
    Bytes payload;
    uint32_t stoppedAt;
  };
  const Row rows[] = {
      {"a reply UID of 0", event::kCreateFolder, Direction::kReply, Spell().U32(0).U64(0).bytes, 4},
      {"a null name", event::kRenameFolder, Direction::kRequest, Spell().U64(1).U32(0).bytes, 8},
      {"a member count past the end", event::kMoveFolderMembers, Direction::kRequest,
       Spell().U32(5).U64(1).U64(2).U64(3).U64(4).bytes, 0},
      {"a name cut short", event::kCreateFolder, Direction::kRequest,
       Spell().U64(1).U32(8).Raw({'a', 0}).bytes, 8},
      {"an entry named neither by DN nor by UID", event::kDirGetEntry, Direction::kRequest,
       Spell().Raw({2}).U64(5).bytes, 0},
      {"a change of no known kind", event::kDirChanged, Direction::kNotification,
       Spell().U32(1).U32(3).U64(9).Raw({0}).U64(5).Text("A").bytes, 16},
      {"a search cookie longer than the payload", event::kDirSearch, Direction::kReply,
       Spell().U32(0).U32(0).U32(0x7FFFFFFF).Raw({1, 2}).bytes, 8},
      {"more records than bytes", event::kAuditQuery, Direction::kReply,
       Spell().U32(0).U32(3).U64(1).bytes, 4},
  };
  for (const Row& row : rows) {
    EventDescription description;
    ASSERT_TRUE(DescribeEventOfOurs(row.eventID, row.direction, row.payload.data(),
                                    static_cast<uint32_t>(row.payload.size()), description));
    EXPECT_FALSE(description.parsed) << row.what;
    EXPECT_EQ(description.stoppedAt, row.stoppedAt) << row.what;
  }
}

TEST(AnchorsTest, PasswordsAreUtf8OfAtMost127CharactersOnBothSides) {
  const struct {
    std::string password;
    bool accepted;
  } rows[] = {
      {"", true},
      {std::string(127, 'a'), true},
      {std::string(128, 'a'), false},
      {[] {
         std::string text;
         for (int i = 0; i < 127; ++i) text += "\xE2\x82\xAC";  // 127 euro signs, 381 bytes
         return text;
       }(),
       true},
      {"\xF0\x9F\x94\x91 key", true},
      {"\xC0\xAF", false},          // an overlong '/'
      {"\xED\xA0\x80", false},      // a surrogate
      {"abc\xE2\x82", false},       // cut inside a character
      {"\x80", false},              // a continuation byte first
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
  };
  for (const auto& row : rows) {
    const SetCredentialRequest request{7, SecretBytes(""), SecretBytes(row.password)};
    bool written = true;
    try {
      EncodeBytes(request);
    } catch (const ZEL_BUF_AppendException& e) {
      written = false;
      EXPECT_EQ(e.code(), zel::rt::kInvalidArgument);
    }
    EXPECT_EQ(written, row.accepted) << row.password.size() << " bytes";
    // The same bytes put on the wire by hand.
    Spell spelled;
    spelled.U64(7).U32(0).U32(static_cast<uint32_t>(row.password.size()));
    for (const char c : row.password) spelled.Raw({static_cast<uint8_t>(c)});
    ZEL_BUF_BufferReader in(spelled.bytes.data(), static_cast<uint32_t>(spelled.bytes.size()));
    SetCredentialRequest read;
    bool accepted = true;
    try {
      Decode(in, read);
    } catch (const ZEL_BUF_ReadException& e) {
      accepted = false;
      EXPECT_EQ(e.reason(), ZEL_BUF_ReadException::Reason::kMalformed);
    }
    EXPECT_EQ(accepted, row.accepted) << row.password.size() << " bytes";
  }
}

// A record as the library's events have them: a null-able string and a list whose int16 count
// comes first, apart from the list.
struct Section {
  struct Item {
    uint64_t uid = 0;
    template <class V>
    void Fields(V& v) {
      v.UID("uid", uid);
    }
  };
  ZELString parent;
  int16_t count = 0;
  std::vector<Item> items;
  template <class V>
  void Fields(V& v) {
    v.AnyText("parent", parent);
    v.I16("count", count);
    v.Valid(count >= 0);
    v.ListOf("items", static_cast<uint32_t>(count), items,
             [](auto& inner, Item& item) { item.Fields(inner); });
  }
};

TEST(AnchorsTest, KindsForTheLibrarysRecords) {
  const Bytes nullParent = Spell().U32(0).Le(2, 2).U64(5).U64(6).bytes;
  EventDescription description;
  description.eventName = "Section";
  DescribePayload<Section>(nullParent.data(), static_cast<uint32_t>(nullParent.size()),
                           description);
  EXPECT_EQ(description.Text(),
            "Section (0) \n  parent = null\n  count = 2\n  items[0].uid = 0x0000000000000005\n"
            "  items[1].uid = 0x0000000000000006\n");
  // Read, the null parent is empty text, which writes back with its terminator.
  ZEL_BUF_BufferReader in(nullParent.data(), static_cast<uint32_t>(nullParent.size()));
  Section section;
  Decode(in, section);
  EXPECT_EQ(EncodeBytes(section), Spell().Text("").Le(2, 2).U64(5).U64(6).bytes);
  // A count the payload cannot hold stops at the list, before anything is taken for it.
  const Bytes hostile = Spell().Text("P").Le(0x7FFF, 2).U64(5).bytes;
  DescribePayload<Section>(hostile.data(), static_cast<uint32_t>(hostile.size()), description);
  EXPECT_FALSE(description.parsed);
  EXPECT_EQ(description.stoppedAt, 10u);
  section.count = 3;  // says 3, holds 2
  EXPECT_THROW(EncodeBytes(section), ZEL_BUF_AppendException);
}

TEST(AnchorsTest, AReplyPastOneEventIsRefusedAndItsSizeKnownBefore) {
  DirSearchReply page{0, {}, std::vector<uint8_t>(kMaxPayload - 12, 1)};
  EXPECT_EQ(EncodedSize(page), uint64_t{kMaxPayload});
  EXPECT_EQ(EncodeBytes(page).size(), kMaxPayload);
  page.cookie.push_back(2);
  EXPECT_EQ(EncodedSize(page), uint64_t{kMaxPayload} + 1);
  try {
    EncodeBytes(page);
    ADD_FAILURE() << "a reply past the event maximum was written";
  } catch (const ZEL_BUF_AppendException& e) {
    EXPECT_EQ(e.code(), zel::rt::kEventTooLarge);
  }
}

TEST(AnchorsTest, DescriptionText) {
  const Bytes move = Spell().U32(2).U64(1).U64(0x0121000000000002).U64(5).U64(6).Raw({7}).bytes;
  EventDescription description;
  ASSERT_TRUE(DescribeEventOfOurs(event::kMoveFolderMembers, Direction::kRequest, move.data(),
                                  static_cast<uint32_t>(move.size()), description));
  EXPECT_EQ(description.Text(),
            "MoveFolderMembers (1003) request\n"
            "  members = [0x0000000000000001, 0x0121000000000002]\n"
            "  fromFolder = 0x0000000000000005\n"
            "  toFolder = 0x0000000000000006\n"
            "  (1 bytes after the last field)\n");
  // Quotes, backslashes and control characters are escaped; other text shows as UTF-8.
  const Bytes rename = Spell()
                           .U64(1)
                           .U32(14)
                           .Raw({'"', 0, '\\', 0, 1, 0, 0xE9, 0, 0xAC, 0x20})
                           .Raw({'"', 0, 0, 0})
                           .bytes;
  ASSERT_TRUE(DescribeEventOfOurs(event::kRenameFolder, Direction::kRequest, rename.data(),
                                  static_cast<uint32_t>(rename.size()), description));
  EXPECT_EQ(description.fields.at(1).value, "\"\\\"\\\\\\x01\xC3\xA9\xE2\x82\xAC\\\"\"");
  const Bytes reply = Spell().Raw({0x08, 0, 0x06, 0x80}).bytes;
  ASSERT_TRUE(DescribeEventOfOurs(event::kDeleteFolder, Direction::kReply, reply.data(),
                                  static_cast<uint32_t>(reply.size()), description));
  EXPECT_EQ(description.Text(), "DeleteFolder (1002) reply\n  result = -2147090424 (0x80060008)\n");
}

}  // namespace
}  // namespace zel::protocol
