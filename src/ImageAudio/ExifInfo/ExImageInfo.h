// SPDX-License-Identifier: GPL-2.0-or-later
// Everything learnt about one photograph: file facts, directory values with presence flags,
// the FlashPix segment copies it owns and the audio blocks that point into them.
#pragma once
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "toolbox/Core/MacTypes.h"

class ExImageInfo {
 public:
  ExImageInfo() = default;
  ~ExImageInfo();
  ExImageInfo(const ExImageInfo&) = delete;
  ExImageInfo& operator=(const ExImageInfo&) = delete;

  // File facts.
  void setFileSize(UInt32 v) { mFileSize = v; }
  UInt32 getFileSize() const { return mFileSize; }
  void setPixelWidth(UInt32 v) { mPixelWidth = v; }
  UInt32 getPixelWidth() const { return mPixelWidth; }
  void setPixelHeight(UInt32 v) { mPixelHeight = v; }
  UInt32 getPixelHeight() const { return mPixelHeight; }
  void setCreationDate(const std::optional<struct timespec>& date) { mCreationDate = date; }
  const std::optional<struct timespec>& getCreationDate() const { return mCreationDate; }
  void setFileName(const std::string& path) { mFileName = path; }
  const std::string& getFileName() const { return mFileName ? *mFileName : kNoName; }
  bool hasFileName() const { return mFileName.has_value(); }

  // Directory getters (GPS included).
#define EXIF_NUMBER(member, Type, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  Type getter() const { return member; }                                            \
  bool flagGetter() const { return member##Present; }
#define EXIF_ARRAY(member, ElemType, count, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  const ElemType* getter() const { return member; }                                          \
  bool flagGetter() const { return member##Present; }
#define EXIF_TEXT(member, size, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  const char* getter() const { return member; }                                   \
  bool flagGetter() const { return member##Present; }
#define EXIF_STRING(member, setter, getter, name, tag, dir, ext) \
  const char* getter() const { return member; }
#define EXIF_COUNTED(countMember, bufferMember, ElemType, countSetter, countGetter, bufferSetter, \
                     bufferGetter, name, tag, dir, ext)                                                     \
  UInt16 countGetter() const { return countMember; }                                              \
  const ElemType* bufferGetter() const { return bufferMember; }
#include "ImageAudio/ExifTags.def"

  // Directory setters; the GPS ones are private: only the reader fills them.
  // Texts longer than their field are cut to size - 1 characters and always terminated.
  // A null string clears an owned string; a counted buffer copies as many elements as its
  // count holds at the time of the call (null when that count is 0 or the source is null).
#define EXIF_NUMBER(member, Type, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  void setter(Type v) { member = v; }                                               \
  void flagSetter(bool present) { member##Present = present; }
#define EXIF_ARRAY(member, ElemType, count, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  void setter(const ElemType* v);                                                            \
  void flagSetter(bool present) { member##Present = present; }
#define EXIF_TEXT(member, size, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  void setter(const char* text);                                                  \
  void flagSetter(bool present) { member##Present = present; }
#define EXIF_STRING(member, setter, getter, name, tag, dir, ext) void setter(const char* text);
#define EXIF_COUNTED(countMember, bufferMember, ElemType, countSetter, countGetter, bufferSetter, \
                     bufferGetter, name, tag, dir, ext)                                                     \
  void countSetter(UInt16 n) { countMember = n; }                                                 \
  void bufferSetter(const ElemType* v);
#define EXIF_GPS_BEGIN private:
#define EXIF_GPS_END public:
#include "ImageAudio/ExifTags.def"

  // FlashPix data list: the record takes ownership of each malloc'd buffer and frees it once.
  void addFlashPixData(UInt8* data, UInt32 length);
  // The same for a segment body the record does not own: it lies in the photograph's bytes,
  // which outlive the record, so a long voice annotation is not held twice.
  void addFlashPixView(const UInt8* data, UInt32 length);
  const std::vector<UInt8*>& getFPDataArray() const { return mFPExtensionData; }
  const std::vector<UInt32>& getFPLengthArray() const { return mFPExtensionLength; }

  // Audio blocks: views into the FlashPix buffers, never freed by the record.
  void addAudioSample(const UInt8* data, UInt32 length, UInt32 offset);
  const std::vector<const UInt8*>& getAudioDataArray() const { return mAudioData; }
  const std::vector<UInt32>& getAudioLenArray() const { return mAudioLength; }
  const std::vector<UInt32>& getAudioOffsetArray() const { return mAudioOffset; }
  void setAudioSeconds(UInt32 seconds) { mAudioSeconds = seconds; }
  UInt32 getAudioSeconds() const { return mAudioSeconds; }
  bool hasAudio() const { return mAudioSeconds != 0; }
  UInt32 numAudioBlocks() const { return UInt32(mAudioData.size()); }
  // Out of range (negative or >= numAudioBlocks) writes nothing, so callers see their presets.
  void getNthAudioBlock(SInt32 index, const UInt8** data, UInt32* length, UInt32* offset) const;

 private:
  friend class JpegTagReader;
  static inline const std::string kNoName;

  UInt32 mFileSize = 0;
  UInt32 mPixelWidth = 0;
  UInt32 mPixelHeight = 0;
  std::optional<struct timespec> mCreationDate;
  std::optional<std::string> mFileName;

#define EXIF_NUMBER(member, Type, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  bool member##Present = false;                                                     \
  Type member = 0;
#define EXIF_ARRAY(member, ElemType, count, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  bool member##Present = false;                                                              \
  ElemType member[count] = {};
#define EXIF_TEXT(member, size, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  bool member##Present = false;                                                   \
  char member[size] = {};
#define EXIF_STRING(member, setter, getter, name, tag, dir, ext) char* member = nullptr;
#define EXIF_COUNTED(countMember, bufferMember, ElemType, countSetter, countGetter, bufferSetter, \
                     bufferGetter, name, tag, dir, ext)                                                     \
  UInt16 countMember = 0;                                                                         \
  ElemType* bufferMember = nullptr;
#include "ImageAudio/ExifTags.def"

  std::vector<UInt8*> mFPExtensionData;
  std::vector<UInt32> mFPExtensionLength;
  std::vector<bool> mFPExtensionOwned;  // false for the views, which are not freed
  std::vector<const UInt8*> mAudioData;
  std::vector<UInt32> mAudioLength;
  std::vector<UInt32> mAudioOffset;
  UInt32 mAudioSeconds = 0;
};
