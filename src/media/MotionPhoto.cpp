// The still part of a motion photo: finds the header segments up to the first scan, places the
// XMP after the Exif segment (or the JFIF one, or the start of image), or merges it into the
// standard XMP packet already there.
#include "media/MotionPhoto.h"

#include <cstring>
#include <vector>

#include "media/MotionPhotoXmp.h"

namespace media {

namespace {

struct Segment {
  std::size_t offset = 0;  // of its marker
  std::size_t end = 0;     // past its payload
  std::uint8_t marker = 0;
};

bool isXmp(const std::uint8_t* jpeg, const Segment& s) {
  const std::size_t payload = s.offset + 4;
  return s.marker == 0xE1 && s.end - payload >= sizeof kXmpSignature &&
         std::memcmp(jpeg + payload, kXmpSignature, sizeof kXmpSignature) == 0;
}

bool isExif(const std::uint8_t* jpeg, const Segment& s) {
  return s.marker == 0xE1 && s.end - s.offset >= 10 && std::memcmp(jpeg + s.offset + 4, "Exif\0\0", 6) == 0;
}

// The segments before the first scan; false when the stream is no JPEG or a length runs past it.
bool headerSegments(const std::uint8_t* jpeg, std::size_t size, std::vector<Segment>* out) {
  if (size < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
  std::size_t at = 2;
  while (at + 4 <= size) {
    if (jpeg[at] != 0xFF) return false;
    const std::uint8_t marker = jpeg[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return true;
    const std::size_t length = (std::size_t(jpeg[at + 2]) << 8) | jpeg[at + 3];
    if (length < 2 || at + 2 + length > size) return false;
    out->push_back({at, at + 2 + length, marker});
    at += 2 + length;
  }
  return false;
}

std::string segmentWith(const std::string& packet) {
  const std::size_t length = 2 + sizeof kXmpSignature + packet.size();
  std::string out = {char(0xFF), char(0xE1), char(length >> 8), char(length & 0xFF)};
  out.append(kXmpSignature, sizeof kXmpSignature);
  return out + packet;
}

// The standard XMP packet of a JPEG whose header segments are all within size; "" for none.
std::string xmpPacketOf(const std::uint8_t* jpeg, std::size_t size) {
  std::vector<Segment> segments;
  headerSegments(jpeg, size, &segments);
  for (const Segment& s : segments)
    if (isXmp(jpeg, s)) {
      const std::size_t packet = s.offset + 4 + sizeof kXmpSignature;
      return std::string(reinterpret_cast<const char*>(jpeg) + packet, s.end - packet);
    }
  return "";
}

// The digits of the last value="N" of that property in the packet.
std::optional<std::uint64_t> lastNumber(const std::string& packet, const std::string& property) {
  const std::size_t at = packet.rfind(property + "=\"");
  if (at == std::string::npos) return std::nullopt;
  std::uint64_t value = 0;
  std::size_t i = at + property.size() + 2, digits = 0;
  for (; i < packet.size() && packet[i] >= '0' && packet[i] <= '9' && digits < 19; ++i, ++digits)
    value = value * 10 + std::uint64_t(packet[i] - '0');
  if (digits == 0 || i >= packet.size() || packet[i] != '"') return std::nullopt;
  return value;
}

}  // namespace

bool IsMotionPhoto(const std::uint8_t* jpeg, std::size_t size) { return XmpSaysMotionPhoto(xmpPacketOf(jpeg, size)); }

std::optional<std::uint64_t> MotionPhotoVideoLength(const std::uint8_t* jpeg, std::size_t size) {
  const std::string packet = xmpPacketOf(jpeg, size);
  if (auto offset = lastNumber(packet, "GCamera:MicroVideoOffset")) return offset;
  return lastNumber(packet, "Item:Length");
}

std::optional<std::string> MotionPhotoStill(const std::uint8_t* jpeg, std::size_t size, std::uint64_t videoLength,
                                            std::string* why) {
  auto refuse = [why](const std::string& words) -> std::optional<std::string> {
    if (why) *why = words;
    return std::nullopt;
  };
  std::vector<Segment> segments;
  if (!headerSegments(jpeg, size, &segments)) return refuse("the photograph's JPEG header is damaged");
  const char* bytes = reinterpret_cast<const char*>(jpeg);
  for (const Segment& s : segments) {
    if (!isXmp(jpeg, s)) continue;
    const std::size_t packet = s.offset + 4 + sizeof kXmpSignature;
    std::string reason;
    auto merged = MergeMotionPhotoXmp(std::string(bytes + packet, s.end - packet), videoLength, &reason);
    if (!merged) return refuse(reason);
    return std::string(bytes, s.offset) + segmentWith(*merged) + std::string(bytes + s.end, size - s.end);
  }
  // A new packet: after the Exif segment, else after a JFIF one, else right after the start.
  std::size_t at = 2;
  for (const Segment& s : segments)
    if (isExif(jpeg, s)) {
      at = s.end;
      break;
    }
  if (at == 2 && !segments.empty() && segments[0].marker == 0xE0) at = segments[0].end;
  return std::string(bytes, at) + segmentWith(MotionPhotoXmp(videoLength)) + std::string(bytes + at, size - at);
}

std::string MotionPhotoName(const std::string& photographName) {
  const std::size_t slash = photographName.rfind('/');
  const std::size_t dot = photographName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
    return photographName + ".MP.jpg";
  return photographName.substr(0, dot) + ".MP" + photographName.substr(dot);
}

}  // namespace media
