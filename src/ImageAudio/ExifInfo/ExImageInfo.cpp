// SPDX-License-Identifier: GPL-2.0-or-later
// The image information record's copying setters, its audio block access and its teardown.
// Owned strings and counted buffers live in malloc'd memory so that every owner frees alike.
#include "ImageAudio/ExifInfo/ExImageInfo.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

char* copyString(const char* text) {
  if (text == nullptr) return nullptr;
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

template <typename T>
T* copyCounted(const T* source, UInt16 count) {
  if (source == nullptr || count == 0) return nullptr;
  T* copy = static_cast<T*>(std::malloc(sizeof(T) * count));
  if (copy != nullptr) std::memcpy(copy, source, sizeof(T) * count);
  return copy;
}

// Too long a text is cut, never written past its field.
void copyText(char* field, size_t size, const char* text) {
  if (text == nullptr) text = "";
  size_t n = strnlen(text, size - 1);
  std::memcpy(field, text, n);
  field[n] = '\0';
}

// Grows geometrically, so that appending stays cheap.
template <typename T>
void makeRoom(std::vector<T>& list) {
  if (list.size() == list.capacity()) list.reserve(list.size() * 2 + 4);
}

template <typename T>
void freeAndClear(T*& p) {
  if (p != nullptr) {
    std::free(p);
    p = nullptr;
  }
}

}  // namespace

#define EXIF_ARRAY(member, ElemType, count, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  void ExImageInfo::setter(const ElemType* v) {                                              \
    if (v != nullptr) std::memcpy(member, v, sizeof(ElemType) * (count));                    \
  }
#define EXIF_TEXT(member, size, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  void ExImageInfo::setter(const char* text) { copyText(member, size, text); }
#define EXIF_STRING(member, setter, getter, name, tag, dir, ext) \
  void ExImageInfo::setter(const char* text) {        \
    freeAndClear(member);                             \
    member = copyString(text);                        \
  }
#define EXIF_COUNTED(countMember, bufferMember, ElemType, countSetter, countGetter, bufferSetter, \
                     bufferGetter, name, tag, dir, ext)                                                     \
  void ExImageInfo::bufferSetter(const ElemType* v) {                                             \
    freeAndClear(bufferMember);                                                                   \
    bufferMember = copyCounted(v, countMember);                                                   \
  }
#include "ImageAudio/ExifTags.def"

ExImageInfo::~ExImageInfo() {
#define EXIF_STRING(member, setter, getter, name, tag, dir, ext) freeAndClear(member);
#define EXIF_COUNTED(countMember, bufferMember, ElemType, countSetter, countGetter, bufferSetter, \
                     bufferGetter, name, tag, dir, ext)                                                     \
  freeAndClear(bufferMember);
#include "ImageAudio/ExifTags.def"
  // The audio blocks are views; only the segment copies are ours to free.
  mAudioData.clear();
  mAudioLength.clear();
  mAudioOffset.clear();
  for (std::size_t i = 0; i < mFPExtensionData.size(); ++i)
    if (i >= mFPExtensionOwned.size() || mFPExtensionOwned[i]) std::free(mFPExtensionData[i]);
  mFPExtensionData.clear();
  mFPExtensionLength.clear();
  mFPExtensionOwned.clear();
}

// Room is made in every list of a group before any is appended, so the lists stay parallel
// even when memory runs out; a segment that cannot be kept is freed, as it was handed over.
void ExImageInfo::addFlashPixData(UInt8* data, UInt32 length) {
  try {
    makeRoom(mFPExtensionData);
    makeRoom(mFPExtensionLength);
    makeRoom(mFPExtensionOwned);
  } catch (const std::bad_alloc&) {
    std::free(data);
    return;
  }
  mFPExtensionData.push_back(data);
  mFPExtensionLength.push_back(length);
  mFPExtensionOwned.push_back(true);
}

void ExImageInfo::addFlashPixView(const UInt8* data, UInt32 length) {
  try {
    makeRoom(mFPExtensionData);
    makeRoom(mFPExtensionLength);
    makeRoom(mFPExtensionOwned);
  } catch (const std::bad_alloc&) {
    return;
  }
  // Never written through: the list's element type is shared with the owned copies.
  mFPExtensionData.push_back(const_cast<UInt8*>(data));
  mFPExtensionLength.push_back(length);
  mFPExtensionOwned.push_back(false);
}

void ExImageInfo::addAudioSample(const UInt8* data, UInt32 length, UInt32 offset) {
  try {
    makeRoom(mAudioData);
    makeRoom(mAudioLength);
    makeRoom(mAudioOffset);
  } catch (const std::bad_alloc&) {
    return;
  }
  mAudioData.push_back(data);
  mAudioLength.push_back(length);
  mAudioOffset.push_back(offset);
}

void ExImageInfo::getNthAudioBlock(SInt32 index, const UInt8** data, UInt32* length, UInt32* offset) const {
  if (index < 0 || UInt32(index) >= numAudioBlocks()) return;
  if (data != nullptr) *data = mAudioData[size_t(index)];
  if (length != nullptr) *length = mAudioLength[size_t(index)];
  if (offset != nullptr) *offset = mAudioOffset[size_t(index)];
}
