// SPDX-License-Identifier: GPL-2.0-or-later
// Text in the platform's forms: a Pascal string never ends inside a UTF-8 character, and
// four-character codes are Mac OS Roman characters both ways.
#include <glib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "toolbox/Core/TextConversion.h"

namespace {
std::string str(ConstStr255Param p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

std::string repeat(const std::string& s, size_t bytes) {
  std::string out;
  while (out.size() < bytes) out += s;
  return out;
}

bool wholeUtf8(const std::string& s) { return g_utf8_validate(s.data(), gssize(s.size()), nullptr); }
}  // namespace

TEST(TextConversion, ACutNeverSplitsACharacter) {
  struct Row {
    std::string text;
    size_t limit, kept;
  } rows[] = {
      {"abcdef", 4, 4},
      {"abc", 10, 3},
      {"ab\xC3\xA9", 3, 2},                   // é (2 bytes) would be split
      {"ab\xC3\xA9", 4, 4},                   // ... and fits whole
      {"a\xE2\x82\xAC", 2, 1},                // € (3 bytes), cut after its first byte
      {"a\xE2\x82\xAC", 3, 1},                // ... or its second
      {"a\xF0\x9F\x98\x80z", 4, 1},           // an emoji (4 bytes)
      {"a\xF0\x9F\x98\x80z", 5, 5},
      {"\x80\x80\x80\x80\x80\x80", 4, 4},     // not UTF-8: kept byte by byte
      {"\xE9t\xE9t\xE9", 3, 3},               // Latin-1 bytes are no lead bytes
      {"\xC3\xA9", 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text + " / " + std::to_string(r.limit));
    EXPECT_EQ(UTF8PrefixLength(r.text, r.limit), r.kept);
  }
  // A compressor's name in a 32-byte field, and a name that fits.
  Str31 name;
  CopyTextToPascal(repeat("\xC3\xA9", 40), name, 31);
  EXPECT_EQ(name[0], 30);
  EXPECT_TRUE(wholeUtf8(str(name)));
  CopyTextToPascal("short", name, 31);
  EXPECT_EQ(str(name), "short");
}

TEST(TextConversion, FourCharacterCodesAreMacRomanBothWays) {
  EXPECT_EQ(FourCharCodeFromText("TVOD"), FOUR_CHAR_CODE("TVOD"));
  EXPECT_EQ(FourCharCodeFromText("\xC2\xA9" "swr"), 0xA9737772u);  // © is 0xA9 in Mac OS Roman
  EXPECT_EQ(TextFromFourCharCode(0xA9737772u), "\xC2\xA9" "swr");
  for (const char* bad : {"", "abc", "abcde", "\xD0\x96" "abc", "ab\xFF" "d"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(FourCharCodeFromText(bad), 0u);
  }
  EXPECT_EQ(TextFromFourCharCode(0), "");
}
