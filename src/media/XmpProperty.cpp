// SPDX-License-Identifier: GPL-2.0-or-later
// Reading one property from an XMP packet with GLib's markup parser, prefixes resolved through the
// namespace declarations in scope, so a packet may name the namespace by any prefix.
#include "media/XmpProperty.h"

#include <glib.h>

#include <cstring>
#include <utility>
#include <vector>

namespace media {

namespace {

struct Search {
  const char* uri = nullptr;
  const char* local = nullptr;
  // Namespace declarations, each with the depth of the element that made it.
  std::vector<std::pair<int, std::pair<std::string, std::string>>> scope;
  int depth = 0;
  int inside = 0;  // the depth of the matching element whose text is being read, 0 when none
  std::string text;
  std::optional<std::string> value;

  // True when the qualified name is the wanted property.
  bool wanted(const char* qualified) const {
    const char* colon = std::strchr(qualified, ':');
    if (colon == nullptr || std::strcmp(colon + 1, local) != 0) return false;
    const std::string prefix(qualified, std::size_t(colon - qualified));
    for (auto it = scope.rbegin(); it != scope.rend(); ++it)
      if (it->second.first == prefix) return it->second.second == uri;
    return false;
  }
};

void startElement(GMarkupParseContext*, const gchar* name, const gchar** names, const gchar** values, gpointer data,
                  GError**) {
  auto* s = static_cast<Search*>(data);
  ++s->depth;
  for (int i = 0; names[i] != nullptr; ++i)
    if (std::strncmp(names[i], "xmlns:", 6) == 0) s->scope.push_back({s->depth, {names[i] + 6, values[i]}});
  if (s->value) return;
  for (int i = 0; names[i] != nullptr; ++i)
    if (s->wanted(names[i])) {
      s->value = values[i];
      return;
    }
  if (s->inside == 0 && s->wanted(name)) {
    s->inside = s->depth;
    s->text.clear();
  }
}

void endElement(GMarkupParseContext*, const gchar*, gpointer data, GError**) {
  auto* s = static_cast<Search*>(data);
  if (s->inside == s->depth) {
    s->value = std::move(s->text);
    s->inside = 0;
  }
  while (!s->scope.empty() && s->scope.back().first == s->depth) s->scope.pop_back();
  --s->depth;
}

void text(GMarkupParseContext*, const gchar* bytes, gsize length, gpointer data, GError**) {
  auto* s = static_cast<Search*>(data);
  if (s->inside != 0 && !s->value) s->text.append(bytes, length);
}

}  // namespace

std::optional<std::string> XmpPropertyValue(const char* packet, std::size_t size, const char* namespaceUri,
                                            const char* localName) {
  Search search;
  search.uri = namespaceUri;
  search.local = localName;
  const GMarkupParser parser{startElement, endElement, text, nullptr, nullptr};
  GMarkupParseContext* context = g_markup_parse_context_new(&parser, GMarkupParseFlags(0), &search, nullptr);
  // A packet may end in padding or bytes after its trailer; what was read up to a fault stands.
  const gboolean ok = g_markup_parse_context_parse(context, packet, gssize(size), nullptr);
  g_markup_parse_context_free(context);
  if (!ok && !search.value) return std::nullopt;
  return search.value;
}

}  // namespace media
