#include "zel/runtime/strings.h"

#include <gtest/gtest.h>

namespace {

TEST(ZELStringTest, LengthValueCountsBytesWithTerminator) {
  EXPECT_EQ(ZELString().getLength(), 2u);
  EXPECT_EQ(ZELString(static_cast<const char16_t*>(nullptr)).getLength(), 2u);
  EXPECT_EQ(ZELString(u"abc").getLength(), 8u);
  // A NUL inside is kept, so two different texts never become one string.
  const ZELString inner(std::u16string_view(u"ab\0cd", 5));
  EXPECT_EQ(inner.getLength(), 12u);
  EXPECT_TRUE(inner.hasInnerNul());
  EXPECT_FALSE(ZELString(u"ab").hasInnerNul());

  ZELString text(u"ab");
  text += u"cd";
  text += ZELString(u"e");
  EXPECT_EQ(std::u16string(text.getName()), u"abcde");
  text = static_cast<const char16_t*>(nullptr);
  EXPECT_TRUE(text.isEmpty());
}

TEST(ZELStringTest, DistinguishedNameSyntaxIsPinned) {
  ZELString dn(u"ServerNeighborhoods");
  dn.appendDistinguishedName(ZELString(u"Farm/1\\x"))
      .appendDistinguishedName(ZELString(u"AdminTool"));
  EXPECT_EQ(std::u16string(dn.getName()), u"ServerNeighborhoods/Farm\\/1\\\\x/AdminTool");

  ZELString first;
  first.appendDistinguishedName(ZELString(u"a/b"));
  EXPECT_EQ(std::u16string(first.getName()), u"a\\/b");  // no leading separator
}

TEST(ZELStringTest, EveryNameRoundTripsThroughAppend) {
  const char16_t* names[] = {u"plain", u"a/b", u"back\\slash", u"\\/",
                             u"/",     u"\\",  u"ends\\",      u"//\\\\",
                             u"",      u"x/",  u"/x",          u"\u00fc\U0001F600"};
  for (const char16_t* base : {u"", u"Root", u"Root/Child\\/x"}) {
    for (const char16_t* name : names) {
      ZELString dn(base);
      dn.appendDistinguishedName(ZELString(name));
      if (dn.isEmpty()) continue;  // "" appended to the empty DN has no component to take back
      EXPECT_EQ(dn.lastDistinguishedNameComponent(), ZELString(name)) << dn.toUtf8();
      EXPECT_EQ(dn.parentDistinguishedName(), ZELString(base)) << dn.toUtf8();
    }
  }
}

TEST(ZELStringTest, Utf8ConversionsKeepTextAndReplaceInvalidInput) {
  const ZELString text = ZELString::FromUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(text.view(), std::u16string_view(u"caf\u00e9 \U0001F600"));
  EXPECT_EQ(text.toUtf8(), "caf\xC3\xA9 \xF0\x9F\x98\x80");
  // A stray continuation byte, a truncated sequence, an overlong form and a lone surrogate.
  EXPECT_EQ(ZELString::FromUtf8("\x80"
                                "a\xE2\x82"
                                "\xC0\xAF")
                .view(),
            std::u16string_view(u"\uFFFDa\uFFFD\uFFFD"));
  const char16_t lone[] = {0xD800, u'x', 0};
  EXPECT_EQ(ZELString(lone).toUtf8(), "\xEF\xBF\xBDx");
}

}  // namespace
