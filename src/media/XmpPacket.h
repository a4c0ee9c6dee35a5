// SPDX-License-Identifier: GPL-2.0-or-later
// An XMP packet read as XML: its elements with namespaces resolved by URI, where each tag stands
// in the text, and the properties of its top-level rdf:Description elements.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace media {

inline constexpr char kRdfNamespace[] = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";

struct XmpAttribute {
  std::string uri;    // "" for a name without a prefix
  std::string local;
  std::string qname;  // as written
  std::string value;  // entities resolved
  std::size_t valueBegin = 0, valueEnd = 0;  // the value as written, between its quotes
};

struct XmpElement {
  std::string uri;
  std::string local;
  std::string qname;
  // Where its tags stand in the packet's text. An empty element (<a/>) has insertAt on its '/'
  // and no end tag; any other has insertAt just past its start tag's '>' and endTag on the '<'
  // of its end tag.
  std::size_t start = 0;  // its '<'
  std::size_t insertAt = 0;
  std::size_t endTag = std::string_view::npos;
  std::size_t end = 0;  // just past the element
  bool empty() const { return endTag == std::string_view::npos; }
  std::vector<XmpAttribute> attributes;                        // namespace declarations left out
  std::vector<std::pair<std::string, std::string>> declared;  // prefix ("" for the default) → URI
  std::string text;            // its character data, CDATA sections included
  std::vector<int> children;   // element indices, in order
  int parent = -1;
};

class XmpPacket {
 public:
  // The packet read; nothing, and why in words, when it is not well-formed namespace-aware XML
  // (an unbound prefix, a name given twice, a document type declaration, more than one root).
  // NUL bytes after the packet, which some cameras leave, are not read.
  static std::optional<XmpPacket> Parse(std::string_view text, std::string* why = nullptr);

  // The value of a simple property on a top-level rdf:Description, written as an attribute or
  // as an element holding only text; the first one found.
  std::optional<std::string> Value(std::string_view uri, std::string_view name) const;

  // The top-level rdf:Description elements, in order (the children of the outermost rdf:RDF).
  const std::vector<int>& Descriptions() const { return mDescriptions; }
  const XmpElement& Element(int index) const { return mElements[std::size_t(index)]; }

  // A property of one element: the attribute's or the simple child element's value.
  std::optional<std::string> Field(int element, std::string_view uri, std::string_view name) const;
  // The first child element of that name, or -1.
  int Child(int element, std::string_view uri, std::string_view name) const;
  // The attribute of that name on the element, or nullptr.
  const XmpAttribute* Attribute(int element, std::string_view uri, std::string_view name) const;

  // The prefix bound to uri where the element stands (its own declarations included), nothing
  // when none is bound there or the prefix is shadowed below its declaration.
  std::optional<std::string> PrefixFor(int element, std::string_view uri) const;
  // A prefix like wanted that no name and no declaration anywhere in the packet uses, so that
  // declaring it anywhere changes the meaning of nothing.
  std::string UnusedPrefix(const std::string& wanted) const;

 private:
  friend struct XmpPacketBuilder;
  std::vector<XmpElement> mElements;
  std::vector<int> mDescriptions;
  std::vector<std::string> mPrefixes;  // every prefix the packet writes or declares
};

}  // namespace media
