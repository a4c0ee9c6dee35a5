// SPDX-License-Identifier: GPL-2.0-or-later
// The record's text: a first line naming it, then one "key=value" line per field; names are
// escaped (%, newline, NUL, CR as %XX) so that any file name fits on its line.
#include "media/MadeFrom.h"

#include <dlfcn.h>
#include <glib.h>

#include <charconv>
#include <type_traits>
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
  if (text.find('%') == std::string_view::npos) return std::string(text);
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

bool isContentDigest(std::string_view text) {
  if (text.size() != 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::string fnv(const std::string& text) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ULL;
  char hex[17];
  for (int i = 15; i >= 0; --i, h >>= 4) hex[i] = "0123456789abcdef"[h & 15];
  hex[16] = '\0';
  return hex;
}

// A passed-over file's line: its stamp, its look, its contents' digest ("-" for none), its name.
std::string passedLine(const RecordedFile& f) {
  return f.stamp + " " + f.look + " " + (f.content.empty() ? std::string("-") : f.content) + " " + escaped(f.name);
}

std::optional<RecordedFile> passedFrom(std::string_view value) {
  RecordedFile f;
  const std::size_t a = value.find(' '), b = a == std::string_view::npos ? a : value.find(' ', a + 1),
                    c = b == std::string_view::npos ? b : value.find(' ', b + 1);
  if (c == std::string_view::npos) return std::nullopt;
  f.stamp = value.substr(0, a);
  f.look = value.substr(a + 1, b - a - 1);
  const std::string_view content = value.substr(b + 1, c - b - 1);
  std::optional<std::string> name = unescaped(value.substr(c + 1));
  if (!isDigest(f.stamp) || !isDigest(f.look) || !name || name->empty()) return std::nullopt;
  if (content != "-") {
    if (!isContentDigest(content)) return std::nullopt;
    f.content = content;
  }
  f.name = *name;
  return f;
}

template <typename T>
bool number(std::string_view text, T* value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string StampDigest(const FileStamp& stamp) {
  return fnv(std::to_string(stamp.size) + " " + std::to_string(stamp.modifiedNs) + " " + std::to_string(stamp.changedNs));
}

// Told apart from a stamp's digest by its text, so that the two never coincide for one file.
std::string LookDigest(const FileStamp& stamp) {
  return fnv("look " + std::to_string(stamp.size) + " " + std::to_string(stamp.modifiedNs));
}

namespace {

// OpenSSL's SHA-256, which uses the processor's SHA instructions where it has them (several
// times GLib's speed: a conversion digests its whole photograph), loaded when first needed so
// that a run that digests nothing does not load it. Without it, GLib's gives the same digest.
struct OpenSslSha256 {
  void* (*newContext)();
  const void* (*sha256)();
  int (*init)(void*, const void*, void*);
  int (*update)(void*, const void*, std::size_t);
  int (*final)(void*, unsigned char*, unsigned int*);
  void (*freeContext)(void*);
};

const OpenSslSha256* openSsl() {
  static const std::optional<OpenSslSha256> functions = []() -> std::optional<OpenSslSha256> {
    void* lib = nullptr;
    for (const char* soname : {"libcrypto.so.3", "libcrypto.so.1.1"})
      if ((lib = dlopen(soname, RTLD_NOW | RTLD_LOCAL)) != nullptr) break;
    if (lib == nullptr) return std::nullopt;
    OpenSslSha256 f;
    auto find = [lib](auto* slot, const char* name) {
      *slot = reinterpret_cast<std::remove_pointer_t<decltype(slot)>>(dlsym(lib, name));
      return *slot != nullptr;
    };
    if (!find(&f.newContext, "EVP_MD_CTX_new") || !find(&f.sha256, "EVP_sha256") ||
        !find(&f.init, "EVP_DigestInit_ex") || !find(&f.update, "EVP_DigestUpdate") ||
        !find(&f.final, "EVP_DigestFinal_ex") || !find(&f.freeContext, "EVP_MD_CTX_free"))
      return std::nullopt;  // the library stays loaded: it is the process's for its life anyway
    return f;
  }();
  return functions ? &*functions : nullptr;
}

}  // namespace

struct ContentDigest::Sum {
  const OpenSslSha256* ssl = nullptr;
  void* context = nullptr;        // OpenSSL's, when it serves
  GChecksum* checksum = nullptr;  // else GLib's
  bool failed = false;
};

ContentDigest::ContentDigest() : sum_(new Sum) {
  if ((sum_->ssl = openSsl()) != nullptr && (sum_->context = sum_->ssl->newContext()) != nullptr &&
      sum_->ssl->init(sum_->context, sum_->ssl->sha256(), nullptr) == 1)
    return;
  if (sum_->context) sum_->ssl->freeContext(sum_->context);
  sum_->context = nullptr;
  sum_->checksum = g_checksum_new(G_CHECKSUM_SHA256);
}

ContentDigest::~ContentDigest() {
  if (sum_->context) sum_->ssl->freeContext(sum_->context);
  if (sum_->checksum) g_checksum_free(sum_->checksum);
  delete sum_;
}

void ContentDigest::add(const std::uint8_t* bytes, std::size_t size) {
  if (sum_->context) {
    sum_->failed |= size > 0 && sum_->ssl->update(sum_->context, bytes, size) != 1;
    return;
  }
  // GLib takes a signed length: long inputs go in pieces.
  constexpr std::size_t kPiece = std::size_t(1) << 30;
  while (size > 0) {
    const std::size_t n = size < kPiece ? size : kPiece;
    g_checksum_update(sum_->checksum, bytes, gssize(n));
    bytes += n;
    size -= n;
  }
}

std::string ContentDigest::hex() {
  if (sum_->checksum) return g_checksum_get_string(sum_->checksum);
  unsigned char digest[32];
  unsigned int length = 0;
  // A digest that could not be taken is none: the record keeps no contents then.
  if (sum_->failed || sum_->ssl->final(sum_->context, digest, &length) != 1 || length != sizeof digest) return "";
  std::string out;
  for (unsigned char c : digest) {
    out += "0123456789abcdef"[c >> 4];
    out += "0123456789abcdef"[c & 15];
  }
  return out;
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
  if (r.lookupKept) {
    out += "\nlookup=1";
    if (!r.source.empty()) out += "\nsource=" + escaped(r.source);
    for (const std::string& name : r.asked) out += "\nasked=" + escaped(name);
    for (const RecordedFile& f : r.passedOver) out += "\npassed=" + passedLine(f);
  }
  if (!r.photographLook.empty()) out += "\nphotograph-look=" + r.photographLook;
  if (!r.photographContent.empty()) out += "\nphotograph-digest=" + r.photographContent;
  if (!r.recording.empty() && !r.recordingLook.empty()) out += "\nrecording-look=" + r.recordingLook;
  if (!r.recording.empty() && !r.recordingContent.empty()) out += "\nrecording-digest=" + r.recordingContent;
  out += "\n";
  return out;
}

std::optional<MadeFrom> DecodeMadeFrom(std::string_view text) {
  if (text.substr(0, kHead.size()) != kHead || text.size() == kHead.size() || text[kHead.size()] != '\n')
    return std::nullopt;
  MadeFrom r;
  bool photograph = false, photoStamp = false, recordingStamp = false, format = false, resize = false,
       metadata = false;
  bool lookupDamaged = false;  // a line of the lookup's that does not read: the lookup is not trusted
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
    } else if (key == "lookup") {
      r.lookupKept = value == "1";
      lookupDamaged |= value != "1";
    } else if (key == "source" && (name = unescaped(value))) {
      r.source = *name;
    } else if (key == "asked") {
      if ((name = unescaped(value)) && !name->empty())
        r.asked.push_back(*name);
      else
        lookupDamaged = true;
    } else if (key == "passed") {
      if (std::optional<RecordedFile> f = passedFrom(value))
        r.passedOver.push_back(std::move(*f));
      else
        lookupDamaged = true;
    } else if (key == "photograph-look" && isDigest(value)) {
      r.photographLook = value;
    } else if (key == "photograph-digest" && isContentDigest(value)) {
      r.photographContent = value;
    } else if (key == "recording-look" && isDigest(value)) {
      r.recordingLook = value;
    } else if (key == "recording-digest" && isContentDigest(value)) {
      r.recordingContent = value;
    }
    // Keys a later release adds are passed over: what is known still decides.
  }
  if (!photograph || !photoStamp || !format || !resize || !metadata) return std::nullopt;
  if (!r.recording.empty() && !recordingStamp) return std::nullopt;
  // What cannot be trusted of the lookup is taken as never kept: the movie is judged as an older
  // record is, never as more current than it is.
  if (lookupDamaged || (r.lookupKept && !r.recording.empty() && r.source.empty())) {
    r.lookupKept = false;
    r.source.clear();
    r.asked.clear();
    r.passedOver.clear();
  }
  if (r.recording.empty()) {
    r.recordingLook.clear();
    r.recordingContent.clear();
  }
  return r;
}

}  // namespace media
