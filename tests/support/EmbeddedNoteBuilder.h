// SPDX-License-Identifier: GPL-2.0-or-later
// Photographs carrying a voice note the way phones and cameras keep one inside, built from the
// public layout documents each function names; shared by the tests and the fuzz seed writer.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace notebuilder {

// Sound & Shot. Layout: ExifTool's Samsung Trailer tags page (TagNames/Samsung.html, "Samsung
// Trailer Tags": EmbeddedAudioFile, block type 0x0100 named "SoundShot_000") and the SEFH/SEFT
// directory as discussed on the ExifTool forum ("Revisiting Samsung SEFT"): blocks after the
// picture, each "0x0000, type, name length, name, data" (little-endian); then "SEFH", version,
// count and 12-byte entries (0x0000, type, distance back from SEFH to the block, block length);
// then the directory's length and "SEFT".
struct TrailerBlock {
  std::uint16_t type;
  std::string name;
  std::string data;
};
std::string samsungTrailer(const std::string& jpeg, const std::vector<TrailerBlock>& blocks);
std::string soundAndShot(const std::string& jpeg, const std::string& recording);

// FLIR. Layout: ExifTool's FLIR tags page (TagNames/FLIR.html, "FLIR FFF Tags": record 0x0024
// EmbeddedAudioFile) and FLIR's FFF header and record index (FLIRFILEHEAD, 64 bytes: "FFF\0",
// origin, version, index offset, index count...; FLIRFILEINDEX, 32 bytes: main type, sub type,
// version, id, data offset, data size, parent, object number, checksum; big-endian) as posted on the
// EEVblog thermal-imaging forum. The FFF data is cut into APP1 segments "FLIR\0", 1, number, last.
std::string flirFff(const std::string& recording, std::uint16_t recordType = 0x24);
std::string flirSegments(const std::string& jpeg, const std::string& fff, std::size_t pieceBytes,
                         std::vector<int> order = {});

// GAudio. Layout: ExifTool's XMP tags page (TagNames/XMP.html, "XMP GAudio Tags": Mime, Data,
// namespace http://ns.google.com/photos/1.0/audio/) and the Adobe XMP Specification Part 3, JPEG:
// the main packet in APP1 "http://ns.adobe.com/xap/1.0/\0"; the extended packet's MD5 as 32
// upper-case hex digits in xmpNote:HasExtendedXMP, the packet in APP1
// "http://ns.adobe.com/xmp/extension/\0" chunks: GUID, full length and offset (big-endian), data.
std::string xmpPacket(const std::string& descriptionAttributes);
std::string gaudioAttributes(const std::string& mime, const std::string& recording);
std::string withStandardXmp(const std::string& jpeg, const std::string& packet);
std::string md5Guid(const std::string& packet);
std::string withExtendedXmp(const std::string& jpeg, const std::string& mainPacket, const std::string& extended,
                            const std::string& guid, std::size_t chunkBytes, std::vector<int> order = {});
std::string gaudioExtended(const std::string& jpeg, const std::string& recording, std::size_t chunkBytes = 60000);

std::string base64(const std::string& bytes);

}  // namespace notebuilder
