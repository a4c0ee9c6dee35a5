// SPDX-License-Identifier: GPL-2.0-or-later
// Reads an XMP packet with GLib's GMarkup and adds what GMarkup leaves to its caller: namespaces,
// names given twice, one root, and the byte offset of every tag (from GMarkup's line and column).
#include "media/XmpPacket.h"

#include <glib.h>

#include <algorithm>
#include <cstring>

namespace media {

namespace {

constexpr char kXmlNamespace[] = "http://www.w3.org/XML/1998/namespace";
constexpr char kBom[] = "\xEF\xBB\xBF";

std::pair<std::string_view, std::string_view> split(std::string_view qname) {
  const std::size_t colon = qname.find(':');
  if (colon == std::string_view::npos) return {{}, qname};
  return {qname.substr(0, colon), qname.substr(colon + 1)};
}

// Names as XMP writes them: ASCII, which every XML parser reads alike.
bool validName(std::string_view name) {
  if (name.empty() || !(g_ascii_isalpha(name[0]) || name[0] == '_')) return false;
  for (char c : name)
    if (!(g_ascii_isalnum(c) || c == '_' || c == '-' || c == '.')) return false;
  return true;
}

bool validQName(std::string_view qname) {
  const auto [prefix, local] = split(qname);
  return validName(local) && (qname.find(':') == std::string_view::npos || validName(prefix));
}

bool space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

struct XmpPacketBuilder {
  XmpPacket packet;
  std::string_view text;  // the bytes GMarkup reads
  std::size_t base = 0;   // where they stand in the caller's packet (after a byte order mark)
  std::vector<std::size_t> newlines;
  std::vector<int> open;  // the elements not yet closed, outermost first
  bool sawRoot = false;
  std::size_t lastEnd = 0;  // where the last tag, text or instruction GMarkup reported ends

  static void fail(GError** error, const char* words) { g_set_error_literal(error, G_MARKUP_ERROR, G_MARKUP_ERROR_INVALID_CONTENT, words); }

  // GMarkup counts a newline as the first column of the line it starts; columns count bytes.
  std::optional<std::size_t> offset(GMarkupParseContext* context) const {
    int line = 0, column = 0;
    g_markup_parse_context_get_position(context, &line, &column);
    if (line < 1 || column < 1 || std::size_t(line - 1) > newlines.size()) return std::nullopt;
    const std::size_t at = (line == 1 ? 0 : newlines[std::size_t(line - 2)]) + std::size_t(column - 1);
    if (at > text.size()) return std::nullopt;
    return at;
  }

  // Each attribute's name and the bytes between its quotes, in the start tag from '<' to end;
  // nothing when the tag does not separate its attributes by white space as XML asks.
  std::optional<std::vector<std::pair<std::string_view, std::pair<std::size_t, std::size_t>>>> valueRanges(std::size_t lt,
                                                                                                       std::size_t end) const {
    std::vector<std::pair<std::string_view, std::pair<std::size_t, std::size_t>>> out;
    std::size_t i = lt + 1;
    while (i < end && !space(text[i]) && text[i] != '/' && text[i] != '>') ++i;
    while (i < end) {
      if (!space(text[i]) && text[i] != '/' && text[i] != '>') return std::nullopt;
      while (i < end && space(text[i])) ++i;
      const std::size_t nameStart = i;
      while (i < end && !space(text[i]) && text[i] != '=') ++i;
      const std::string_view name = text.substr(nameStart, i - nameStart);
      while (i < end && (space(text[i]) || text[i] == '=')) ++i;
      if (i >= end || (text[i] != '"' && text[i] != '\'')) break;
      const std::size_t close = text.find(text[i], i + 1);
      if (close == std::string_view::npos || close >= end) break;
      out.push_back({name, {i + 1, close}});
      i = close + 1;
    }
    return out;
  }

  // Character data may not hold "]]>" outside a CDATA section (which GMarkup hands over as text).
  bool plainText(std::size_t from, std::size_t to) const {
    for (std::size_t i = from; i < to; ++i) {
      if (text.compare(i, 9, "<![CDATA[") == 0) {
        const std::size_t close = text.find("]]>", i + 9);
        if (close == std::string_view::npos) return false;
        i = close + 2;
      } else if (text.compare(i, 3, "]]>") == 0) {
        return false;
      }
    }
    return true;
  }

  void notePrefix(std::string_view qname) {
    const auto prefix = std::string(split(qname).first);
    if (!prefix.empty() && std::find(packet.mPrefixes.begin(), packet.mPrefixes.end(), prefix) == packet.mPrefixes.end())
      packet.mPrefixes.push_back(prefix);
  }

  std::optional<std::string> resolve(std::string_view prefix, bool isAttribute) const {
    if (prefix == "xml") return std::string(kXmlNamespace);
    if (prefix.empty() && isAttribute) return std::string();
    for (auto e = open.rbegin(); e != open.rend(); ++e)
      for (const auto& [p, uri] : packet.mElements[std::size_t(*e)].declared)
        if (p == prefix) return uri;
    if (prefix.empty()) return std::string();
    return std::nullopt;
  }

  void start(GMarkupParseContext* context, const char* name, const char** names, const char** values, GError** error) {
    if (open.empty() && sawRoot) return fail(error, "more than one root element");
    sawRoot = true;
    XmpElement element;
    element.qname = name;
    element.parent = open.empty() ? -1 : open.back();
    const auto at = offset(context);
    if (!at || *at == 0) return fail(error, "a tag that could not be placed");
    if (text[*at - 1] == '>') {
      element.insertAt = base + *at;
    } else if (*at < text.size() && text[*at] == '>' && text[*at - 1] == '/') {
      element.insertAt = base + *at - 1;
      element.end = base + *at + 1;
    } else {
      return fail(error, "a tag that could not be placed");
    }
    if (!validQName(name)) return fail(error, "a malformed name");
    notePrefix(name);
    // No '<' stands inside an attribute value, so the tag starts at the last one.
    const std::size_t lt = text.rfind('<', element.insertAt - base - 1);
    if (lt == std::string_view::npos) return fail(error, "a tag that could not be placed");
    element.start = base + lt;
    const auto ranges = valueRanges(lt, element.insertAt - base);
    if (!ranges) return fail(error, "attributes not parted by white space");
    struct Plain {
      std::string name, value;
      std::pair<std::size_t, std::size_t> range;
    };
    std::vector<Plain> plain;
    for (std::size_t i = 0; names[i] != nullptr; ++i) {
      const std::string_view n = names[i];
      if (!validQName(n)) return fail(error, "a malformed name");
      if (std::strchr(values[i], '<')) return fail(error, "a '<' inside an attribute value");
      for (std::size_t j = 0; j < i; ++j)
        if (n == names[j]) return fail(error, "an attribute given twice");
      if (n == "xmlns" || n.substr(0, 6) == "xmlns:") {
        const std::string prefix = n == "xmlns" ? "" : std::string(n.substr(6));
        if (prefix == "xmlns" || prefix == "xml" || (!prefix.empty() && *values[i] == '\0'))
          return fail(error, "a namespace declaration that is not allowed");
        element.declared.emplace_back(prefix, values[i]);
        if (!prefix.empty() && std::find(packet.mPrefixes.begin(), packet.mPrefixes.end(), prefix) == packet.mPrefixes.end())
          packet.mPrefixes.push_back(prefix);
      } else {
        plain.push_back({names[i], values[i], {}});
        if (auto r = std::find_if(ranges->begin(), ranges->end(), [&](const auto& r) { return r.first == n; }); r != ranges->end())
          plain.back().range = r->second;
        else
          return fail(error, "a tag that could not be placed");
        notePrefix(n);
      }
    }
    // The element's own declarations hold for its name and its attributes.
    const int index = int(packet.mElements.size());
    packet.mElements.push_back(std::move(element));
    open.push_back(index);
    XmpElement& e = packet.mElements.back();
    const auto [prefix, local] = split(e.qname);
    auto uri = resolve(prefix, false);
    if (!uri) return fail(error, "a prefix without a namespace");
    e.uri = *uri;
    e.local = local;
    for (const Plain& a : plain) {
      const auto [p, l] = split(a.name);
      auto u = resolve(p, true);
      if (!u) return fail(error, "a prefix without a namespace");
      for (const XmpAttribute& b : e.attributes)
        if (b.uri == *u && b.local == l) return fail(error, "an attribute given twice");
      e.attributes.push_back({*u, std::string(l), a.name, a.value, base + a.range.first, base + a.range.second});
    }
    if (e.parent >= 0) packet.mElements[std::size_t(e.parent)].children.push_back(index);
    lastEnd = *at;
  }

  void end(GMarkupParseContext* context, GError** error) {
    if (open.empty()) return fail(error, "an end tag without its start");
    XmpElement& e = packet.mElements[std::size_t(open.back())];
    open.pop_back();
    const auto at = offset(context);
    if (!at || *at == 0 || text[*at - 1] != '>') return fail(error, "a tag that could not be placed");
    lastEnd = *at;
    if (e.end != 0) {
      if (e.end != base + *at) return fail(error, "a tag that could not be placed");
      return;
    }
    const std::size_t lt = text.rfind('<', *at - 1);
    if (lt == std::string_view::npos || lt + base < e.insertAt || text.substr(lt, 2) != "</")
      return fail(error, "a tag that could not be placed");
    e.endTag = base + lt;
    e.end = base + *at;
  }

  void characters(GMarkupParseContext* context, const char* chars, std::size_t length, GError** error) {
    if (!open.empty()) packet.mElements[std::size_t(open.back())].text.append(chars, length);
    const auto at = offset(context);
    if (!at || !plainText(lastEnd, *at)) return fail(error, "\"]]>\" in character data");
    lastEnd = *at;
  }

  // Comments and processing instructions as XML allows them; nothing else (no DTD).
  void passthrough(GMarkupParseContext* context, const char* chars, std::size_t length, GError** error) {
    const std::string_view t(chars, length);
    const auto at = offset(context);
    if (at) lastEnd = *at;
    if (t.substr(0, 4) == "<!--") {
      const std::string_view body = t.substr(4, t.size() >= 7 ? t.size() - 7 : 0);
      if (t.size() < 7 || t.substr(t.size() - 3) != "-->" || body.find("--") != std::string_view::npos || (!body.empty() && body.back() == '-'))
        fail(error, "a malformed comment");
    } else if (t.substr(0, 2) == "<?") {
      std::size_t i = 2;
      while (i < t.size() && !space(t[i]) && t[i] != '?') ++i;
      const std::string_view target = t.substr(2, i - 2);
      const bool declaration = g_ascii_strncasecmp(target.data(), "xml", 3) == 0 && target.size() == 3;
      if (!validName(target) || (declaration && (at ? *at : 0) != length) || t.size() < 4 || t.substr(t.size() - 2) != "?>" ||
          (i < t.size() - 2 && !space(t[i])))
        fail(error, "a malformed processing instruction");
    } else {
      fail(error, t.substr(0, 9) == "<!DOCTYPE" ? "a document type declaration" : "markup XMP does not use");
    }
  }
};

namespace {

void onStart(GMarkupParseContext* c, const gchar* name, const gchar** names, const gchar** values, gpointer self, GError** error) {
  static_cast<XmpPacketBuilder*>(self)->start(c, name, names, values, error);
}
void onEnd(GMarkupParseContext* c, const gchar*, gpointer self, GError** error) { static_cast<XmpPacketBuilder*>(self)->end(c, error); }
void onText(GMarkupParseContext* c, const gchar* text, gsize length, gpointer self, GError** error) {
  static_cast<XmpPacketBuilder*>(self)->characters(c, text, length, error);
}
void onPassthrough(GMarkupParseContext* c, const gchar* text, gsize length, gpointer self, GError** error) {
  static_cast<XmpPacketBuilder*>(self)->passthrough(c, text, length, error);
}

}  // namespace

namespace {

// Whether every character is one XML allows: UTF-8, no control characters but tab and line
// ends, no U+FFFE or U+FFFF. GMarkup lets some through in comments and instructions.
bool xmlCharacters(std::string_view text) {
  const char* end = nullptr;
  if (!g_utf8_validate(text.data(), gssize(text.size()), &end)) return false;
  for (const char* p = text.data(); p < text.data() + text.size(); p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF) return false;
  }
  return true;
}

}  // namespace

std::optional<XmpPacket> XmpPacket::Parse(std::string_view text, std::string* why) {
  // Some cameras end the segment with NUL bytes after the packet.
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  if (!xmlCharacters(text)) {
    if (why) *why = "a character XML does not allow";
    return std::nullopt;
  }
  XmpPacketBuilder b;
  if (text.substr(0, 3) == kBom) b.base = 3;
  b.text = text.substr(b.base);
  for (std::size_t i = b.text.find('\n'); i != std::string_view::npos; i = b.text.find('\n', i + 1)) b.newlines.push_back(i);
  static const GMarkupParser parser = {onStart, onEnd, onText, onPassthrough, nullptr};
  GMarkupParseContext* context = g_markup_parse_context_new(&parser, G_MARKUP_TREAT_CDATA_AS_TEXT, &b, nullptr);
  GError* error = nullptr;
  const bool ok = g_markup_parse_context_parse(context, b.text.data(), gssize(b.text.size()), &error) &&
                  g_markup_parse_context_end_parse(context, &error);
  g_markup_parse_context_free(context);
  if (!ok || !b.sawRoot) {
    if (why) *why = error ? error->message : "no element";
    if (error) g_error_free(error);
    return std::nullopt;
  }
  // The outermost rdf:RDF holds the top-level descriptions.
  for (std::size_t i = 0; i < b.packet.mElements.size(); ++i) {
    const XmpElement& e = b.packet.mElements[i];
    if (e.uri != kRdfNamespace || e.local != "RDF") continue;
    for (int child : e.children) {
      const XmpElement& d = b.packet.mElements[std::size_t(child)];
      if (d.uri == kRdfNamespace && d.local == "Description") b.packet.mDescriptions.push_back(child);
    }
    break;
  }
  return std::move(b.packet);
}

const XmpAttribute* XmpPacket::Attribute(int element, std::string_view uri, std::string_view name) const {
  for (const XmpAttribute& a : Element(element).attributes)
    if (a.uri == uri && a.local == name) return &a;
  return nullptr;
}

int XmpPacket::Child(int element, std::string_view uri, std::string_view name) const {
  for (int child : Element(element).children)
    if (Element(child).uri == uri && Element(child).local == name) return child;
  return -1;
}

std::optional<std::string> XmpPacket::Field(int element, std::string_view uri, std::string_view name) const {
  if (const XmpAttribute* a = Attribute(element, uri, name)) return a->value;
  const int child = Child(element, uri, name);
  if (child >= 0 && Element(child).children.empty()) return Element(child).text;
  return std::nullopt;
}

std::optional<std::string> XmpPacket::Value(std::string_view uri, std::string_view name) const {
  for (int d : mDescriptions)
    if (auto v = Field(d, uri, name)) return v;
  return std::nullopt;
}

std::optional<std::string> XmpPacket::PrefixFor(int element, std::string_view uri) const {
  std::vector<std::string> seen;
  for (int e = element; e >= 0; e = Element(e).parent)
    for (const auto& [prefix, u] : Element(e).declared) {
      if (std::find(seen.begin(), seen.end(), prefix) != seen.end()) continue;
      seen.push_back(prefix);
      if (u == uri && !prefix.empty()) return prefix;
    }
  return std::nullopt;
}

std::string XmpPacket::UnusedPrefix(const std::string& wanted) const {
  std::string prefix = wanted;
  for (int n = 2; std::find(mPrefixes.begin(), mPrefixes.end(), prefix) != mPrefixes.end() || prefix == "xml" || prefix == "xmlns"; ++n)
    prefix = wanted + std::to_string(n);
  return prefix;
}

}  // namespace media
