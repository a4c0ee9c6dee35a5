// JSON encoding for the info printer: UTF-8 checked string escaping and round-trip numbers.
#include "cli/JsonText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace cli::json {
namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when it is not one.
std::size_t utf8Length(const std::string& s, std::size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  std::size_t n;
  std::uint32_t cp;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (s.size() - i < n) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not valid.
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

}  // namespace

std::string quote(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t n = utf8Length(text, i);
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
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(char(c));
        }
    }
    ++i;
  }
  out += "\"";
  return out;
}

std::string number(std::int64_t v) { return std::to_string(v); }
std::string number(std::uint64_t v) { return std::to_string(v); }

std::string shortestFloat(float v) {
  char buf[32];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, double(v));
    if (std::strtof(buf, nullptr) == v) break;
  }
  return buf;
}

std::string number(float v) {
  if (!std::isfinite(v)) return "null";
  return shortestFloat(v);
}

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
