// SPDX-License-Identifier: GPL-2.0-or-later
// Motion photo XMP: the properties as attributes and the container directory as an element, so
// the same text goes into a fresh packet or into the photograph's own rdf:Description.
#include "media/MotionPhotoXmp.h"

#include <cctype>

namespace media {

namespace {

constexpr const char* kNamespaces[][2] = {
    {"GCamera", "http://ns.google.com/photos/1.0/camera/"},
    {"Container", "http://ns.google.com/photos/1.0/container/"},
    {"Item", "http://ns.google.com/photos/1.0/container/item/"},
};

std::string attributes(std::uint64_t videoLength, const std::string& existingTag) {
  std::string out;
  for (const auto& ns : kNamespaces) {
    const std::string decl = std::string("xmlns:") + ns[0] + "=";
    if (existingTag.find(decl) == std::string::npos) out += "\n    " + decl + "\"" + ns[1] + "\"";
  }
  const std::string length = std::to_string(videoLength);
  out += "\n    GCamera:MotionPhoto=\"1\""
         "\n    GCamera:MotionPhotoVersion=\"1\""
         "\n    GCamera:MotionPhotoPresentationTimestampUs=\"0\""
         "\n    GCamera:MicroVideo=\"1\""
         "\n    GCamera:MicroVideoVersion=\"1\""
         "\n    GCamera:MicroVideoOffset=\"" + length + "\""
         "\n    GCamera:MicroVideoPresentationTimestampUs=\"0\"";
  return out;
}

std::string directory(std::uint64_t videoLength) {
  return "\n   <Container:Directory>\n    <rdf:Seq>\n"
         "     <rdf:li rdf:parseType=\"Resource\">\n"
         "      <Container:Item Item:Mime=\"image/jpeg\" Item:Semantic=\"Primary\" Item:Length=\"0\" Item:Padding=\"0\"/>\n"
         "     </rdf:li>\n"
         "     <rdf:li rdf:parseType=\"Resource\">\n"
         "      <Container:Item Item:Mime=\"video/mp4\" Item:Semantic=\"MotionPhoto\" Item:Length=\"" +
         std::to_string(videoLength) +
         "\" Item:Padding=\"0\"/>\n"
         "     </rdf:li>\n    </rdf:Seq>\n   </Container:Directory>\n";
}

// The end of the tag that starts at open ('>' included), skipping quoted attribute values.
std::size_t tagEnd(const std::string& text, std::size_t open) {
  char quote = 0;
  for (std::size_t i = open; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return std::string::npos;
}

// The packet without the whitespace padding before its closing processing instruction.
std::string withoutPadding(const std::string& packet) {
  const std::size_t trailer = packet.rfind("<?xpacket end");
  if (trailer == std::string::npos) return packet;
  std::size_t start = trailer;
  while (start > 0 && std::isspace(static_cast<unsigned char>(packet[start - 1]))) --start;
  return packet.substr(0, start) + "\n" + packet.substr(trailer);
}

}  // namespace

std::string MotionPhotoXmp(std::uint64_t videoLength) {
  return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
         " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
         "  <rdf:Description rdf:about=\"\"" +
         attributes(videoLength, "") + ">" + directory(videoLength) +
         "  </rdf:Description>\n"
         " </rdf:RDF>\n"
         "</x:xmpmeta>\n"
         "<?xpacket end=\"w\"?>";
}

namespace {

// The digits of the last value="N" of that property in the packet.
std::optional<std::uint64_t> lastNumber(std::string_view packet, const std::string& property) {
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

std::optional<std::uint64_t> XmpMotionPhotoVideoLength(std::string_view packet) {
  if (auto offset = lastNumber(packet, "GCamera:MicroVideoOffset")) return offset;
  return lastNumber(packet, "Item:Length");
}

bool XmpSaysMotionPhoto(const std::string& packet) {
  for (const char* property : {"GCamera:MotionPhoto", "GCamera:MicroVideo", "Camera:MotionPhoto", "Camera:MicroVideo"}) {
    std::size_t at = packet.find(property);
    while (at != std::string::npos) {
      const std::size_t after = at + std::string(property).size();
      // The property itself, not a longer one that begins alike (MotionPhotoVersion).
      if (after < packet.size() && (packet[after] == '=' || packet[after] == '>' || std::isspace(static_cast<unsigned char>(packet[after]))))
        return true;
      at = packet.find(property, after);
    }
  }
  return false;
}

std::optional<std::string> MergeMotionPhotoXmp(const std::string& packet, std::uint64_t videoLength, std::string* why) {
  auto refuse = [why](const char* words) -> std::optional<std::string> {
    if (why) *why = words;
    return std::nullopt;
  };
  if (XmpSaysMotionPhoto(packet)) return refuse("the photograph already is a motion photo");
  std::size_t open = packet.find("<rdf:Description");
  while (open != std::string::npos && open + 16 < packet.size() && !std::isspace(static_cast<unsigned char>(packet[open + 16])) &&
         packet[open + 16] != '>' && packet[open + 16] != '/')
    open = packet.find("<rdf:Description", open + 16);
  if (open == std::string::npos) return refuse("its XMP has no description to add to");
  const std::size_t end = tagEnd(packet, open);
  if (end == std::string::npos) return refuse("its XMP is damaged");
  const bool selfClosing = end >= 2 && packet[end - 2] == '/';
  const std::string tag = packet.substr(open, end - open);
  const std::size_t attrEnd = end - (selfClosing ? 2 : 1);
  std::string merged = packet.substr(0, attrEnd) + attributes(videoLength, tag) + ">" + directory(videoLength);
  if (selfClosing) {
    merged += "  </rdf:Description>" + packet.substr(end);
  } else {
    const std::size_t close = packet.find("</rdf:Description>", end);
    if (close == std::string::npos) return refuse("its XMP is damaged");
    // The directory goes last in the description, after what the photograph already says.
    merged = packet.substr(0, attrEnd) + attributes(videoLength, tag) + packet.substr(attrEnd, end - attrEnd) +
             packet.substr(end, close - end) + directory(videoLength) + packet.substr(close);
  }
  if (merged.size() > kMaxXmpPacket) merged = withoutPadding(merged);
  if (merged.size() > kMaxXmpPacket) return refuse("its XMP leaves no room for the motion photo's");
  return merged;
}

}  // namespace media
