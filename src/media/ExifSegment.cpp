// SPDX-License-Identifier: GPL-2.0-or-later
// The EXIF segment as EXIF 2.32 and TIFF 6.0 lay it out: directories of 12-byte entries in tag
// order, values over four bytes after their directory, offsets from the TIFF header.
#include "media/ExifSegment.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "media/JpegMarkers.h"

namespace media {

namespace {

enum Type : std::uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7 };

struct Entry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  std::string value;  // big-endian bytes
};

void put16(std::string* s, std::uint32_t v) {
  s->push_back(char(v >> 8));
  s->push_back(char(v));
}
void put32(std::string* s, std::uint32_t v) {
  put16(s, v >> 16);
  put16(s, v & 0xFFFF);
}

constexpr std::size_t kMaxText = 255;

void addText(std::vector<Entry>* ifd, std::uint16_t tag, const std::string& text) {
  if (text.empty()) return;
  std::string v = text.substr(0, std::min(text.find('\0'), kMaxText));
  if (v.empty()) return;
  v.push_back('\0');
  ifd->push_back({tag, kAscii, std::uint32_t(v.size()), v});
}
void addShort(std::vector<Entry>* ifd, std::uint16_t tag, std::uint16_t v) {
  std::string b;
  put16(&b, v);
  ifd->push_back({tag, kShort, 1, b});
}
void addRationals(std::vector<Entry>* ifd, std::uint16_t tag, const ExifRational* r, int n) {
  std::string b;
  for (int i = 0; i < n; ++i) {
    put32(&b, r[i].numerator);
    put32(&b, r[i].denominator);
  }
  ifd->push_back({tag, kRational, std::uint32_t(n), b});
}
void addRational(std::vector<Entry>* ifd, std::uint16_t tag, const std::optional<ExifRational>& r) {
  if (r) addRationals(ifd, tag, &*r, 1);
}

// A directory's bytes once its values are placed: the entries, the next-directory link (none),
// then each value too long to sit in its entry, at even offsets.
std::size_t ifdSize(const std::vector<Entry>& ifd) {
  std::size_t n = 2 + 12 * ifd.size() + 4;
  for (const Entry& e : ifd)
    if (e.value.size() > 4) n += (e.value.size() + 1) & ~std::size_t(1);
  return n;
}

void writeIfd(std::vector<Entry> ifd, std::uint32_t at, std::string* tiff) {
  std::sort(ifd.begin(), ifd.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
  std::string head, data;
  put16(&head, std::uint32_t(ifd.size()));
  const std::uint32_t dataAt = at + std::uint32_t(2 + 12 * ifd.size() + 4);
  for (const Entry& e : ifd) {
    put16(&head, e.tag);
    put16(&head, e.type);
    put32(&head, e.count);
    if (e.value.size() <= 4) {
      head += e.value + std::string(4 - e.value.size(), '\0');
    } else {
      put32(&head, dataAt + std::uint32_t(data.size()));
      data += e.value;
      if (data.size() % 2) data.push_back('\0');
    }
  }
  put32(&head, 0);
  *tiff += head + data;
}

}  // namespace

std::optional<ExifRational> ExifRationalOf(double value) {
  if (!std::isfinite(value) || value < 0 || value > 400000) return std::nullopt;
  if (value > 0 && value < 1) {
    const double inverse = 1 / value;
    const double whole = std::round(inverse);
    if (whole <= 0xFFFFFFFFu && std::fabs(inverse - whole) <= inverse * 1e-3) return ExifRational{1, std::uint32_t(whole)};
  }
  std::uint32_t numerator = std::uint32_t(std::llround(value * 10000));
  std::uint32_t denominator = 10000;
  const std::uint32_t common = std::gcd(numerator, denominator);
  if (common > 1) numerator /= common, denominator /= common;
  return ExifRational{numerator, denominator};
}

std::string ExifSegment(const ExifFacts& facts) {
  std::vector<Entry> ifd0, exif, gps;
  addText(&ifd0, 0x010F, facts.make);
  addText(&ifd0, 0x0110, facts.model);
  if (facts.orientation >= 1 && facts.orientation <= 8) addShort(&ifd0, 0x0112, std::uint16_t(facts.orientation));
  addText(&ifd0, 0x0131, facts.software);
  addText(&ifd0, 0x013B, facts.artist);

  addRational(&exif, 0x829A, facts.exposureTime);
  addRational(&exif, 0x829D, facts.fNumber);
  if (facts.iso) addShort(&exif, 0x8827, *facts.iso);
  exif.push_back({0x9000, kUndefined, 4, "0232"});
  addText(&exif, 0x9003, facts.dateTimeOriginal);
  addText(&exif, 0x9011, facts.offsetTimeOriginal);
  addRational(&exif, 0x920A, facts.focalLength);

  if (const auto& p = facts.position) {
    gps.push_back({0x0000, kByte, 4, std::string("\2\3\0\0", 4)});
    gps.push_back({0x0001, kAscii, 2, std::string{p->latitudeRef == 'S' ? 'S' : 'N', '\0'}});
    addRationals(&gps, 0x0002, p->latitude, 3);
    gps.push_back({0x0003, kAscii, 2, std::string{p->longitudeRef == 'W' ? 'W' : 'E', '\0'}});
    addRationals(&gps, 0x0004, p->longitude, 3);
    if (p->altitude) {
      gps.push_back({0x0005, kByte, 1, std::string(1, p->belowSeaLevel ? '\1' : '\0')});
      addRational(&gps, 0x0006, p->altitude);
    }
  }

  // The pointer entries' room is counted before their targets' offsets are known.
  ifd0.push_back({0x8769, kLong, 1, std::string(4, '\0')});
  if (!gps.empty()) ifd0.push_back({0x8825, kLong, 1, std::string(4, '\0')});
  const std::uint32_t exifAt = 8 + std::uint32_t(ifdSize(ifd0));
  const std::uint32_t gpsAt = exifAt + std::uint32_t(ifdSize(exif));
  for (Entry& e : ifd0) {
    if (e.tag == 0x8769) e.value.clear(), put32(&e.value, exifAt);
    if (e.tag == 0x8825) e.value.clear(), put32(&e.value, gpsAt);
  }

  std::string tiff("MM\0\x2A\0\0\0\x08", 8);
  writeIfd(ifd0, 8, &tiff);
  writeIfd(exif, exifAt, &tiff);
  if (!gps.empty()) writeIfd(gps, gpsAt, &tiff);

  // Texts are cut to 255 bytes and there are few of them: the segment stays far below 64 KB.
  std::string segment("\xFF\xE1", 2);
  put16(&segment, std::uint32_t(2 + 6 + tiff.size()));
  segment.append("Exif\0\0", 6);
  return segment + tiff;
}

namespace {
// Where the picture resumes after the start of image and the leading EXIF segment to be dropped;
// 0 for bytes that are no JPEG or whose leading segment runs past their end.
std::size_t restAt(const std::uint8_t* jpeg, std::size_t size, bool replaceLeading) {
  if (!StartsWithSOI(jpeg, size)) return 0;
  if (replaceLeading && size >= 12 && jpeg[2] == 0xFF && jpeg[3] == jpeg::kAPP1 && std::memcmp(jpeg + 6, "Exif\0\0", 6) == 0) {
    const std::size_t length = (std::size_t(jpeg[4]) << 8) | jpeg[5];
    if (length < 8 || length > size - 4) return 0;
    return 4 + length;
  }
  return 2;
}
}  // namespace

std::optional<std::vector<std::uint8_t>> JpegWithExif(const std::uint8_t* jpeg, std::size_t size, const std::string& segment,
                                        bool replaceLeading) {
  const std::size_t rest = restAt(jpeg, size, replaceLeading);
  if (rest == 0) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(2 + segment.size() + (size - rest));
  out.insert(out.end(), jpeg, jpeg + 2);
  out.insert(out.end(), segment.begin(), segment.end());
  out.insert(out.end(), jpeg + rest, jpeg + size);
  return out;
}

bool JpegPutExif(std::vector<std::uint8_t>* jpeg, const std::string& segment, bool replaceLeading) {
  const std::size_t rest = restAt(jpeg->data(), jpeg->size(), replaceLeading);
  if (rest == 0) return false;
  // The segment takes the place of bytes 2..rest; the picture after them moves once, in place.
  const std::size_t kept = rest - 2;
  if (segment.size() > kept) jpeg->insert(jpeg->begin() + std::ptrdiff_t(rest), segment.size() - kept, 0);
  else jpeg->erase(jpeg->begin() + 2 + std::ptrdiff_t(segment.size()), jpeg->begin() + std::ptrdiff_t(rest));
  std::memcpy(jpeg->data() + 2, segment.data(), segment.size());
  return true;
}

}  // namespace media
