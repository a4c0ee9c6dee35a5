// SPDX-License-Identifier: GPL-2.0-or-later
// Pascal-string helpers, pixel swapping, four-character codes and system version tests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/UtilsCIP.h"
#include "toolbox/Core/System.h"

namespace {
std::string str(ConstStr255Param p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

void pset(Str255 p, const std::string& s) {
  p[0] = UInt8(s.size());
  std::memcpy(p + 1, s.data(), s.size());
}

struct VersionReset {
  ~VersionReset() { SetEmulatedSystemVersion(0); }
};
}  // namespace

TEST(PascalStrings, CatNeverExceedsCapacityLessOne) {
  Str255 dst, src;
  pset(dst, std::string(200, 'a'));
  pset(src, std::string(100, 'b'));
  UtilsCIP::PStrCat(dst, src, 256);
  EXPECT_EQ(dst[0], 255);
  EXPECT_EQ(str(dst), std::string(200, 'a') + std::string(55, 'b'));

  // A small buffer: capacity 10 holds 9 characters.
  unsigned char small[10];
  pset(small, "abc");
  pset(src, "defghijklmnop");
  EXPECT_EQ(UtilsCIP::PStrCat(small, src, 10), small);
  EXPECT_EQ(str(small), "abcdefghi");

  // Already full, or a capacity larger than a length byte can say: nothing spills over.
  UtilsCIP::PStrCat(small, src, 10);
  EXPECT_EQ(str(small), "abcdefghi");
  pset(dst, std::string(250, 'x'));
  UtilsCIP::PStrCat(dst, src, 1000);
  EXPECT_EQ(dst[0], 255);
  UtilsCIP::PStrCat(dst, src, 0);
  EXPECT_EQ(dst[0], 255);
}

TEST(PascalStrings, CopyAndConvertInPlace) {
  Str255 a, b;
  pset(a, "hello");
  std::memset(b, 'z', sizeof b);
  UtilsCIP::PStrCpy(b, a);
  EXPECT_EQ(str(b), "hello");

  char buf[300];
  std::strcpy(buf, "name.jpg");
  UtilsCIP::C2Pstr(buf);
  EXPECT_EQ(str(reinterpret_cast<unsigned char*>(buf)), "name.jpg");
  UtilsCIP::P2Cstr(reinterpret_cast<unsigned char*>(buf));
  EXPECT_STREQ(buf, "name.jpg");

  std::memset(buf, 'q', 299);  // too long for a length byte: the first 255 bytes stay
  buf[299] = '\0';
  UtilsCIP::C2Pstr(buf);
  EXPECT_EQ(UInt8(buf[0]), 255);
  EXPECT_EQ(buf[255], 'q');

  buf[0] = '\0';
  UtilsCIP::C2Pstr(buf);
  EXPECT_EQ(buf[0], 0);
}

// Every way a longer text becomes a Pascal string keeps whole characters.
TEST(PascalStrings, ALongTextIsCutWhereACharacterEnds) {
  std::string accents;
  while (accents.size() < 300) accents += "\xC3\xA9";  // é
  Str255 p;
  CopyCStringToPascal(accents.c_str(), p);
  EXPECT_EQ(str(p), accents.substr(0, 254));

  char inPlace[400];
  std::strcpy(inPlace, accents.c_str());
  UtilsCIP::C2Pstr(inPlace);
  EXPECT_EQ(str(reinterpret_cast<unsigned char*>(inPlace)), accents.substr(0, 254));

  Str255 dst, src;
  pset(dst, "abc");
  pset(src, "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC");  // €€€
  UtilsCIP::PStrCat(dst, src, 9);                  // room for 5 more bytes: one €, not two halves
  EXPECT_EQ(str(dst), "abc\xE2\x82\xAC");
}

TEST(PascalStrings, SuffixesAndDots) {
  Str255 n;
  char suffix[256];
  pset(n, "archive.tar.gz");
  ASSERT_TRUE(UtilsCIP::GetSuffix(n, suffix));
  EXPECT_STREQ(suffix, ".gz");
  pset(n, "trailing.");
  ASSERT_TRUE(UtilsCIP::GetSuffix(n, suffix));
  EXPECT_STREQ(suffix, ".");
  pset(n, "plain");
  EXPECT_FALSE(UtilsCIP::GetSuffix(n, suffix));

  pset(n, "archive.tar.gz");
  EXPECT_EQ(str(UtilsCIP::StripNameAfterDot(n)), "archive.tar");
  pset(n, ".hidden");
  EXPECT_EQ(str(UtilsCIP::StripNameAfterDot(n)), "");
  pset(n, "plain");
  EXPECT_EQ(str(UtilsCIP::StripNameAfterDot(n)), "plain");

  pset(n, "Viewer.app");
  UtilsCIP::RemoveDotApp(n);
  EXPECT_EQ(str(n), "Viewer");
  pset(n, "Viewer.ap");  // fewer than three characters after the dot
  UtilsCIP::RemoveDotApp(n);
  EXPECT_EQ(str(n), "Viewer.ap");
  pset(n, "my.app.jpg");  // only the last dot counts
  UtilsCIP::RemoveDotApp(n);
  EXPECT_EQ(str(n), "my.app.jpg");
  pset(n, "Viewer.APP");
  UtilsCIP::RemoveDotApp(n);
  EXPECT_EQ(str(n), "Viewer.APP");
}

TEST(SwapRGB, ExchangesFirstAndThirdComponentOfWholePixels) {
  unsigned char p24[7] = {1, 2, 3, 4, 5, 6, 7};
  UtilsCIP::SwapRGB(p24, 7, 24);
  const unsigned char want24[7] = {3, 2, 1, 6, 5, 4, 7};  // the partial pixel is left alone
  EXPECT_EQ(std::memcmp(p24, want24, 7), 0);

  unsigned char p48[12] = {0x10, 0x11, 0x20, 0x21, 0x30, 0x31, 0x40, 0x41, 0x50, 0x51, 0x60, 0x61};
  UtilsCIP::SwapRGB(p48, 12, 48);
  const unsigned char want48[12] = {0x30, 0x31, 0x20, 0x21, 0x10, 0x11, 0x60, 0x61, 0x50, 0x51, 0x40, 0x41};
  EXPECT_EQ(std::memcmp(p48, want48, 12), 0);

  for (short depth : {8, 16, 32, 64}) {
    unsigned char p[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    UtilsCIP::SwapRGB(p, 8, depth);
    const unsigned char same[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(std::memcmp(p, same, 8), 0) << depth;
  }
}

TEST(FourCharCodes, MostSignificantByteFirstAndMacRoman) {
  EXPECT_EQ(UtilsCIP::FourCharCodeToOSType("Itnt"), 0x49746E74u);
  EXPECT_EQ(UtilsCIP::FourCharCodeToOSType("Itnt"), FOUR_CHAR_CODE("Itnt"));
  EXPECT_EQ(UtilsCIP::OsTypeToFourCharCode(FOUR_CHAR_CODE("St2M")), "St2M");
  EXPECT_EQ(UtilsCIP::OsTypeToFourCharCode(FOUR_CHAR_CODE("fss ")), "fss ");
  // 0xA9 is the copyright sign in Mac OS Roman.
  EXPECT_EQ(UtilsCIP::OsTypeToFourCharCode(0xA9666D74u), "\xC2\xA9" "fmt");
  EXPECT_EQ(UtilsCIP::FourCharCodeToOSType("\xC2\xA9" "fmt"), 0xA9666D74u);
  // Missing or malformed values.
  EXPECT_EQ(UtilsCIP::OsTypeToFourCharCode(0), "");
  EXPECT_EQ(UtilsCIP::FourCharCodeToOSType(""), 0u);
  EXPECT_EQ(UtilsCIP::FourCharCodeToOSType("abc"), 0u);
  EXPECT_EQ(UtilsCIP::FourCharCodeToOSType("abcde"), 0u);
  EXPECT_EQ(UtilsCIP::FourCharCodeToOSType("\xD0\x96" "abc"), 0u) << "Cyrillic has no Mac OS Roman byte";
}

TEST(SystemVersion, ThresholdsFollowTheEmulatedVersion) {
  VersionReset reset;
  struct Row {
    SInt32 version;
    bool osx, jaguar, panther, notPanther;
  };
  const Row rows[] = {
      {0x0999, false, false, false, true}, {0x099A, true, false, false, true}, {0x101F, true, false, false, true},
      {0x1020, true, true, false, true},   {0x102F, true, true, false, true},  {0x1030, true, true, true, false},
      {0x103F, true, true, true, false},   {0x1040, true, true, true, true},
  };
  for (const Row& r : rows) {
    SetEmulatedSystemVersion(r.version);
    EXPECT_EQ(UtilsCIP::IsOSX(), r.osx) << std::hex << r.version;
    EXPECT_EQ(UtilsCIP::JaguarOrGreater(), r.jaguar) << std::hex << r.version;
    EXPECT_EQ(UtilsCIP::PantherOrGreater(), r.panther) << std::hex << r.version;
    EXPECT_EQ(UtilsCIP::NotPanther(), r.notPanther) << std::hex << r.version;
  }
}
