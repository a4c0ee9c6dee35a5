// SPDX-License-Identifier: GPL-2.0-or-later
// Building photographs with a Sound & Shot trailer, FLIR segments or GAudio XMP, byte by byte.
#include "support/EmbeddedNoteBuilder.h"

#include <glib.h>

#include <numeric>

namespace notebuilder {

namespace {

void le16(std::string& s, unsigned v) { s += char(v & 0xFF), s += char((v >> 8) & 0xFF); }
void le32(std::string& s, std::uint32_t v) { le16(s, v & 0xFFFF), le16(s, v >> 16); }
void be16(std::string& s, unsigned v) { s += char((v >> 8) & 0xFF), s += char(v & 0xFF); }
void be32(std::string& s, std::uint32_t v) { be16(s, v >> 16), be16(s, v & 0xFFFF); }

// A segment right after the SOI, or after the segments put there before it when asked in order.
std::string segment(unsigned char marker, const std::string& payload) {
  std::string s("\xFF");
  s += char(marker);
  be16(s, unsigned(payload.size() + 2));
  return s + payload;
}

std::vector<int> orderOf(std::size_t n, std::vector<int> order) {
  if (!order.empty()) return order;
  std::vector<int> all(n);
  std::iota(all.begin(), all.end(), 0);
  return all;
}

}  // namespace

std::string samsungTrailer(const std::string& jpeg, const std::vector<TrailerBlock>& blocks) {
  std::string out = jpeg;
  std::vector<std::size_t> starts, lengths;
  for (const TrailerBlock& b : blocks) {
    starts.push_back(out.size());
    le16(out, 0), le16(out, b.type), le32(out, std::uint32_t(b.name.size()));
    out += b.name + b.data;
    lengths.push_back(out.size() - starts.back());
  }
  const std::size_t directory = out.size();
  std::string d = "SEFH";
  le32(d, 106), le32(d, std::uint32_t(blocks.size()));
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    le16(d, 0), le16(d, blocks[i].type);
    le32(d, std::uint32_t(directory - starts[i])), le32(d, std::uint32_t(lengths[i]));
  }
  le32(d, std::uint32_t(d.size()));
  return out + d + "SEFT";
}

std::string soundAndShot(const std::string& jpeg, const std::string& recording) {
  return samsungTrailer(jpeg, {{0x0a01, "Image_UTC_Data", "1700000000000"}, {0x0100, "SoundShot_000", recording}});
}

std::string flirFff(const std::string& recording, std::uint16_t recordType) {
  std::string head = "FFF";
  head += '\0';
  head += std::string("still2mov test", 14) + std::string(2, '\0');
  be32(head, 100), be32(head, 64), be32(head, 2), be32(head, 3);  // version, index offset and count, next id
  head += std::string(64 - head.size(), '\0');
  const std::string text = "<camera info>";
  std::string index;
  const std::uint32_t first = 64 + 2 * 32;
  // A record the reader must pass over, then the recording.
  be16(index, 0x20), be16(index, 0), be32(index, 100), be32(index, 1), be32(index, first), be32(index, std::uint32_t(text.size()));
  be32(index, 0), be32(index, 0), be32(index, 0);
  be16(index, recordType), be16(index, 0), be32(index, 100), be32(index, 2);
  be32(index, std::uint32_t(first + text.size())), be32(index, std::uint32_t(recording.size()));
  be32(index, 0), be32(index, 0), be32(index, 0);
  return head + index + text + recording;
}

std::string flirSegments(const std::string& jpeg, const std::string& fff, std::size_t pieceBytes, std::vector<int> order) {
  std::vector<std::string> pieces;
  for (std::size_t at = 0; at < fff.size(); at += pieceBytes) pieces.push_back(fff.substr(at, pieceBytes));
  std::string segments;
  for (int i : orderOf(pieces.size(), order)) {
    std::string payload("FLIR\0\x01", 6);
    payload += char(i), payload += char(pieces.size() - 1);
    segments += segment(0xE1, payload + pieces[std::size_t(i)]);
  }
  return jpeg.substr(0, 2) + segments + jpeg.substr(2);
}

std::string base64(const std::string& bytes) {
  gchar* text = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string out(text);
  g_free(text);
  return out;
}

std::string xmpPacket(const std::string& attributes) {
  return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
         "<rdf:Description rdf:about=\"\" " +
         attributes + "/></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
}

std::string gaudioAttributes(const std::string& mime, const std::string& recording) {
  return "xmlns:GAudio=\"http://ns.google.com/photos/1.0/audio/\" GAudio:Mime=\"" + mime + "\" GAudio:Data=\"" +
         base64(recording) + "\"";
}

std::string withStandardXmp(const std::string& jpeg, const std::string& packet) {
  return jpeg.substr(0, 2) + segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29) + packet) + jpeg.substr(2);
}

std::string md5Guid(const std::string& packet) {
  gchar* hex = g_compute_checksum_for_data(G_CHECKSUM_MD5, reinterpret_cast<const guchar*>(packet.data()), packet.size());
  std::string out(hex);
  g_free(hex);
  for (char& c : out) c = char(g_ascii_toupper(c));
  return out;
}

std::string withExtendedXmp(const std::string& jpeg, const std::string& mainPacket, const std::string& extended,
                            const std::string& guid, std::size_t chunkBytes, std::vector<int> order) {
  std::vector<std::size_t> offsets;
  for (std::size_t at = 0; at < extended.size(); at += chunkBytes) offsets.push_back(at);
  std::string chunks;
  for (int i : orderOf(offsets.size(), order)) {
    std::string payload = std::string("http://ns.adobe.com/xmp/extension/\0", 35) + guid;
    be32(payload, std::uint32_t(extended.size())), be32(payload, std::uint32_t(offsets[std::size_t(i)]));
    chunks += segment(0xE1, payload + extended.substr(offsets[std::size_t(i)], chunkBytes));
  }
  const std::string withMain = withStandardXmp(jpeg, mainPacket);
  const std::size_t afterMain = 2 + 4 + 29 + mainPacket.size();
  return withMain.substr(0, afterMain) + chunks + withMain.substr(afterMain);
}

std::string gaudioExtended(const std::string& jpeg, const std::string& recording, std::size_t chunkBytes) {
  const std::string extended = xmpPacket(gaudioAttributes("audio/mp4", recording));
  const std::string guid = md5Guid(extended);
  const std::string main = xmpPacket("xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\" xmpNote:HasExtendedXMP=\"" + guid + "\"");
  return withExtendedXmp(jpeg, main, extended, guid, chunkBytes);
}

}  // namespace notebuilder
