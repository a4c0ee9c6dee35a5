// SPDX-License-Identifier: GPL-2.0-or-later
// Reads one camera JPEG's header into an image information record: EXIF segments, FlashPix
// segment copies, decoded size, path and creation date; then finds the voice annotation.
#pragma once
#include <cstddef>
#include <mutex>
#include <string>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "toolbox/Core/MacTypes.h"

typedef struct tiff TIFF;

class JpegTagReader {
 public:
  JpegTagReader() = default;
  ~JpegTagReader() = default;
  JpegTagReader(const JpegTagReader&) = delete;
  JpegTagReader& operator=(const JpegTagReader&) = delete;

  // Fills record from the file at path; reports nothing. A file that cannot be opened, or is
  // no regular file, leaves the record untouched; a damaged one leaves what was gathered
  // before the damage.
  void readTags(const std::string& path, ExImageInfo* record);
  // The same over the photograph's bytes, already read from path (which still names it in the
  // record and gives the creation date). The bytes stay the caller's; with inPlace they outlive
  // the record, whose FlashPix data list then points into them instead of holding copies.
  void readTags(const std::string& path, const UInt8* bytes, size_t length, ExImageInfo* record,
                bool inPlace = false);

  // One APP1 payload (after its length field), handed on while the decoder's copy is alive.
  void readExifSegment(const UInt8* payload, UInt32 length);
  // A TIFF stream's primary, EXIF and GPS directories (a segment's after its identifier, or a
  // TIFF-based raw photograph whole), read in place into the current record. A stream may hold
  // one EXIF or GPS directory as its first, as a Canon CR3 keeps each in a box of its own.
  enum class FirstDirectory { primary, exif, gps };
  void readTiffStream(const UInt8* tiff, size_t length, FirstDirectory first = FirstDirectory::primary);

  // Directory reading over an open TIFF handle into the current record.
  void readIFDs(TIFF* tif, UInt32 sourceKind);
  void readMainTags(TIFF* tif);
  void readExifTags(TIFF* tif);
  void readGPSTags(TIFF* tif);
  // The stream's first directory read as an EXIF or a GPS one.
  void readFirstDirectoryAs(TIFF* tif, FirstDirectory first);

  // FlashPix audio: finds the audio stream among the record's segment copies, adds one audio
  // block per piece and works out the recording's length in whole seconds.
  void parseAudioData();
  void parseWaveHeaders();
  // How many of an APP2 body's first bytes (its first n) to read before the rest can be left in
  // the file: the header of a FlashPix stream piece past its stream's start, whose rest only the
  // recording's reader needs. 0 for any other segment, which is held whole.
  static UInt32 flashPixPieceHeader(const UInt8* body, UInt32 n);
  // Offset of the first match of the NUL-terminated pattern, 0 when none. The last start
  // position is not tried, and a match at 0 reads as none.
  static UInt32 findCharSequence(const char* pattern, const UInt8* data, UInt32 length);
  // Copies count bytes in stored order; count <= 0 copies nothing.
  static void getInt(void* destination, const void* source, SInt32 count);

  // The record the methods above write into; readTags sets it.
  void setDataStore(ExImageInfo* record) { mDataStore = record; }
  ExImageInfo* getDataStore() const { return mDataStore; }

  static constexpr UInt32 kSourceJPEG = FOUR_CHAR_CODE("JPEG");

 private:
  // Copies the tag table's rows of one directory (the reader's Dir) from the handle.
  void copyDirectory(TIFF* tif, UInt8 directory);

  ExImageInfo* mDataStore = nullptr;
  std::recursive_mutex m_pTagReaderLock;
};
