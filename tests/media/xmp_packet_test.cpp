// SPDX-License-Identifier: GPL-2.0-or-later
// The XMP packet reader: properties found by namespace URI whatever the prefix, only on the
// top-level descriptions; tags placed at their bytes; what is not namespace-well-formed refused.
#include <gtest/gtest.h>

#include <string>

#include "media/XmpPacket.h"

namespace {

const std::string kOpen = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">";
const std::string kClose = "</rdf:RDF></x:xmpmeta>";
constexpr char kUri[] = "http://example.com/ns/";

}  // namespace

TEST(XmpPacket, APropertyIsFoundByItsNamespaceInEitherFormOnlyOnATopLevelDescription) {
  struct Row {
    const char* what;
    std::string body;  // inside rdf:RDF
    std::optional<std::string> value;
  } rows[] = {
      {"attribute, odd prefix", "<rdf:Description xmlns:zz=\"http://example.com/ns/\" zz:Name=\"v&amp;w\"/>", "v&w"},
      {"element with CDATA", "<rdf:Description xmlns:q=\"http://example.com/ns/\"><q:Name>a<![CDATA[<b>]]></q:Name></rdf:Description>", "a<b>"},
      {"the second description", "<rdf:Description/>\n<rdf:Description xmlns:n=\"http://example.com/ns/\" n:Name=\"2\"/>", "2"},
      {"the prefix bound elsewhere", "<rdf:Description xmlns:n=\"http://example.com/other/\" n:Name=\"x\"/>", std::nullopt},
      {"nested in a region", "<rdf:Description xmlns:n=\"http://example.com/ns/\"><n:R rdf:parseType=\"Resource\"><n:Name>in</n:Name></n:R>"
                            "</rdf:Description>", std::nullopt},
      {"in a comment", "<!-- <rdf:Description xmlns:n=\"http://example.com/ns/\" n:Name=\"c\"/> --><rdf:Description/>", std::nullopt},
      {"a structure, not a value", "<rdf:Description xmlns:n=\"http://example.com/ns/\"><n:Name><rdf:Seq/></n:Name></rdf:Description>",
       std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::string why;
    const auto xmp = media::XmpPacket::Parse(kOpen + row.body + kClose, &why);
    ASSERT_TRUE(xmp) << why;
    EXPECT_EQ(xmp->Value(kUri, "Name"), row.value);
  }
}

TEST(XmpPacket, WhatIsNotNamespaceWellFormedIsRefusedInWords) {
  const std::string rows[] = {
      "<rdf:Description p:x=\"1\"/>",                                                      // unbound prefix
      "<rdf:Description xmlns:a=\"u\" xmlns:b=\"u\" a:x=\"1\" b:x=\"2\"/>",               // one name twice
      "<rdf:Description x=\"1\" x=\"2\"/>",                                                // the same attribute twice
      "<rdf:Description x=\"<\"/>",                                                        // '<' in a value
      "<rdf:Description>",                                                                 // not closed
      "<rdf:Description>&unknown;</rdf:Description>",                                      // an undefined entity
      "<?pi \xD5?><rdf:Description/>",                                                      // not UTF-8
      "<!-- \x01 --><rdf:Description/>",                                                    // a control character
      "<?xp/acket?><rdf:Description/>",                                                     // no name for an instruction
      "<?xml version=\"1.0\"?><rdf:Description/>",                                           // a declaration not first
      "<!-- a -- b --><rdf:Description/>",                                                  // "--" in a comment
      "<rdf:Description a=\"1\"b=\"2\"/>",                                                   // attributes run together
      "<rdf:Description>a ]]> b</rdf:Description>",                                         // "]]>" in text
      "<rdf:D\xC3\xA9scription/>",                                                          // a name outside ASCII
  };
  for (const std::string& body : rows) {
    std::string why;
    EXPECT_FALSE(media::XmpPacket::Parse(kOpen + body + kClose, &why)) << body;
    EXPECT_FALSE(why.empty()) << body;
  }
  std::string why;
  EXPECT_FALSE(media::XmpPacket::Parse("<!DOCTYPE x>" + kOpen + kClose, &why));
  EXPECT_FALSE(media::XmpPacket::Parse(kOpen + kClose + "<second/>", &why));
  EXPECT_FALSE(media::XmpPacket::Parse("", &why));
  EXPECT_TRUE(media::XmpPacket::Parse("<?xml version=\"1.0\"?><!-- ok --><?xpacket begin=\"\"?>" + kOpen + "<![CDATA[]]]]>" + kClose, &why)) << why;
  EXPECT_TRUE(media::XmpPacket::Parse(kOpen + kClose + std::string(3, '\0'), &why)) << why;
}

TEST(XmpPacket, TagsArePlacedAtTheirBytesAcrossLinesAndAfterAByteOrderMark) {
  for (const std::string& lead : {std::string(), std::string("\xEF\xBB\xBF"), std::string("<?xpacket begin=\"\xEF\xBB\xBF\"?>\r\n\n")}) {
    const std::string text = lead + kOpen + "\n <rdf:Description a=\"\xC3\xA9>\"\r\n/>\n<rdf:Description\n>t\xC3\xA9</rdf:Description >\n" + kClose;
    const auto xmp = media::XmpPacket::Parse(text);
    ASSERT_TRUE(xmp);
    ASSERT_EQ(xmp->Descriptions().size(), 2u);
    const media::XmpElement& empty = xmp->Element(xmp->Descriptions()[0]);
    EXPECT_EQ(text.substr(empty.start, 16), "<rdf:Description");
    EXPECT_EQ(text.substr(empty.insertAt, 2), "/>");
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(text.substr(empty.attributes[0].valueBegin, empty.attributes[0].valueEnd - empty.attributes[0].valueBegin), "\xC3\xA9>");
    const media::XmpElement& full = xmp->Element(xmp->Descriptions()[1]);
    EXPECT_EQ(text.substr(full.insertAt - 1, 4), ">t\xC3\xA9");
    EXPECT_EQ(text.substr(full.endTag, full.end - full.endTag), "</rdf:Description >");
  }
}

TEST(XmpPacket, APrefixIsOnlyUsedWhereItMeansTheNamespace) {
  const auto xmp = media::XmpPacket::Parse(kOpen + "<rdf:Description xmlns:GCamera=\"http://example.com/ns/\"><GCamera:a xmlns:GCamera=\"v\">"
                                                   "<b/></GCamera:a></rdf:Description>" + kClose);
  ASSERT_TRUE(xmp);
  const int description = xmp->Descriptions()[0];
  const int inner = xmp->Element(xmp->Element(description).children[0]).children[0];
  EXPECT_EQ(xmp->PrefixFor(description, kUri), std::optional<std::string>("GCamera"));
  EXPECT_EQ(xmp->PrefixFor(inner, kUri), std::nullopt);  // shadowed below its declaration
  EXPECT_EQ(xmp->UnusedPrefix("GCamera"), "GCamera2");
  EXPECT_EQ(xmp->UnusedPrefix("Item"), "Item");
}
