// SPDX-License-Identifier: GPL-2.0-or-later
// The record's text: a first line naming it, then one "key=value" line per field; names are
// escaped (%, newline, NUL, CR as %XX) so that any file name fits on its line.
#include "media/MadeFrom.h"

#include <charconv>
#include <vector>

namespace media {
namespace {

constexpr std::string_view kHead = "still2mov made-from 1";

std::string escaped(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '%' || c == '\n' || c == '\0' || c == '\r') {
      static const char hex[] = "0123456789ABCDEF";
      out += '%';
      out += hex[(static_cast<unsigned char>(c) >> 4) & 15];
      out += hex[static_cast<unsigned char>(c) & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> unescaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    unsigned value = 0;
    if (i + 2 >= text.size()) return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
    if (ec != std::errc() || end != text.data() + i + 3) return std::nullopt;
    out += char(value);
    i += 2;
  }
  return out;
}

bool isDigest(std::string_view text) {
  if (text.size() != 16) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

template <typename T>
bool number(std::string_view text, T* value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string StampDigest(const FileStamp& stamp) {
  const std::string text =
      std::to_string(stamp.size) + " " + std::to_string(stamp.modifiedNs) + " " + std::to_string(stamp.changedNs);
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ULL;
  char hex[17];
  for (int i = 15; i >= 0; --i, h >>= 4) hex[i] = "0123456789abcdef"[h & 15];
  hex[16] = '\0';
  return hex;
}

std::string EncodeMadeFrom(const MadeFrom& r) {
  std::string out(kHead);
  out += "\nphotograph=" + escaped(r.photograph);
  out += "\nphotograph-stamp=" + r.photographStamp;
  if (!r.recording.empty()) {
    out += "\nrecording=" + escaped(r.recording);
    out += "\nrecording-stamp=" + r.recordingStamp;
  }
  out += "\nformat=" + escaped(r.format);
  out += "\nresize=" + std::to_string(r.resize);
  out += std::string("\nmetadata=") + (r.metadata ? "1" : "0");
  out += "\n";
  return out;
}

std::optional<MadeFrom> DecodeMadeFrom(std::string_view text) {
  if (text.substr(0, kHead.size()) != kHead || text.size() == kHead.size() || text[kHead.size()] != '\n')
    return std::nullopt;
  MadeFrom r;
  bool photograph = false, photoStamp = false, recordingStamp = false, format = false, resize = false,
       metadata = false;
  std::string_view rest = text.substr(kHead.size() + 1);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // every line ends
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    std::optional<std::string> name;
    if (key == "photograph" && (name = unescaped(value))) {
      r.photograph = *name;
      photograph = !name->empty();
    } else if (key == "photograph-stamp") {
      photoStamp = isDigest(value);
      r.photographStamp = value;
    } else if (key == "recording" && (name = unescaped(value))) {
      r.recording = *name;
    } else if (key == "recording-stamp") {
      recordingStamp = isDigest(value);
      r.recordingStamp = value;
    } else if (key == "format" && (name = unescaped(value))) {
      r.format = *name;
      format = true;
    } else if (key == "resize") {
      resize = number(value, &r.resize);
    } else if (key == "metadata") {
      metadata = value == "0" || value == "1";
      r.metadata = value == "1";
    }
    // Keys a later release adds are passed over: what is known still decides.
  }
  if (!photograph || !photoStamp || !format || !resize || !metadata) return std::nullopt;
  if (!r.recording.empty() && !recordingStamp) return std::nullopt;
  return r;
}

}  // namespace media
