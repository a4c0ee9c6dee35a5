// SPDX-License-Identifier: GPL-2.0-or-later
// JSON encoding: UTF-8 checked string escaping and numbers through std::to_chars.
#include "cli/JsonText.h"

#include <cstdio>

#include "cli/DisplayText.h"
#include "cli/Numbers.h"

namespace cli::json {

std::string quote(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t n = utf8Sequence(text, i, &cp);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(text, i, n);
      i += n;
      continue;
    }
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (cp < 0x20 || cp == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(cp));
          out += buf;
        } else {
          out.push_back(char(cp));
        }
    }
    ++i;
  }
  out += "\"";
  return out;
}

std::string number(std::int64_t v) { return std::to_string(v); }
std::string number(std::uint64_t v) { return std::to_string(v); }

std::string number(double v) {
  const std::string text = shortestDecimal(v);
  return text.empty() ? "null" : text;
}

std::string number(float v) { return number(cameraValue(v)); }

std::string array(const std::vector<std::string>& encodedItems) {
  std::string out = "[";
  for (std::size_t i = 0; i < encodedItems.size(); ++i) {
    if (i) out += ", ";
    out += encodedItems[i];
  }
  return out + "]";
}

std::string object(const std::vector<std::pair<std::string, std::string>>& members, int indent) {
  if (members.empty()) return "{}";
  std::string pad(std::size_t(indent > 0 ? indent : 0), ' ');
  std::string out = "{";
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i) out += ",";
    out += indent > 0 ? "\n" + pad : (i ? " " : "");
    out += quote(members[i].first) + ": " + members[i].second;
  }
  out += indent > 0 ? "\n}" : "}";
  return out;
}

}  // namespace cli::json
