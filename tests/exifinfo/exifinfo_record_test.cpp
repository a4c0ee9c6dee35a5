// SPDX-License-Identifier: GPL-2.0-or-later
// The image information record: a fresh record is empty, every accessor reaches its own field,
// copies are bounded, and buffers are owned (or not) as the record promises.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ImageAudio/ExifInfo/ExImageInfo.h"

namespace {

// Each row is visited through a dependent type so that the private GPS setters are only named
// in a template that is never instantiated.
#define EXIF_NUMBER(member, Type, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) v.number(r.getter(), r.flagGetter(), name);
#define EXIF_ARRAY(member, ElemType, count, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  v.array(r.getter(), count, r.flagGetter(), name);
#define EXIF_TEXT(member, size, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) v.text(r.getter(), size, r.flagGetter(), name);
#define EXIF_STRING(member, setter, getter, name, tag, dir, ext) v.string(r.getter(), name);
#define EXIF_COUNTED(countMember, bufferMember, ElemType, countSetter, countGetter, bufferSetter, bufferGetter, name, tag, dir, ext) \
  v.counted(r.countGetter(), r.bufferGetter(), name);
#define EXIF_GPS_BEGIN v.gps = true;
template <typename R, typename V>
void visitAll(const R& r, V& v) {
#include "ImageAudio/ExifTags.def"
}

struct ExpectEmpty {
  bool gps = false;
  template <typename T>
  void number(T value, bool present, const char* name) {
    EXPECT_EQ(value, T(0)) << name;
    EXPECT_FALSE(present) << name;
  }
  template <typename T>
  void array(const T* values, int count, bool present, const char* name) {
    for (int i = 0; i < count; ++i) EXPECT_EQ(values[i], T(0)) << name << "[" << i << "]";
    EXPECT_FALSE(present) << name;
  }
  void text(const char* value, int size, bool present, const char* name) {
    for (int i = 0; i < size; ++i) EXPECT_EQ(value[i], '\0') << name;
    EXPECT_FALSE(present) << name;
  }
  void string(const char* value, const char* name) { EXPECT_EQ(value, nullptr) << name; }
  template <typename T>
  void counted(UInt16 count, const T* buffer, const char* name) {
    EXPECT_EQ(count, 0) << name;
    EXPECT_EQ(buffer, nullptr) << name;
  }
};

// Sets every public field of the primary and EXIF directories to a value of its own (seq),
// checking on the way that value and flag never touch each other.
#define EXIF_NUMBER(member, Type, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  r.flagSetter(true);                                                                \
  EXPECT_EQ(r.getter(), Type(0)) << name;                                            \
  r.setter(Type(++seq));                                                             \
  EXPECT_TRUE(r.flagGetter()) << name;                                               \
  r.flagSetter(false);                                                               \
  EXPECT_EQ(r.getter(), Type(seq)) << name;                                          \
  r.flagSetter(seq % 2 == 0);
#define EXIF_ARRAY(member, ElemType, count, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  {                                                                                          \
    ++seq;                                                                                   \
    ElemType values[count];                                                                  \
    for (int i = 0; i < count; ++i) values[i] = ElemType(seq + i);                           \
    r.setter(values);                                                                        \
    EXPECT_FALSE(r.flagGetter()) << name;                                                    \
    r.flagSetter(seq % 2 == 0);                                                              \
  }
#define EXIF_TEXT(member, size, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  {                                                                               \
    char text[16];                                                                \
    std::snprintf(text, sizeof text, "t%d", ++seq);                               \
    r.setter(text);                                                               \
    r.flagSetter(seq % 2 == 0);                                                   \
  }
#define EXIF_STRING(member, setter, getter, name, tag, dir, ext) \
  {                                                    \
    char text[16];                                     \
    std::snprintf(text, sizeof text, "s%d", ++seq);    \
    r.setter(text);                                    \
  }
#define EXIF_COUNTED(countMember, bufferMember, ElemType, countSetter, countGetter, bufferSetter, bufferGetter, name, tag, dir, ext) \
  {                                                                                                                       \
    ++seq;                                                                                                                \
    ElemType values[3] = {ElemType(seq), ElemType(seq + 1), ElemType(seq + 2)};                                           \
    r.countSetter(3);                                                                                                     \
    r.bufferSetter(values);                                                                                               \
  }
#define EXIF_GPS_BEGIN \
  }                    \
  template <typename R> \
  void setGpsRows(R& r, int& seq) {
template <typename R>
void setDirectoryRows(R& r, int& seq) {
#include "ImageAudio/ExifTags.def"
}

// Checks what setDirectoryRows stored, in the same order, and that GPS rows stayed empty.
struct ExpectOwnValues {
  int seq = 0;
  bool gps = false;
  template <typename T>
  void number(T value, bool present, const char* name) {
    if (gps) return ExpectEmpty().number(value, present, name);
    ++seq;
    EXPECT_EQ(value, T(seq)) << name;
    EXPECT_EQ(present, seq % 2 == 0) << name;
  }
  template <typename T>
  void array(const T* values, int count, bool present, const char* name) {
    if (gps) return ExpectEmpty().array(values, count, present, name);
    ++seq;
    for (int i = 0; i < count; ++i) EXPECT_EQ(values[i], T(seq + i)) << name << "[" << i << "]";
    EXPECT_EQ(present, seq % 2 == 0) << name;
  }
  void text(const char* value, int size, bool present, const char* name) {
    if (gps) return ExpectEmpty().text(value, size, present, name);
    ++seq;
    EXPECT_EQ(std::string(value), "t" + std::to_string(seq)) << name;
    EXPECT_EQ(present, seq % 2 == 0) << name;
  }
  void string(const char* value, const char* name) {
    if (gps) return ExpectEmpty().string(value, name);
    ++seq;
    ASSERT_NE(value, nullptr) << name;
    EXPECT_EQ(std::string(value), "s" + std::to_string(seq)) << name;
  }
  template <typename T>
  void counted(UInt16 count, const T* buffer, const char* name) {
    ++seq;
    EXPECT_EQ(count, 3) << name;
    ASSERT_NE(buffer, nullptr) << name;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(buffer[i], T(seq + i)) << name;
  }
};

UInt8* mallocCopy(const std::string& bytes) {
  auto* p = static_cast<UInt8*>(std::malloc(bytes.size()));
  std::memcpy(p, bytes.data(), bytes.size());
  return p;
}

TEST(ExImageInfoFields, FreshRecordIsEmpty) {
  ExImageInfo record;
  ExpectEmpty empty;
  visitAll(record, empty);
  EXPECT_EQ(record.getFileSize(), 0u);
  EXPECT_EQ(record.getPixelWidth(), 0u);
  EXPECT_EQ(record.getPixelHeight(), 0u);
  EXPECT_FALSE(record.getCreationDate().has_value());
  EXPECT_FALSE(record.hasFileName());
  EXPECT_EQ(record.getFileName(), "");
  EXPECT_EQ(record.numAudioBlocks(), 0u);
  EXPECT_EQ(record.getAudioSeconds(), 0u);
  EXPECT_FALSE(record.hasAudio());
  EXPECT_TRUE(record.getFPDataArray().empty());
  EXPECT_TRUE(record.getFPLengthArray().empty());
}

TEST(ExImageInfoFields, EveryAccessorReachesItsOwnFieldAndFlag) {
  ExImageInfo record;
  int seq = 0;
  setDirectoryRows(record, seq);
  ExpectOwnValues check;
  visitAll(record, check);
  EXPECT_EQ(check.seq, seq);
}

TEST(ExImageInfoFields, FlagAndValueAreIndependent) {
  ExImageInfo record;
  record.setYResolutionPresent(true);
  record.setYResolution(72.0f);
  EXPECT_EQ(record.getYResolution(), 72.0f);
  EXPECT_TRUE(record.getYResolutionPresent());
  record.setYResolutionPresent(false);
  EXPECT_EQ(record.getYResolution(), 72.0f);
  EXPECT_FALSE(record.getXResolutionPresent());
}

TEST(ExImageInfoCopies, CountedBufferCopiesTheCountHeldAtThatMoment) {
  ExImageInfo record;
  // Exactly as many bytes as the count: a longer copy would read past these arrays.
  const UInt8 note[4] = {1, 2, 3, 4};
  record.setMakerNoteLength(4);
  record.setMakerNote(note);
  record.setMakerNoteLength(8);
  EXPECT_EQ(record.getMakerNoteLength(), 8);
  ASSERT_NE(record.getMakerNote(), nullptr);
  EXPECT_EQ(std::memcmp(record.getMakerNote(), note, 4), 0);

  const UInt16 iso[2] = {100, 400};
  record.setNumISOSpeeds(2);
  record.setISOSpeedRating(iso);
  ASSERT_NE(record.getISOSpeedRating(), nullptr);
  EXPECT_EQ(record.getISOSpeedRating()[0], 100);
  EXPECT_EQ(record.getISOSpeedRating()[1], 400);

  // Replacing frees the old buffer; a zero count or a null source leaves it absent.
  record.setCommentLength(0);
  record.setComment(note);
  EXPECT_EQ(record.getComment(), nullptr);
  record.setOECFLength(4);
  record.setOecf(nullptr);
  EXPECT_EQ(record.getOecf(), nullptr);
  EXPECT_EQ(record.getOECFLength(), 4);
}

TEST(ExImageInfoCopies, OwnedStringIsReplacedAndCleared) {
  ExImageInfo record;
  std::string first = "First camera";
  record.setMake(first.c_str());
  first.assign(first.size(), 'x');  // the record holds its own copy
  record.setMake("Second");
  EXPECT_STREQ(record.getMake(), "Second");
  record.setMake(nullptr);
  EXPECT_EQ(record.getMake(), nullptr);
  record.setModel("");
  ASSERT_NE(record.getModel(), nullptr);
  EXPECT_STREQ(record.getModel(), "");
}

TEST(ExImageInfoCopies, FixedTextsFitOrAreCut) {
  ExImageInfo record;
  record.setDateTimeOriginal("2004:01:31 12:00:00");
  EXPECT_STREQ(record.getDateTimeOriginal(), "2004:01:31 12:00:00");
  // Longer than the field: cut to 19 characters and terminated, nothing written beyond.
  record.setDateTimeDigitized("2004:01:31 12:00:00 and far more text");
  EXPECT_STREQ(record.getDateTimeDigitized(), "2004:01:31 12:00:00");
  EXPECT_FALSE(record.getRelatedSoundFilePresent());
  record.setRelatedSoundFile("DSC00001.WAV");
  EXPECT_STREQ(record.getRelatedSoundFile(), "DSC00001.WAV");
  record.setRelatedSoundFile("DSC0000012345.WAV");
  EXPECT_STREQ(record.getRelatedSoundFile(), "DSC000001234");
  record.setRelatedSoundFile("A");
  EXPECT_STREQ(record.getRelatedSoundFile(), "A");
  EXPECT_EQ(record.getPixelXDimension(), 0u);  // the neighbour is untouched
}

TEST(ExImageInfoAudio, NthAudioBlockWritesNothingOutOfRange) {
  ExImageInfo record;
  const UInt8 sentinelByte = 0;
  const UInt8* data = &sentinelByte;
  UInt32 length = 77, offset = 88;
  record.getNthAudioBlock(0, &data, &length, &offset);
  EXPECT_EQ(data, &sentinelByte);
  EXPECT_EQ(length, 77u);
  EXPECT_EQ(offset, 88u);

  const UInt8 bytes[8] = {};
  record.addAudioSample(bytes + 2, 6, 1234);
  for (SInt32 index : {-1, 1, 2, INT32_MIN}) {
    record.getNthAudioBlock(index, &data, &length, &offset);
    EXPECT_EQ(data, &sentinelByte) << index;
    EXPECT_EQ(length, 77u) << index;
    EXPECT_EQ(offset, 88u) << index;
  }
  record.getNthAudioBlock(0, &data, &length, &offset);
  EXPECT_EQ(data, bytes + 2);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(offset, 1234u);
}

TEST(ExImageInfoAudio, HasAudioLooksOnlyAtTheSeconds) {
  ExImageInfo withBlocks;
  const UInt8 bytes[4] = {};
  withBlocks.addAudioSample(bytes, 4, 0);
  EXPECT_EQ(withBlocks.numAudioBlocks(), 1u);
  EXPECT_FALSE(withBlocks.hasAudio());

  ExImageInfo withSeconds;
  withSeconds.setAudioSeconds(3);
  EXPECT_TRUE(withSeconds.hasAudio());
  EXPECT_EQ(withSeconds.numAudioBlocks(), 0u);
}

// Run under the sanitizer build: a double free, a leak or a free of a view fails the test.
TEST(ExImageInfoAudio, SegmentCopiesAreFreedOnceAndBlocksNever) {
  auto record = std::make_unique<ExImageInfo>();
  UInt8* a = mallocCopy(std::string(100, 'a'));
  UInt8* b = mallocCopy(std::string(50, 'b'));
  record->addFlashPixData(a, 100);
  record->addFlashPixData(b, 50);
  record->addAudioSample(a + 41, 59, 0);
  record->addAudioSample(b + 13, 37, 59);
  record->addAudioSample(a, 10, 96);
  ASSERT_EQ(record->getFPDataArray().size(), 2u);
  EXPECT_EQ(record->getFPDataArray()[1], b);
  EXPECT_EQ(record->getFPLengthArray()[1], 50u);
  EXPECT_EQ(record->getAudioOffsetArray()[2], 96u);
  record.reset();
}

}  // namespace
